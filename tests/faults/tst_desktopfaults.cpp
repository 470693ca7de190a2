#include "LinuxDesktopServices.h"
#include "RecordedRequests.h"
#include "SessionFixture.h"
#include "TestFiles.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
const QString notifications = QStringLiteral("org.freedesktop.Notifications");

// A D-Bus daemon of the test's own, with no service but those written into
// its service folder: the session bus of a desktop without a notification
// daemon. (The machine's session bus may start one on demand.)
class PrivateBus {
public:
    // `activatable`: a service file whose program is started on the first call and never answers.
    explicit PrivateBus(bool activatable) {
        const QString services = m_dir.filePath(QStringLiteral("services"));
        QDir().mkpath(services);
        if (activatable)
            writeFile(services + QStringLiteral("/silent.service"),
                      "[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/sleep 15\n");
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        writeFile(config, QStringLiteral(
                              "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                              "<auth>EXTERNAL</auth><servicedir>%2</servicedir>"
                              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                              "<allow eavesdrop=\"true\"/>"
                              "<allow own=\"*\"/></policy></busconfig>")
                              .arg(m_dir.path(), services)
                              .toUtf8());
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                        QStringLiteral("--config-file=") + config});
        if (!m_daemon.waitForReadyRead(10000))
            return;
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        m_connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, m_name));
    }
    ~PrivateBus() {
        m_connection.reset();
        QDBusConnection::disconnectFromBus(m_name);
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
    bool isConnected() const { return m_connection && m_connection->isConnected(); }
    QDBusConnection connection() const { return *m_connection; }

private:
    QTemporaryDir m_dir;
    QString m_name = QStringLiteral("zanvolt-private-bus");
    QProcess m_daemon;
    std::unique_ptr<QDBusConnection> m_connection;
};

// The longest the event loop went without running a timer, while it lives.
class StallMeter {
public:
    StallMeter() {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_clock.restart()); });
        m_timer.start(10);
    }
    qint64 longestMs() const { return std::max(m_longest, m_clock.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};
} // namespace

// The real desktop services of a Linux desktop that lacks a part: uploads go on as if it were there.
class TestDesktopFaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noNotificationServiceNeitherFailsNorHoldsAnUpload() {
        for (const bool activatable : {false, true}) {
            const char* what = activatable ? "a notification service that never answers" : "none";
            PrivateBus bus(activatable);
            QVERIFY2(bus.isConnected(), what);
            QVERIFY(!bus.connection().interface()->isServiceRegistered(notifications).value());
            QTemporaryDir autostart;
            LinuxDesktopServices desktop(bus.connection(), autostart.path());
            SessionFixture fixture(&desktop);
            Uploads* uploads = fixture.uploads;

            // Two uploads, as the client asks the bus again after a failed attempt.
            for (const QString& name : {QStringLiteral("eins.pdf"), QStringLiteral("zwei.pdf")}) {
                const QByteArray content = (name + QStringLiteral(" Inhalt")).toUtf8();
                StallMeter stalls;
                uploads->uploadFiles({fixture.file(name, content)}, std::nullopt, false);
                QTRY_VERIFY_WITH_TIMEOUT(!uploads->isUploading(), 30000);
                QVERIFY2(!uploads->error(), qPrintable(uploads->error().value_or(QString())));
                const TransferItem sent = fixture.sent->transfers().value(0);
                QCOMPARE(sent.fileName, name);
                // The link is copied all the same.
                QCOMPARE(QGuiApplication::clipboard()->text(), sent.downloadURL);
                const auto completed = requestsTo(fixture.server(), QStringLiteral("/api/upload-complete"));
                QVERIFY(!completed.isEmpty());
                QVERIFY(requestsTo(fixture.server(), QStringLiteral("/api/upload-chunk"))
                            .last()
                            .body.contains(content));
                // Let the notification's attempt run on the event loop for a while.
                QTest::qWait(1500);
                QVERIFY2(stalls.longestMs() < 2000, qPrintable(QString::number(stalls.longestMs())));
            }
            QCOMPARE(fixture.sent->transfers().size(), 2);
        }
    }
};

QTEST_MAIN(TestDesktopFaults)
#include "tst_desktopfaults.moc"
