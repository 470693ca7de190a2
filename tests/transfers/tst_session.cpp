#include "InMemorySecretStore.h"
#include "KeychainService.h"
#include "RecordedRequests.h"
#include "SentTransfers.h"
#include "ServerAccount.h"
#include "TestServerFixture.h"
#include "TransferSession.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestSession : public QObject {
    Q_OBJECT

    TransferSession::Environment environment(const QTemporaryDir& dir, InMemorySecretStore& store) {
        TransferSession::Environment env;
        env.historyDirectory = dir.path();
        env.secretStore = &store;
        return env;
    }

private Q_SLOTS:
    void startUpLoadsHistoryAndCleansLegacyItems() {
        QTemporaryDir dir;
        InMemorySecretStore store;
        store.items[{KeychainService::serviceName, "FTP_PASS"}] = "old";
        store.items[{KeychainService::serviceName, "SMTP_HOST"}] = "old";
        {
            TransferHistoryService history(dir.path());
            TransferItem item;
            item.fileName = QStringLiteral("Angebot.pdf");
            item.code = QStringLiteral("K7X2");
            item.downloadURL = QStringLiteral("https://s/d/K7X2");
            item.uploadDate = QDateTime::currentDateTimeUtc();
            history.add(item);
        }
        TransferSession session(environment(dir, store));
        QCOMPARE(session.sent()->transfers().size(), 1);
        QCOMPARE(session.sent()->transfers().first().code, QStringLiteral("K7X2"));
        QVERIFY(store.items.isEmpty());
        const QStringList expected = {"remove FTP_HOST",  "remove FTP_USER",     "remove FTP_PASS",
                                      "remove FTP_PATH",  "remove DOWNLOAD_URL", "remove SMTP_HOST",
                                      "remove SMTP_PORT", "remove SMTP_USER",    "remove SMTP_PASS",
                                      "remove MAIL_FROM", "remove MAIL_TO"};
        QCOMPARE(store.calls.mid(0, 11), expected);
        QVERIFY(session.showSettings());
    }

    void damagedHistoryIsEmptyAndUntouched() {
        QTemporaryDir dir;
        InMemorySecretStore store;
        QFile file(dir.filePath(QStringLiteral("history.json")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{broken");
        file.close();
        TransferSession session(environment(dir, store));
        QVERIFY(session.sent()->transfers().isEmpty());
        QVERIFY(session.sent()->error().value_or(QString()).startsWith(QStringLiteral("Der Verlauf war")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("{broken"));
    }

    void settingsShownOnlyWithCompleteCredentials() {
        QTemporaryDir dir;
        InMemorySecretStore store;
        KeychainService::saveCredentials({"https://s", ""}, store);
        QVERIFY(TransferSession(environment(dir, store)).showSettings());
        KeychainService::saveCredentials({"https://s", "k"}, store);
        TransferSession session(environment(dir, store));
        QVERIFY(!session.showSettings());
        QVERIFY(session.account()->isConfigured());
        KeychainService::saveCredentials({"", "k"}, store);
        QVERIFY(!session.account()->isConfigured()); // read afresh, not cached

        // Change signals fire only on a real change.
        QSignalSpy tabChanged(&session, &TransferSession::selectedTabChanged);
        session.setSelectedTab(1);
        session.setSelectedTab(1);
        QCOMPARE(tabChanged.count(), 1);
    }

    void pollsIncomingThenOutgoingAfterTheFirstDelayThenEachInterval() {
        TestServerFixture fixture;
        TransferSession::Environment env;
        QTemporaryDir dir;
        env.historyDirectory = dir.path();
        env.secretStore = &fixture.store();
        env.firstPollDelay = std::chrono::milliseconds(400);
        env.pollInterval = std::chrono::milliseconds(2000);
        QElapsedTimer clock;
        clock.start();
        TransferSession session(env);
        const QString outgoing = QStringLiteral("GET /api/outgoing");
        const QString incoming = QStringLiteral("GET /api/incoming");
        // Start-up refreshes the sent transfers once; the first tick comes after the short delay.
        QTRY_COMPARE(requestLines(fixture.server()), QStringList{outgoing});
        QTRY_COMPARE_WITH_TIMEOUT(requestLines(fixture.server()), (QStringList{outgoing, incoming, outgoing}),
                                  3000);
        // Qt's coarse timers may fire up to 5 % early.
        QVERIFY(clock.elapsed() >= 380);
        QVERIFY(clock.elapsed() < 1900);
        QTRY_COMPARE_WITH_TIMEOUT(requestLines(fixture.server()),
                                  (QStringList{outgoing, incoming, outgoing, incoming, outgoing}), 5000);
        QVERIFY(clock.elapsed() >= 1900);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
