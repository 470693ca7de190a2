#include "LinuxDesktopServices.h"
#include "SentTransfers.h"
#include "ServerAccount.h"
#include "Settings.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "Uploads.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// Stand-ins for Plasma's job tracker and a dock, on a bus connection of their own, so every call
// and signal really crosses the session bus.
class StandInJobView : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.JobViewV3")
public:
    QList<QVariantMap> updates;
    std::optional<std::pair<uint, QString>> terminated;

public Q_SLOTS:
    void update(const QVariantMap& properties) { updates << properties; }
    void terminate(uint errorCode, const QString& errorMessage, const QVariantMap&) {
        terminated = std::pair{errorCode, errorMessage};
    }

Q_SIGNALS:
    void cancelRequested();
    void suspendRequested();
    void resumeRequested();
};

class StandInJobViewServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.JobViewServerV2")
public:
    explicit StandInJobViewServer(QDBusConnection bus) : m_bus(std::move(bus)) {}
    struct Request {
        QString desktopEntry;
        int capabilities;
        QVariantMap hints;
    };
    QList<Request> requests;
    std::vector<std::unique_ptr<StandInJobView>> views;

public Q_SLOTS:
    QDBusObjectPath requestView(const QString& desktopEntry, int capabilities, const QVariantMap& hints) {
        requests << Request{desktopEntry, capabilities, hints};
        const QString path = QStringLiteral("/JobViewServer/JobView_%1").arg(views.size() + 1);
        views.push_back(std::make_unique<StandInJobView>());
        m_bus.registerObject(path, views.back().get(),
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection m_bus;
};

class LauncherListener : public QObject {
    Q_OBJECT
public:
    QList<std::pair<QString, QVariantMap>> updates;
    bool listenOn(QDBusConnection bus) {
        return bus.connect({}, QStringLiteral("/com/zanvolt/Zanvolt/LauncherEntry"),
                           QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"),
                           this, SLOT(onUpdate(QString, QVariantMap)));
    }
public Q_SLOTS:
    void onUpdate(const QString& appURI, const QVariantMap& properties) {
        updates << std::pair{appURI, properties};
    }
};

namespace {
struct Client {
    explicit Client(const QTemporaryDir& dir)
        : settings(dir.filePath(QStringLiteral("settings.ini"))),
          desktop(QDBusConnection::sessionBus(), dir.filePath(QStringLiteral("autostart"))),
          account(nullptr, &settings, &desktop),
          sent(&account, dir.filePath(QStringLiteral("history")), &desktop),
          uploads(&account, &sent, &desktop) {}
    Settings settings;
    LinuxDesktopServices desktop;
    ServerAccount account;
    SentTransfers sent;
    Uploads uploads;
};
} // namespace

class TestDesktopProgress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void progressGoesWhereTheDesktopShowsItAndCancels() {
        QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("desktop"));
        QVERIFY(bus.isConnected());
        LauncherListener dock;
        QVERIFY(dock.listenOn(bus));
        TestServerFixture fixture;
        QTemporaryDir dir;
        Client client(dir);
        QSignalSpy finished(&client.uploads, &Uploads::uploadFinished);

        // Where the desktop offers no progress, the upload goes on and nothing is sent.
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.kde.JobViewServer")));
        client.uploads.uploadFiles({writeFile(dir.filePath("klein.bin"), "z")}, std::nullopt, false);
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.last().at(1).value<UploadJob::Result>().outcome,
                 UploadJob::Result::Outcome::Succeeded);
        QTest::qWait(200); // a signal sent in error would have arrived by now
        QVERIFY(dock.updates.isEmpty());

        StandInJobViewServer tracker(bus);
        QVERIFY(
            bus.registerObject(QStringLiteral("/JobViewServer"), &tracker, QDBusConnection::ExportAllSlots));
        // Also when a check fails: no other test may meet these names on the shared bus.
        const auto leave = qScopeGuard([&bus] {
            bus.unregisterService(QStringLiteral("org.kde.JobViewServer"));
            bus.unregisterService(QStringLiteral("com.canonical.Unity"));
            QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
        });
        QVERIFY(bus.registerService(QStringLiteral("org.kde.JobViewServer")));
        QVERIFY(bus.registerService(QStringLiteral("com.canonical.Unity")));

        client.uploads.uploadFiles({writeFile(dir.filePath("gross.bin"), QByteArray(12 << 20, 'z'))},
                                   std::nullopt, false);
        QVERIFY(finished.wait(60000));
        QTRY_VERIFY(tracker.views.size() == 1 && tracker.views[0]->terminated);
        QCOMPARE(tracker.requests.first().desktopEntry, QStringLiteral("com.zanvolt.Zanvolt"));
        QCOMPARE(tracker.requests.first().capabilities, 1); // cancellable
        StandInJobView& done = *tracker.views[0];
        QCOMPARE(*done.terminated, (std::pair<uint, QString>{0, QString()}));
        QVERIFY(!done.updates.isEmpty());
        QCOMPARE(done.updates.last().value("percent").toUInt(), 100u);
        uint previous = 0;
        for (const QVariantMap& update : std::as_const(done.updates)) {
            QVERIFY(update.value("percent").toUInt() >= previous);
            previous = update.value("percent").toUInt();
            QVERIFY(update.contains("speed"));
        }
        QTRY_VERIFY(!dock.updates.isEmpty() &&
                    !dock.updates.last().second.value("progress-visible").toBool());
        QCOMPARE(dock.updates.first().first, QStringLiteral("application://com.zanvolt.Zanvolt.desktop"));
        QCOMPARE(dock.updates.first().second.value("progress-visible"), QVariant(true));
        QVERIFY(std::any_of(dock.updates.begin(), dock.updates.end(), [](const auto& update) {
            return update.second.value("progress").toDouble() > 0.5;
        }));

        // The tracker's cancel button is the panel's "Upload abbrechen".
        fixture.server().delayNext(QStringLiteral("/api/upload-chunk"), 1, 10000);
        client.uploads.uploadFiles({writeFile(dir.filePath("abbrechen.bin"), "z")}, std::nullopt, false);
        QTRY_COMPARE(tracker.views.size(), size_t(2));
        StandInJobView& cancelled = *tracker.views[1];
        // The view exists before the client has its path and listens: press until it does.
        for (int i = 0; i < 100 && finished.size() == 2; ++i) {
            Q_EMIT cancelled.cancelRequested();
            finished.wait(100);
        }
        QCOMPARE(finished.size(), 3);
        QCOMPARE(finished.last().at(1).value<UploadJob::Result>().outcome,
                 UploadJob::Result::Outcome::Cancelled);
        QCOMPARE(client.uploads.error(), std::optional<QString>(QStringLiteral("Upload abgebrochen")));
        QTRY_VERIFY(cancelled.terminated.has_value());
        QCOMPARE(*cancelled.terminated, (std::pair<uint, QString>{1, QStringLiteral("Upload abgebrochen")}));
    }
};

QTEST_MAIN(TestDesktopProgress)
#include "tst_desktopprogress.moc"
