#include "DevServer.h"
#include "FakeUpdaterBackend.h"
#include "FeedXml.h"
#include "RecordedRequests.h"
#include "TestFiles.h"
#include "models/UpdaterError.h"
#include "platform/Settings.h"
#include "services/FeedUpdaterBackend.h"
#include "services/PrivateTempDir.h"
#include "services/UpdaterFeed.h"
#include "services/UpdaterUserDriver.h"
#include "transfers/UpdaterManager.h"

#include <QCoroTask>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// An Ed25519 key pair made for the test, signing the way the release tooling does.
class SigningKey {
public:
    QByteArray publicKeyBase64() const {
        QByteArray key(32, Qt::Uninitialized);
        size_t size = key.size();
        EVP_PKEY_get_raw_public_key(m_key.get(), reinterpret_cast<unsigned char*>(key.data()), &size);
        return key.left(qsizetype(size)).toBase64();
    }
    QByteArray signBase64(const QByteArray& data) const {
        QByteArray signature(64, Qt::Uninitialized);
        size_t size = signature.size();
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        EVP_DigestSignInit(context, nullptr, nullptr, nullptr, m_key.get());
        EVP_DigestSign(context, reinterpret_cast<unsigned char*>(signature.data()), &size,
                       reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size()));
        EVP_MD_CTX_free(context);
        return signature.left(qsizetype(size)).toBase64();
    }
    QByteArray signRelease(const QString& version, const QByteArray& file) const {
        return signBase64(releaseMessage(version, file));
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key{EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                                                              &EVP_PKEY_free};
};

ino_t inode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

QStringList leftoverDownloads() {
    return QDir(PrivateTempDir::path()).entryList({QStringLiteral("update-*")}, QDir::Files | QDir::Hidden);
}

// Records every dialog and how many announcements preceded it.
class RecordingDriver : public UpdaterUserDriver {
public:
    struct Shown {
        QString kind, text, informative;
        int announcementsBefore;
    };
    QList<Shown> shown;
    bool install = true;
    int progressReports = 0;
    int announcements = 0; // updateDialogWillShow so far

    QCoro::Task<bool> ask(QString text, QString informative, QString accept, QString reject) override {
        shown.append({QStringLiteral("ask %1/%2").arg(accept, reject), text, informative, announcements});
        co_return install;
    }
    QCoro::Task<> inform(QString text, QString informative) override {
        shown.append({QStringLiteral("inform"), text, informative, announcements});
        co_return;
    }
    void showProgress(QString, qint64, qint64, QPointer<CancelToken>) override { ++progressReports; }
    void hideProgress() override {}
};

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<DevServer> m_server;
    QString m_feedDir, m_programDir, m_program;
    int m_runs = 0;
    std::unique_ptr<Settings> m_defaults;
    SigningKey m_key;
    const QByteArray m_newProgram = QByteArray("#!/bin/sh\necho zanvolt 2.0.0\n").repeated(4000);

    QString updateURL(const QString& name) const {
        return m_server->baseURL() + QStringLiteral("/updates/") + name;
    }
    FeedUpdaterBackend::Options options(QStringList* relaunched) const {
        FeedUpdaterBackend::Options o;
        o.feedURL = updateURL(QStringLiteral("feed.xml"));
        o.publicKey = m_key.publicKeyBase64();
        o.currentVersion = QStringLiteral("1.2.0");
        o.programFile = m_program;
        o.defaults = m_defaults.get();
        o.relaunch = [relaunched](QString program) { relaunched->append(program); };
        o.firstCheckDelay = 1h;
        return o;
    }
    // The new program on the feed server, and a feed that lists the releases.
    void publish(const QList<FeedEntry>& releases) {
        writeFile(m_feedDir + QStringLiteral("/zanvolt-2.0.0"), m_newProgram);
        writeFile(m_feedDir + QStringLiteral("/feed.xml"), feedXml(releases));
    }
    FeedEntry release() const {
        return {"2.0.0", updateURL("zanvolt-2.0.0"), m_newProgram.size(),
                m_key.signRelease("2.0.0", m_newProgram)};
    }
    QStringList updateRequests() const { return requestLines(*m_server, QStringLiteral("/updates/")); }

    // A manager over the real feed backend, with a recording driver that counts announcements.
    struct Client {
        std::unique_ptr<UpdaterManager> manager;
        FeedUpdaterBackend* backend = nullptr;
        std::unique_ptr<RecordingDriver> driver = std::make_unique<RecordingDriver>();
        QStringList relaunched;
    };
    std::unique_ptr<Client> client() {
        auto c = std::make_unique<Client>();
        auto backend = std::make_unique<FeedUpdaterBackend>(options(&c->relaunched));
        c->backend = backend.get();
        c->manager = std::make_unique<UpdaterManager>(
            UpdaterManager::Environment{std::move(backend), m_defaults.get()});
        c->backend->setUserDriver(c->driver.get());
        QObject::connect(c->manager.get(), &UpdaterManager::updateDialogWillShow,
                         [driver = c->driver.get()] { ++driver->announcements; });
        return c;
    }

