#include "CertificatePins.h"
#include "InMemorySecretStore.h"
#include "KeychainService.h"
#include "PrivateTempDir.h"
#include "RecordedRequests.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "TransferHistoryService.h"
#include "TransferSession.h"
#include "Uploads.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString chunkPath = QStringLiteral("/api/upload-chunk");

// The client side, run as a child process: a session that uploads the given files and is
// killed before it ends.
int uploadUntilKilled() {
    auto store = std::make_shared<InMemorySecretStore>();
    KeychainService::saveCredentials(
        {qEnvironmentVariable("ZANVOLT_KILLED_URL"), qEnvironmentVariable("ZANVOLT_KILLED_KEY")}, *store);
    KeychainService::setDefaultStore(store);
    CertificatePins::setDefaultFolder(qEnvironmentVariable("ZANVOLT_KILLED_PINS"));
    TransferSession::Environment environment;
    environment.historyDirectory = qEnvironmentVariable("ZANVOLT_KILLED_HISTORY");
    environment.secretStore = store.get();
    environment.firstPollDelay = std::chrono::hours(1);
    environment.pollInterval = std::chrono::hours(1);
    TransferSession session(environment);
    QList<QUrl> urls;
    for (const QString& path : qEnvironmentVariable("ZANVOLT_KILLED_FILES").split(u'\n'))
        urls << QUrl::fromLocalFile(path);
    session.uploads()->uploadFiles(urls, std::nullopt, false);
    return QCoreApplication::exec();
}
} // namespace

// The client killed with SIGKILL in the middle of an upload: what the next start finds.
class TestKilled : public QObject {
    Q_OBJECT

    QTemporaryDir m_cache; // the private folder's parent, this test's alone

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_cache.isValid());
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
    }

    void killedMidUploadLeavesNothingAndAConsistentHistory() {
        TestServerFixture fixture;
        QTemporaryDir dir;
        const QString historyFolder = dir.filePath(QStringLiteral("history"));
        {
            TransferHistoryService history(historyFolder);
            TransferItem earlier;
            earlier.fileName = QStringLiteral("Alt.pdf");
            earlier.code = QStringLiteral("ALT");
            earlier.downloadURL = QStringLiteral("https://s/d/ALT");
            earlier.uploadDate = QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);
            QVERIFY(history.add(earlier));
        }
        const QString historyFile = historyFolder + QStringLiteral("/history.json");
        const QByteArray historyBefore = readAll(historyFile);
        writeFile(dir.filePath(QStringLiteral("in/Plan.pdf")), QByteArray(300'000, 'p'));
        writeFile(dir.filePath(QStringLiteral("in/Liste.pdf")), "liste");
        // The server holds the chunk until the client is gone.
        fixture.server().delayNext(chunkPath, 1, 20000);

        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZANVOLT_KILLED_URL"), fixture.server().baseURL());
        environment.insert(QStringLiteral("ZANVOLT_KILLED_KEY"), fixture.server().apiKey());
        environment.insert(QStringLiteral("ZANVOLT_KILLED_PINS"), dir.filePath(QStringLiteral("pins")));
        environment.insert(QStringLiteral("ZANVOLT_KILLED_HISTORY"), historyFolder);
        environment.insert(QStringLiteral("ZANVOLT_KILLED_FILES"),
                           dir.filePath(QStringLiteral("in/Plan.pdf")) + u'\n' +
                               dir.filePath(QStringLiteral("in/Liste.pdf")));
        client.setProcessEnvironment(environment);
        client.setProcessChannelMode(QProcess::ForwardedChannels);
        client.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(client.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!requestsTo(fixture.server(), chunkPath).isEmpty(), 30000);
        client.kill();
        QVERIFY(client.waitForFinished());

        // Left behind: the archive; not touched: the history and the user's files; nothing completed.
        const QDir privateDir(PrivateTempDir::path());
        QCOMPARE(privateDir.entryList({QStringLiteral("*.zip")}, QDir::Files).size(), 1);
        QCOMPARE(readAll(historyFile), historyBefore);
        QCOMPARE(TransferHistoryService(historyFolder).load().size(), 1);
        QCOMPARE(readAll(dir.filePath(QStringLiteral("in/Liste.pdf"))), QByteArray("liste"));
        QVERIFY(requestsTo(fixture.server(), QStringLiteral("/api/upload-complete")).isEmpty());

        // The next start clears what the killed client left.
        PrivateTempDir::removeLeftovers();
        QVERIFY(privateDir.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("ZANVOLT_KILLED_URL"))
        return uploadUntilKilled();
    TestKilled test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_killed.moc"
