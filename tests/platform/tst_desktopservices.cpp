#include "SessionFixture.h"
#include "TestFiles.h"
#include "WaitForTask.h"
#include "platform/Settings.h"
#include "platform/linux/LinuxDesktopServices.h"
#include "platform/linux/XdgAutostart.h"
#include "transfers/Uploads.h"
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>

// A notification server of our own on the session bus, reached over a
// connection of its own so calls and signals really cross the bus.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString body;
        QStringList actions;
        QVariantMap hints;
    };

    QStringList capabilities;
    QList<Call> calls;
    int capabilityQueries = 0;
    uint nextId = 40;

public Q_SLOTS:
    QStringList GetCapabilities() {
        ++capabilityQueries;
        return capabilities;
    }
    uint Notify(const QString&, uint, const QString&, const QString&, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int) {
        calls << Call{body, actions, hints};
        return ++nextId;
    }
    void CloseNotification(uint id) { Q_EMIT NotificationClosed(id, 3); }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);
};

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;

public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString&) { shown << uris; }
};

// Stands in for the desktop's URL opener (QDesktopServices::setUrlHandler).
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }
};

namespace {
const QString notificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");

// Owns a bus name on a separate connection for the lifetime of a test case.
class BusService {
public:
    BusService(const QString& name, const QString& path, QObject* object)
        : m_name(name), m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)) {
        m_registered =
            m_connection.registerObject(
                path, object, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
            m_connection.registerService(name);
    }
    ~BusService() {
        m_connection.unregisterService(m_name);
        QDBusConnection::disconnectFromBus(m_name);
    }
    bool registered() const { return m_registered; }

private:
    QString m_name;
    QDBusConnection m_connection;
    bool m_registered = false;
};

QString clipboardText() {
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard);
}

QString writeIni(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    return writeFile(dir.filePath(name), "[General]\n" + content).toLocalFile();
}

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
    QList<int> capabilities;
    std::vector<std::unique_ptr<StandInJobView>> views;

