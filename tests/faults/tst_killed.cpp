#include "InMemorySecretStore.h"
#include "RecordedRequests.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "net/HttpEngine.h"
#include "services/APIService.h"
#include "services/APIServiceIncoming.h"
#include "services/KeychainService.h"
#include "services/PrivateTempDir.h"
#include "transfers/ClientSession.h"
#include "transfers/ReceivedUploads.h"
#include "transfers/Uploads.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString chunkPath = QStringLiteral("/api/upload-chunk");

// The client side, run as a child process: a session that uploads the given files, or downloads the
// first customer upload, and is killed before it ends.
int runUntilKilled() {
    auto store = std::make_shared<InMemorySecretStore>();
    KeychainService::saveCredentials(
        {qEnvironmentVariable("ZANVOLT_KILLED_URL"), qEnvironmentVariable("ZANVOLT_KILLED_KEY")}, *store);
    HttpEngine http({.pinsFolder = qEnvironmentVariable("ZANVOLT_KILLED_PINS")});
    ClientSession::Environment environment;
    environment.historyDirectory = qEnvironmentVariable("ZANVOLT_KILLED_HISTORY");
    environment.secretStore = store.get();
    environment.firstPollDelay = std::chrono::hours(1);
    environment.pollInterval = std::chrono::hours(1);
    ClientSession session(http, environment);
    if (qEnvironmentVariableIsSet("ZANVOLT_KILLED_DOWNLOAD")) {
        ReceivedUploads* received = session.received();
        QCoro::waitFor(received->refresh());
        if (received->uploads().isEmpty())
            return 2;
        QCoro::waitFor(received->downloadIncoming(received->uploads().first()));
        return 3; // the download should never have ended
    }
    QList<QUrl> urls;
    for (const QString& path : qEnvironmentVariable("ZANVOLT_KILLED_FILES").split(u'\n'))
        urls << QUrl::fromLocalFile(path);
    session.uploads()->uploadFiles(urls, std::nullopt, false);
    return QCoreApplication::exec();
}
// Starts the client as a child process against `fixture`'s server with `settings` added to its
// environment, and kills it once `ready` holds; false if it never did.
bool killClientWhen(TestServerFixture& fixture, const QTemporaryDir& dir,
                    const QMap<QString, QString>& settings, const std::function<bool()>& ready) {
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZANVOLT_KILLED_URL"), fixture.server().baseURL());
    environment.insert(QStringLiteral("ZANVOLT_KILLED_KEY"), fixture.server().apiKey());
    environment.insert(QStringLiteral("ZANVOLT_KILLED_PINS"), dir.filePath(QStringLiteral("pins")));
    for (auto it = settings.begin(); it != settings.end(); ++it)
        environment.insert(it.key(), it.value());
    client.setProcessEnvironment(environment);
    client.setProcessChannelMode(QProcess::ForwardedChannels);
    client.start(QCoreApplication::applicationFilePath(), {});
    const bool reached = client.waitForStarted() && QTest::qWaitFor(ready, 30000);
    client.kill();
    return client.waitForFinished() && reached;
}
} // namespace

// The client killed with SIGKILL in the middle of an upload: what the next start finds.
class TestKilled : public QObject {
    Q_OBJECT

    QTemporaryDir m_cache; // the private folder's parent, this test's alone

private Q_SLOTS:
    void initTestCase() {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
        // The inbox lies below the home folder: this test's own, shared with its client processes.
        qputenv("HOME", QFile::encodeName(m_cache.path()));
    }