private Q_SLOTS:
    void init() {
        const QString run = QString::number(++m_runs); // each row its own folders and settings
        m_feedDir = m_dir.filePath(QStringLiteral("feed-") + run);
        m_programDir = m_dir.filePath(QStringLiteral("bin-") + run);
        QDir().mkpath(m_feedDir);
        QDir().mkpath(m_programDir);
        m_program = m_programDir + QStringLiteral("/zanvolt");
        writeFile(m_program, QByteArrayLiteral("#!/bin/sh\necho zanvolt 1.2.0\n"));
        QFile::setPermissions(m_program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                             QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                             QFile::ExeOther);
        m_defaults = std::make_unique<Settings>(m_dir.filePath(QStringLiteral("settings-%1.ini").arg(run)));
        DevServer::Options serverOptions;
        serverOptions.plainHttp = true;
        m_server = std::make_unique<DevServer>(serverOptions);
        QVERIFY(m_server->start());
        m_server->setUpdateFeedDirectory(m_feedDir);
    }
    void cleanup() { m_server.reset(); }

    void defaultsKeysOnFirstAndLaterCreation() {
        using Key = Settings::UpdaterKey;
        FeedUpdaterBackend::Options unconfigured;
        unconfigured.feedURL.clear();
        unconfigured.defaults = m_defaults.get();
        {
            UpdaterManager first({std::make_unique<FeedUpdaterBackend>(unconfigured), m_defaults.get()});
            QCOMPARE(m_defaults->updaterFlag(Key::enableAutomaticChecks), std::optional<bool>(true));
            QVERIFY(first.autoUpdateEnabled());
            // No feed configured: nothing can be checked, from the very start, and the settings say why.
            QVERIFY(!first.canCheckForUpdates());
            QCOMPARE(first.unavailableReason(), QStringLiteral("Keine Update-Quelle eingerichtet."));
            first.setAutoUpdateEnabled(false);
            QCOMPARE(m_defaults->updaterFlag(Key::enableAutomaticChecks), std::optional<bool>(false));
        }
        m_defaults->setUpdaterFlag(Key::automaticallyUpdate, true);
        UpdaterManager later({std::make_unique<FeedUpdaterBackend>(unconfigured), m_defaults.get()});
        QCOMPARE(m_defaults->updaterFlag(Key::enableAutomaticChecks), std::optional<bool>(false));
        QCOMPARE(m_defaults->updaterFlag(Key::automaticallyUpdate), std::optional<bool>(false));
        QVERIFY(!later.autoUpdateEnabled());
    }

    void dailyCheckRunsOnlyWhenSwitchedOnAndPossible() {
        auto owned = std::make_unique<FakeUpdaterBackend>();
        FakeUpdaterBackend* backend = owned.get();
        backend->reportedInterval = 20ms;
        m_defaults->setUpdaterFlag(Settings::UpdaterKey::enableAutomaticChecks, false);
        UpdaterManager manager({std::move(owned), m_defaults.get()});

        // The daily timer checks only with automatic checks on and while a check may start.
        QTest::qWait(200); // about ten ticks of the interval the backend reports
        QCOMPARE(backend->backgroundChecks, 0);
        manager.setAutoUpdateEnabled(true);
        backend->canCheck = false;
        QTest::qWait(100);
        QCOMPARE(backend->backgroundChecks, 0);
        backend->canCheck = true;
        QTRY_VERIFY(backend->backgroundChecks >= 2);
    }

    void feedFormsAndVersionOrder() {
        QCOMPARE(UpdaterFeed::compareVersions(QStringLiteral("1.2"), QStringLiteral("1.2.0")), 0);
        // Pairs, older first; a pre-release comes before its release, never equal to it.
        const QStringList ordered{"1.9",         "1.10",         "2",         "10.0",
                                  "1.1.0-beta1", "1.1",          "1.1.0-rc1", "1.1.0",
                                  "1.1.0-beta9", "1.1.0-beta10", "1.0.9",     "1.1.0-beta1"};
        for (qsizetype i = 0; i < ordered.size(); i += 2)
            QVERIFY2(UpdaterFeed::compareVersions(ordered[i], ordered[i + 1]) < 0 &&
                         UpdaterFeed::compareVersions(ordered[i + 1], ordered[i]) > 0,
                     qPrintable(ordered[i]));

        const QUrl feed(QStringLiteral("https://updates.example.com/zanvolt/feed.xml"));
        const auto items =
            UpdaterFeed::parse(feedXml({{"1.9.0", "zanvolt-1.9", 10, "c2ln", false},
                                        {"1.10.0", "zanvolt-1.10", 11, "c2ln", true},
                                        {"", "zanvolt-x", 12, "c2ln", false},
                                        {"9.0.0", "file:///usr/bin/zanvolt", 13, "c2ln", false},
                                        {"9.1.0", "http://updates.example.com/z", 13, "c2ln", false}}),
                               feed);
        QCOMPARE(items.size(), 2); // no version, a download that is no https link: no update
        const auto newest = UpdaterFeed::newestUpdate(items, QStringLiteral("1.2"));
        QVERIFY(newest);
        QCOMPARE(newest->version, QStringLiteral("1.10.0"));
        // Relative to the feed; length, signature and notes are relied on by the update runs below.
        QCOMPARE(newest->downloadURL.toString(),
                 QStringLiteral("https://updates.example.com/zanvolt/zanvolt-1.10"));
        QVERIFY(!UpdaterFeed::newestUpdate(items, QStringLiteral("1.10")));
        QVERIFY_THROWS_EXCEPTION(UpdaterError, UpdaterFeed::parse("<rss><channel><item>", feed));
        // A feed on plain http (anyone on the way could answer it) is no update source.
        FeedUpdaterBackend::Options http = options(nullptr);
        http.feedURL = QStringLiteral("http://updates.example.com/feed.xml");
        QVERIFY(!FeedUpdaterBackend(http).canCheckForUpdates());
    }

    void goodUpdateReplacesTheProgramAtomically_data() {
        QTest::addColumn<bool>("atQuit");
        QTest::newRow("idle") << false;
        // The user quits while the upload still runs: the update is in place for the next start.
        QTest::newRow("quit while busy") << true;
    }

    void goodUpdateReplacesTheProgramAtomically() {
        QFETCH(bool, atQuit);
        const QByteArray signature = m_key.signRelease("2.0.0", m_newProgram);
        publish({{"1.1.0", updateURL("zanvolt-1.1.0"), 5, signature},
                 release(),
                 {"1.5.0", updateURL("zanvolt-1.5.0"), 5, signature, true}});
        const QByteArray oldProgram = readAll(m_program);
        const ino_t oldInode = inode(m_program);
        const auto oldPermissions = QFile::permissions(m_program);

        auto c = client();
        bool busy = true;
        c->manager->setIsBusyCheck([&] { return busy; });
        QSignalSpy canCheck(c->backend, &UpdaterBackend::canCheckForUpdatesChanged);
        QCoro::waitFor(c->backend->runCheck(false));

        QCOMPARE(c->driver->shown.size(), 1);
        QCOMPARE(c->driver->shown[0].kind, QStringLiteral("ask Installieren/Später"));
        QCOMPARE(c->driver->shown[0].text, QStringLiteral("Zanvolt 2.0.0 ist verfügbar."));
        QVERIFY(c->driver->shown[0].informative.startsWith(QStringLiteral("Installiert ist Version 1.2.0.")));
        QVERIFY(c->driver->shown[0].informative.contains(updateURL("notes/2.0.0.html")));
        QVERIFY(c->driver->shown[0].announcementsBefore >= 1);
        QVERIFY(c->driver->progressReports >= 1);
        QCOMPARE(updateRequests(), (QStringList{"GET /updates/feed.xml", "GET /updates/zanvolt-2.0.0"}));
        QCOMPARE(canCheck.size(), 2); // false while the check ran, true again

        // Busy: staged beside the program, but the program is untouched.
        QCoreApplication::processEvents();
        QVERIFY(c->relaunched.isEmpty());
        QCOMPARE(readAll(m_program), oldProgram);
        QVERIFY(c->manager->hasPendingInstall());

        if (atQuit) {
            QVERIFY(QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit"));
            QVERIFY(c->relaunched.isEmpty());
        } else {
            busy = false;
            c->manager->attemptPendingInstall();
            QTRY_COMPARE(c->relaunched, QStringList{m_program});
        }
        QCOMPARE(readAll(m_program), m_newProgram);
        QVERIFY(inode(m_program) != oldInode); // renamed over it, not rewritten in place
        QCOMPARE(QFile::permissions(m_program), oldPermissions);
        QCOMPARE(QDir(m_programDir).entryList(QDir::Files | QDir::Hidden), QStringList{"zanvolt"});
        QVERIFY(leftoverDownloads().isEmpty());
    }

    void refusedUpdatesInstallNothing() {
        writeFile(m_feedDir + QStringLiteral("/zanvolt-2.0.0"), m_newProgram);
        QByteArray tampered = m_newProgram;
        tampered[tampered.size() / 2] = char(tampered[tampered.size() / 2] ^ 1);
        const QByteArray good = m_key.signRelease("2.0.0", m_newProgram);
        const auto nothing = [](const char* why) {
            return QString::fromUtf8(why) + QStringLiteral(" Es wurde nichts installiert.");
        };
        const QString invalid = nothing("Die Signatur des Updates ist ungültig.");
        const QString size = nothing("Das Update hat nicht die angekündigte Größe.");
        const qint64 length = m_newProgram.size();
        const QString file = updateURL("zanvolt-2.0.0");
        const QStringList fetched{"GET /updates/zanvolt-2.0.0"};
        struct Case {
            FeedEntry entry;
            QString message;
            QStringList fetched;
        };
        const QList<Case> cases = {
            {{"2.0.0", updateURL("tampered"), length, good}, invalid, {"GET /updates/tampered"}},
            {{"2.0.0", file, length, SigningKey().signRelease("2.0.0", m_newProgram)}, invalid, fetched},
            // An older signed release relabelled as newer, and a signature of the file alone.
            {{"2.0.0", file, length, m_key.signRelease("1.5.0", m_newProgram)}, invalid, fetched},
            {{"2.0.0", file, length, m_key.signBase64(m_newProgram)}, invalid, fetched},
            {{"2.0.0", file, length - 1, good}, size, fetched},
            {{"2.0.0", file, length + 1, good}, size, fetched},
            {{"2.0.0", file, length, {}}, nothing("Das Update ist nicht signiert."), {}},
            {{"2.0.0", updateURL("gone"), length, good},
             nothing("Das Update konnte nicht geladen werden: HTTP-Status 404."),
             {"GET /updates/gone"}},
        };
        writeFile(m_feedDir + QStringLiteral("/tampered"), tampered);
        const QByteArray oldProgram = readAll(m_program);
        for (const Case& test : cases) {
            writeFile(m_feedDir + QStringLiteral("/feed.xml"), feedXml({test.entry}));
            m_server->clearRequests();
            auto c = client();
            QCoro::waitFor(c->backend->runCheck(true));
            QCoreApplication::processEvents();
            QVERIFY2(c->driver->shown.size() == 2, qPrintable(test.message));
            QCOMPARE(c->driver->shown[1].kind, QStringLiteral("inform"));
            QCOMPARE(c->driver->shown[1].text, QStringLiteral("Die Aktualisierung ist fehlgeschlagen."));
            QCOMPARE(c->driver->shown[1].informative, test.message);
            QVERIFY(c->driver->shown[1].announcementsBefore > c->driver->shown[0].announcementsBefore);
            QCOMPARE(updateRequests(), QStringList{"GET /updates/feed.xml"} + test.fetched);
            QVERIFY(c->relaunched.isEmpty() && !c->manager->hasPendingInstall());
            QVERIFY(c->backend->canCheckForUpdates());
            QCOMPARE(readAll(m_program), oldProgram);
            QCOMPARE(QDir(m_programDir).entryList(QDir::Files | QDir::Hidden), QStringList{"zanvolt"});
            QVERIFY(leftoverDownloads().isEmpty());
        }
    }

    void dialogsOfUserAndBackgroundChecks() {
        const QByteArray signature = m_key.signRelease("1.2", m_newProgram);
        writeFile(m_feedDir + QStringLiteral("/feed.xml"),
                  feedXml({{"1.2", updateURL("zanvolt-1.2"), 5, signature}}));
        auto c = client();

        // Up to date: only a user's check says so.
        QCoro::waitFor(c->backend->runCheck(false));
        QCOMPARE(c->driver->shown.size(), 0);
        QCOMPARE(c->driver->announcements, 0);
        QCoro::waitFor(c->backend->runCheck(true));
        QCOMPARE(c->driver->shown.size(), 1);
        QCOMPARE(c->driver->shown[0].text, QStringLiteral("Zanvolt ist auf dem neuesten Stand."));
        QCOMPARE(c->driver->shown[0].informative,
                 QStringLiteral("Version 1.2.0 ist die neueste verfügbare Version."));
        QCOMPARE(c->driver->shown[0].announcementsBefore, 1);

        // A feed that cannot be read: silent in the background, reported to the user.
        QFile::remove(m_feedDir + QStringLiteral("/feed.xml"));
        c->driver->shown.clear();
        QCoro::waitFor(c->backend->runCheck(false));
        QCOMPARE(c->driver->shown.size(), 0);
        QCoro::waitFor(c->backend->runCheck(true));
        QCOMPARE(c->driver->shown.size(), 1);
        QCOMPARE(c->driver->shown[0].informative,
                 QStringLiteral("Die Update-Informationen konnten nicht geladen werden: HTTP-Status 404"));
    }

    void programOwnedByThePackageManagerIsNotReplaced() {
        // $APPIMAGE inherited from elsewhere names another program, which is never replaced.
        FeedUpdaterBackend::Options running = options(nullptr);
        running.programFile.clear();
        qputenv("APPIMAGE", QFile::encodeName(m_program));
        const QString program = FeedUpdaterBackend(running).programFile();
        qunsetenv("APPIMAGE");
        QCOMPARE(program, QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());

        publish({release()});
        // A program file this client cannot replace; one that is not there, since root writes anywhere.
        m_program = m_programDir + QStringLiteral("/fehlt/zanvolt");
        auto c = client();
        // Background checks leave it to the package manager without a word; the user's check says it.
        QCoro::waitFor(c->backend->runCheck(false));
        QCOMPARE(c->driver->announcements, 0);
        QCoro::waitFor(c->backend->runCheck(true));
        FeedUpdaterBackend::Options noFeed = options(nullptr);
        noFeed.feedURL.clear();
        QCOMPARE(FeedUpdaterBackend(noFeed).unavailableReason(),
                 QStringLiteral("Updates kommen über die Paketverwaltung."));
        QCOMPARE(c->driver->shown.size(), 1);
        QCOMPARE(c->driver->shown[0].kind, QStringLiteral("inform"));
        QCOMPARE(c->driver->shown[0].text, QStringLiteral("Zanvolt 2.0.0 ist verfügbar."));
        QVERIFY(c->driver->shown[0].informative.contains(
            QStringLiteral("Diese Installation wird über die Paketverwaltung aktualisiert.")));
        QCOMPARE(updateRequests(), (QStringList{"GET /updates/feed.xml", "GET /updates/feed.xml"}));
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