public Q_SLOTS:
    QDBusObjectPath requestView(const QString&, int capabilities, const QVariantMap&) {
        this->capabilities << capabilities;
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

// The desktop services on the session bus, and the real ones on a desktop that lacks a part:
// uploads go on as if it were there.
class TestDesktopServices : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_configHome;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        // Before the first QSettings use, so the defaults land here too.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    }

    void notificationArgumentsAndClicks() {
        FakeNotificationServer server;
        server.capabilities = {QStringLiteral("body"), QStringLiteral("actions")};
        BusService bus(notificationsService, QStringLiteral("/org/freedesktop/Notifications"), &server);
        LinuxDesktopServices desktop;

        const QString urlA = QStringLiteral("https://files.example/d/AAA");
        const QString urlC = QStringLiteral("https://files.example/d/CCC");
        desktop.postNotification(QStringLiteral("Upload abgeschlossen"),
                                 QStringLiteral("Klicken um Link zu kopieren"), urlA);
        QTRY_COMPARE(server.calls.size(), 1);
        desktop.postNotification(QStringLiteral("Download abgeschlossen"), QStringLiteral("a<b & c.pdf"),
                                 std::nullopt);
        QTRY_COMPARE(server.calls.size(), 2);
        desktop.postNotification(QStringLiteral("Upload abgeschlossen"), QStringLiteral("Link kopiert"),
                                 urlC);
        desktop.postFailureNotification(QStringLiteral("Upload fehlgeschlagen"), QStringLiteral("x"));
        QTRY_COMPARE(server.calls.size(), 4);
        QCOMPARE(server.calls[3].hints.value(QStringLiteral("category")).toString(),
                 QStringLiteral("transfer.error"));
        QCOMPARE(server.capabilityQueries, 1);
        QCOMPARE(server.calls[0].hints.value(QStringLiteral("category")).toString(),
                 QStringLiteral("transfer.complete"));
        QCOMPARE(server.calls[0].actions.value(3), QStringLiteral("Link kopieren"));
        QVERIFY(server.calls[1].actions.isEmpty());
        QCOMPARE(server.calls[1].body, QStringLiteral("a<b & c.pdf")); // no markup capability: sent as is

        const uint idA = 41, idB = 42, idC = 43;
        QGuiApplication::clipboard()->setText(QStringLiteral("vorher"));
        QSignalSpy changes(QGuiApplication::clipboard(), &QClipboard::dataChanged);
        Q_EMIT server.ActionInvoked(idB, QStringLiteral("default")); // carries no URL
        Q_EMIT server.ActionInvoked(idA, QStringLiteral("default"));
        QTRY_COMPARE(clipboardText(), urlA);
        QCOMPARE(changes.size(), 1);

        Q_EMIT server.ActionInvoked(idC, QStringLiteral("COPY_LINK"));
        QTRY_COMPARE(clipboardText(), urlC);
        Q_EMIT server.ActionInvoked(idA, QStringLiteral("COPY_LINK")); // clicked once more
        QTRY_COMPARE(clipboardText(), urlA);

        // Closed notifications are forgotten; the later click is the barrier.
        Q_EMIT server.NotificationClosed(idA, 2);
        Q_EMIT server.ActionInvoked(idA, QStringLiteral("default"));
        Q_EMIT server.ActionInvoked(idC, QStringLiteral("default"));
        QTRY_COMPARE(clipboardText(), urlC);
        QCOMPARE(changes.size(), 4);
    }

    // A copy without X input of ours (an accessibility action, a notification's button) right
    // after another client took the clipboard, before its X event reached us: the server takes it
    // only with a fresh time; a copy it refused is never reported as done.
    void aCopyRightAfterAnotherClientTookTheClipboardTakesIt() {
        if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
            // Again in a process of its own on an X server.
            QProcess child;
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QStringLiteral("xvfb-run"),
                        {QStringLiteral("-a"), QCoreApplication::applicationFilePath(),
                         QStringLiteral("-platform"), QStringLiteral("xcb"),
                         QString::fromLatin1(QTest::currentTestFunction())});
            QVERIFY(child.waitForFinished(120000));
            QVERIFY2(child.exitCode() == 0, child.readAll().constData());
            return;
        }
        QWindow window; // its properties give Qt a time of the server's
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto xclip = [](const QStringList& arguments, const QByteArray& input = {}) {
            QProcess process;
            process.start(QStringLiteral("xclip"),
                          QStringList{QStringLiteral("-selection"), QStringLiteral("clipboard")} + arguments);
            process.write(input);
            process.closeWriteChannel();
            process.waitForFinished();
            return process.readAllStandardOutput();
        };
        xclip({QStringLiteral("-i")}, "fremd");
        for (int i = 0; i < 100 && xclip({QStringLiteral("-o")}) != "fremd"; ++i)
            QThread::msleep(20); // no event handling meanwhile: its time must not reach us
        QCOMPARE(xclip({QStringLiteral("-o")}), QByteArray("fremd"));
        LinuxDesktopServices desktop;
        QVERIFY(desktop.copyText(QStringLiteral("https://files.example/d/AAA")));
        // Asked from outside, which this process answers from its event loop.
        QProcess paste;
        paste.start(QStringLiteral("xclip"),
                    {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
        QTRY_COMPARE(paste.state(), QProcess::NotRunning);
        QCOMPARE(paste.readAllStandardOutput(), QByteArray("https://files.example/d/AAA"));
    }

    void notificationWithoutServerFailsQuietlyAndALaterOneIsUsed() {
        // Without a server (that it never holds the event loop is checked with an upload below).
        LinuxDesktopServices desktop;
        desktop.postNotification(QStringLiteral("Upload fehlgeschlagen"),
                                 QStringLiteral("Netzwerk-Fehler: x"), std::nullopt);
        QTest::qWait(300); // lets the failed GetCapabilities come back

        // The failure was not cached: the later server is asked what it can. Without "actions" it
        // gets none, and with "body-markup" the body is escaped.
        FakeNotificationServer server;
        server.capabilities = {QStringLiteral("body"), QStringLiteral("body-markup")};
        BusService bus(notificationsService, QStringLiteral("/org/freedesktop/Notifications"), &server);
        desktop.postNotification(QStringLiteral("Download abgeschlossen"),
                                 QStringLiteral("2 Datei(en) von Müller & <Co> heruntergeladen"),
                                 QStringLiteral("https://files.example/d/XYZ"));
        QTRY_COMPARE(server.calls.size(), 1);
        QVERIFY(server.calls[0].actions.isEmpty());
        QCOMPARE(server.calls[0].body,
                 QStringLiteral("2 Datei(en) von Müller &amp; &lt;Co&gt; heruntergeladen"));
    }

    void loginItemAsAutostartEntry() {
        QTemporaryDir root;
        const QString folder = root.filePath(QStringLiteral("config/autostart"));
        LinuxDesktopServices desktop(QDBusConnection::sessionBus(), folder);
        const QString entry = folder + QStringLiteral("/com.zanvolt.Zanvolt.desktop");
        QVERIFY(!desktop.isLoginItemEnabled());
        desktop.unregisterLoginItem(); // nothing there: no failure

        desktop.registerLoginItem();
        QVERIFY(desktop.isLoginItemEnabled());
        QVERIFY(readAll(entry).contains(
            "\nExec=" + QFile::encodeName(QCoreApplication::applicationFilePath()) + '\n'));

        // A desktop's "don't start" switch turns the status off.
        for (const QByteArray& off :
             {QByteArray("Hidden=true\n"), QByteArray("X-GNOME-Autostart-enabled=false\n")}) {
            writeFile(entry, readAll(entry) + off);
            QVERIFY2(!desktop.isLoginItemEnabled(), off.constData());
            desktop.registerLoginItem(); // writes a fresh entry
            QVERIFY(desktop.isLoginItemEnabled());
        }

        desktop.unregisterLoginItem();
        QVERIFY(!QFile::exists(entry));

        // A regular file where the folder should be: mkpath fails.
        const QString blocked = root.filePath(QStringLiteral("not-a-folder"));
        writeFile(blocked, {});
        LinuxDesktopServices broken(QDBusConnection::sessionBus(), blocked);
        QCOMPARE(failureOf([&] { broken.registerLoginItem(); }),
                 QStringLiteral("Autostart-Eintrag konnte nicht geschrieben werden: Ordner „%1“ kann nicht "
                                "angelegt werden")
                     .arg(blocked));

        // The program's path as an Exec value, quoted where needed: the quoting rule first ("$" gets a
        // backslash), then string escaping doubles it; "%" is doubled.
        QCOMPARE(XdgAutostart::execValue(QStringLiteral("/opt/Meine Apps/zan$volt%1")),
                 QStringLiteral("\"/opt/Meine Apps/zan\\\\$volt%%1\""));
        QCOMPARE(XdgAutostart::execValue(QStringLiteral("/a\\b")), QStringLiteral("\"/a\\\\\\\\b\""));
    }

    void revealUsesFileManagerThenFolder() {
        FakeFileManager fileManager;
        UrlRecorder opener;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "open");
        LinuxDesktopServices desktop;
        const QString file = QStringLiteral("/tmp/Eingang/Bericht für Müller #1.pdf");
        {
            BusService bus(fileManagerService, QStringLiteral("/org/freedesktop/FileManager1"), &fileManager);
            desktop.revealInFileViewer(file);
            QTRY_COMPARE(fileManager.shown.size(), 1);
            QCOMPARE(fileManager.shown[0],
                     QStringList{
                         QStringLiteral("file:///tmp/Eingang/Bericht%20f%C3%BCr%20M%C3%BCller%20%231.pdf")});
        }
        desktop.revealInFileViewer(file);
        QTRY_COMPARE(opener.opened.size(), 1);
        QCOMPARE(opener.opened[0], QUrl::fromLocalFile(QStringLiteral("/tmp/Eingang")));
        QCOMPARE(fileManager.shown.size(), 1);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }

    void userDefaultsMissingValueRules() {
        using Key = Settings::UpdaterKey;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("fresh.conf"));
        // (Panel size and link switch read back: tst_shell and tst_settings.)
        Settings fresh(path);
        QCOMPARE(fresh.updaterFlag(Key::enableAutomaticChecks), std::nullopt);
        fresh.setUpdaterFlag(Key::enableAutomaticChecks, false);
        fresh.setUpdaterFlag(Key::automaticallyUpdate, true);
        const Settings reread(path);
        QCOMPARE(reread.updaterFlag(Key::enableAutomaticChecks), false);
        QCOMPARE(reread.updaterFlag(Key::automaticallyUpdate), true);

        // Hand-edited or foreign values: each size falls back on its own, below its minimum too.
        const QList<std::pair<QByteArray, QSize>> sizes = {
            {"", {380, 560}},
            {"popoverWidth=320\npopoverHeight=399", {320, 560}},
            {"popoverWidth=wide\npopoverHeight=650.4", {380, 650}}};
        for (const auto& [ini, size] : sizes) {
            const Settings stored(writeIni(dir, "size-" + ini.toHex() + ".conf", ini));
            QCOMPARE(QSize(stored.panelWidth(), stored.panelHeight()), size);
        }
        // Only "true" and "false" are Booleans.
        for (const QByteArray notBoolean : {"0", "no", "FALSE", "garbage", "\"\""}) {
            const Settings stored(
                writeIni(dir, "odd-" + notBoolean.toHex() + ".conf",
                         "autoCopyLink=" + notBoolean + "\nSUAutomaticallyUpdate=" + notBoolean + "\n"));
            QVERIFY2(stored.autoCopyLink(), notBoolean.constData());
            QVERIFY(stored.contains(Key::automaticallyUpdate));
            QCOMPARE(stored.updaterFlag(Key::automaticallyUpdate), std::nullopt);
        }
    }

    void noNotificationServiceNeitherFailsNorHoldsAnUpload() {
        for (const bool activatable : {false, true}) {
            const char* what = activatable ? "a notification service that never answers" : "none";
            PrivateBus bus(activatable);
            QVERIFY2(bus.isConnected(), what);
            QTemporaryDir autostart;
            LinuxDesktopServices desktop(bus.connection(), autostart.path());
            SessionFixture fixture(&desktop);
            Uploads* uploads = fixture.uploads;

            // Two uploads, as the client asks the bus again after a failed attempt.
            for (const QString& name : {QStringLiteral("eins.pdf"), QStringLiteral("zwei.pdf")}) {
                StallMeter stalls;
                uploads->uploadFiles({fixture.file(name, "Inhalt")}, std::nullopt, false);
                QTRY_VERIFY_WITH_TIMEOUT(!uploads->isUploading(), 30000);
                QVERIFY2(!uploads->error(), qPrintable(uploads->error().value_or(QString())));
                const TransferItem sent = fixture.sent->transfers().value(0);
                QCOMPARE(sent.fileName, name);
                // The link is copied all the same.
                QCOMPARE(QGuiApplication::clipboard()->text(), sent.downloadURL);
                // Let the notification's attempt run on the event loop for a while.
                QTest::qWait(1500);
                QVERIFY2(stalls.longestMs() < 2000, qPrintable(QString::number(stalls.longestMs())));
            }
        }
    }

    void progressGoesWhereTheDesktopShowsItAndCancels() {
        QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("desktop"));
        QVERIFY(bus.isConnected());
        LauncherListener dock;
        QVERIFY(dock.listenOn(bus));
        QTemporaryDir autostart;
        LinuxDesktopServices desktop(QDBusConnection::sessionBus(), autostart.path());
        SessionFixture fixture(&desktop);
        Uploads& uploads = *fixture.uploads;
        QSignalSpy finished(&uploads, &Uploads::uploadFinished);
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

        uploads.uploadFiles({fixture.file("gross.bin", QByteArray(12 << 20, 'z'))}, std::nullopt, false);
        QVERIFY(finished.wait(60000));
        QTRY_VERIFY(tracker.views.size() == 1 && tracker.views[0]->terminated);
        QCOMPARE(tracker.capabilities, QList<int>{1}); // cancellable
        StandInJobView& done = *tracker.views[0];
        QCOMPARE(*done.terminated, (std::pair<uint, QString>{0, QString()}));
        QCOMPARE(done.updates.last().value("percent").toUInt(), 100u);
        uint previous = 0;
        for (const QVariantMap& update : std::as_const(done.updates)) {
            QVERIFY(update.value("percent").toUInt() >= previous);
            previous = update.value("percent").toUInt();
        }
        QTRY_VERIFY(!dock.updates.isEmpty() &&
                    !dock.updates.last().second.value("progress-visible").toBool());
        QCOMPARE(dock.updates.first().second.value("progress-visible"), QVariant(true));
        QVERIFY(std::any_of(dock.updates.begin(), dock.updates.end(), [](const auto& update) {
            return update.second.value("progress").toDouble() > 0.5;
        }));

        // An upload waiting through an outage is suspended there, and the tracker's cancel button is
        // the panel's "Upload abbrechen".
        fixture.server().outage(30000);
        uploads.uploadFiles({fixture.file("abbrechen.bin", "z")}, std::nullopt, false);
        QTRY_COMPARE(tracker.views.size(), size_t(2));
        StandInJobView& cancelled = *tracker.views[1];
        QTRY_VERIFY_WITH_TIMEOUT(
            !cancelled.updates.isEmpty() && cancelled.updates.last().value("suspended").toBool(), 10000);
        // The view exists before the client has its path and listens: press until it does.
        for (int i = 0; i < 100 && finished.size() == 1; ++i) {
            Q_EMIT cancelled.cancelRequested();
            finished.wait(100);
        }
        QCOMPARE(finished.size(), 2);
        QCOMPARE(finished.last().at(1).value<UploadJob::Result>().outcome,
                 UploadJob::Result::Outcome::Cancelled);
        QCOMPARE(uploads.error(), std::optional<QString>(QStringLiteral("Upload abgebrochen")));
        QTRY_VERIFY(cancelled.terminated.has_value());
        QCOMPARE(*cancelled.terminated, (std::pair<uint, QString>{1, QStringLiteral("Upload abgebrochen")}));
    }
};

QTEST_MAIN(TestDesktopServices)
#include "tst_desktopservices.moc"