    void killedMidUploadLeavesNothingAndAConsistentHistory() {
        TestServerFixture fixture;
        QTemporaryDir dir;
        const QString historyFolder = dir.filePath(QStringLiteral("history"));
        const QString historyFile = historyFolder + QStringLiteral("/history.json");
        writeFile(historyFile, R"([{"fileName":"Alt.pdf","code":"ALT","downloadURL":"https://s/d/ALT",)"
                               R"("uploadDate":"2024-05-01T12:00:00Z"}])");
        const QByteArray historyBefore = readAll(historyFile);
        writeFile(dir.filePath(QStringLiteral("in/Plan.pdf")), QByteArray(300'000, 'p'));
        writeFile(dir.filePath(QStringLiteral("in/Liste.pdf")), "liste");
        // The server holds the chunk until the client is gone.
        fixture.server().delayNext(chunkPath, 1, 20000);

        QVERIFY(killClientWhen(
            fixture, dir,
            {{QStringLiteral("ZANVOLT_KILLED_HISTORY"), historyFolder},
             {QStringLiteral("ZANVOLT_KILLED_FILES"), dir.filePath(QStringLiteral("in/Plan.pdf")) + u'\n' +
                                                          dir.filePath(QStringLiteral("in/Liste.pdf"))}},
            [&] { return !requestsTo(fixture.server(), chunkPath).isEmpty(); }));

        // Left behind: the run's folder with the archive; not touched: the history and the user's
        // files; nothing completed.
        const QDir privateDir(PrivateTempDir::path());
        const QStringList runs = privateDir.entryList({QStringLiteral("zanvolt-run-*")}, QDir::Dirs);
        QCOMPARE(runs.size(), 1);
        QCOMPARE(
            QDir(privateDir.filePath(runs.first())).entryList({QStringLiteral("*.zip")}, QDir::Files).size(),
            1);
        QCOMPARE(readAll(historyFile), historyBefore);
        QCOMPARE(readAll(dir.filePath(QStringLiteral("in/Liste.pdf"))), QByteArray("liste"));
        QVERIFY(requestsTo(fixture.server(), QStringLiteral("/api/upload-complete")).isEmpty());

        // The next start clears what the killed client left: its lock ended with it.
        PrivateTempDir::removeLeftovers();
        QVERIFY(privateDir.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    }

    void killedMidDownloadLeavesNoFileAndTheUploadUnmarked() {
        TestServerFixture fixture;
        QTemporaryDir dir;
        const QString inbox = APIService::incomingFolder();
        writeFile(inbox + QStringLiteral("/Rechnung.pdf"), "die eigene Rechnung");
        const QByteArray content(2'000'000, 'r');
        const QString token = fixture.server().seedIncoming(QStringLiteral("Kunde"),
                                                            {{QStringLiteral("Rechnung.pdf"), content}});
        // The server sends a part of the file and then hangs until the client is gone.
        const QString filePath = QStringLiteral("/api/incoming/%1/files/Rechnung.pdf").arg(token);
        fixture.server().truncateNext(filePath, 1, 700'000, 30000);

        // Killed once the received part is on disk.
        QVERIFY(killClientWhen(
            fixture, dir, {{QStringLiteral("ZANVOLT_KILLED_DOWNLOAD"), QStringLiteral("1")}}, [&] {
                const QFileInfoList parts =
                    QDir(inbox).entryInfoList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden);
                return parts.size() == 1 && parts.first().size() == 700'000;
            }));

        // Not a file the user could take for the whole one, the user's own file untouched, and the
        // upload not marked as downloaded.
        QCOMPARE(QDir(inbox).entryList(QDir::Files), QStringList{QStringLiteral("Rechnung.pdf")});
        QCOMPARE(readAll(inbox + QStringLiteral("/Rechnung.pdf")), QByteArray("die eigene Rechnung"));
        QVERIFY(
            requestsTo(fixture.server(), QStringLiteral("/api/incoming/%1/downloaded").arg(token)).isEmpty());

        // The next start removes the unfinished part and nothing else.
        APIService::removeUnfinishedDownloads(inbox);
        QCOMPARE(QDir(inbox).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Rechnung.pdf")});
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("ZANVOLT_KILLED_URL"))
        return runUntilKilled();
    TestKilled test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_killed.moc"
