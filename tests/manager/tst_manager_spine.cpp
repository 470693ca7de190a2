#include "InMemorySecretStore.h"
#include "KeychainService.h"
#include "RecordedRequests.h"
#include "TestServerFixture.h"
#include "TransferManager.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestManagerSpine : public QObject {
    Q_OBJECT

    TransferManager::Environment environment(const QTemporaryDir& dir, InMemorySecretStore& store) {
        TransferManager::Environment env;
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
        TransferManager manager(environment(dir, store));
        QCOMPARE(manager.transfers().size(), 1);
        QCOMPARE(manager.transfers().first().code, QStringLiteral("K7X2"));
        QVERIFY(store.items.isEmpty());
        const QStringList expected = {"remove FTP_HOST",  "remove FTP_USER",     "remove FTP_PASS",
                                      "remove FTP_PATH",  "remove DOWNLOAD_URL", "remove SMTP_HOST",
                                      "remove SMTP_PORT", "remove SMTP_USER",    "remove SMTP_PASS",
                                      "remove MAIL_FROM", "remove MAIL_TO"};
        QCOMPARE(store.calls.mid(0, 11), expected);
        QVERIFY(manager.showSettings());
    }

    void damagedHistoryIsEmptyAndUntouched() {
        QTemporaryDir dir;
        InMemorySecretStore store;
        QFile file(dir.filePath(QStringLiteral("history.json")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{broken");
        file.close();
        TransferManager manager(environment(dir, store));
        QVERIFY(manager.transfers().isEmpty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("{broken"));
    }

    void settingsShownOnlyWithCompleteCredentials() {
        QTemporaryDir dir;
        InMemorySecretStore store;
        KeychainService::saveCredentials({"https://s", ""}, store);
        QVERIFY(TransferManager(environment(dir, store)).showSettings());
        KeychainService::saveCredentials({"https://s", "k"}, store);
        TransferManager manager(environment(dir, store));
        QVERIFY(!manager.showSettings());
        QVERIFY(manager.hasServerConfig());
        KeychainService::saveCredentials({"", "k"}, store);
        QVERIFY(!manager.hasServerConfig()); // read afresh, not cached

        // Change signals fire only on a real change.
        QSignalSpy tabChanged(&manager, &TransferManager::selectedTabChanged);
        manager.setSelectedTab(1);
        manager.setSelectedTab(1);
        QCOMPARE(tabChanged.count(), 1);
    }

    void pollsIncomingThenOutgoingAfterTheFirstDelayThenEachInterval() {
        TestServerFixture fixture;
        TransferManager::Environment env;
        QTemporaryDir dir;
        env.historyDirectory = dir.path();
        env.secretStore = &fixture.store();
        env.firstPollDelay = std::chrono::milliseconds(400);
        env.pollInterval = std::chrono::milliseconds(2000);
        QElapsedTimer clock;
        clock.start();
        TransferManager manager(env);
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

    void formatters() {
        const QList<std::pair<qint64, const char*>> sizes = {{-5, "-5 B"},
                                                             {0, "0 B"},
                                                             {1023, "1023 B"},
                                                             {1024, "1 KB"},
                                                             {1536, "2 KB"},
                                                             {2560, "2 KB"},
                                                             {1048575, "1024 KB"},
                                                             {1048576, "1.0 MB"},
                                                             {1073741823, "1024.0 MB"},
                                                             {1073741824, "1.00 GB"},
                                                             {5905580032, "5.50 GB"}};
        for (const auto& [bytes, text] : sizes)
            QCOMPARE(TransferManager::formatSize(bytes), QString::fromLatin1(text));

        QCOMPARE(TransferManager::formatSpeed(0), QStringLiteral("..."));
        QCOMPARE(TransferManager::formatSpeed(-3), QStringLiteral("..."));
        QCOMPARE(TransferManager::formatSpeed(512), QStringLiteral("0 KB/s"));
        QCOMPARE(TransferManager::formatSpeed(1048575), QStringLiteral("1024 KB/s"));
        QCOMPARE(TransferManager::formatSpeed(1048576), QStringLiteral("1.0 MB/s"));

        QCOMPARE(TransferManager::formatRemaining(0.01, 1000, 100000), QStringLiteral("berechne..."));
        QCOMPARE(TransferManager::formatRemaining(0.5, 0, 100000), QStringLiteral("berechne..."));
        QCOMPARE(TransferManager::formatRemaining(0.5, 1000, 120000), QStringLiteral("ca. 1 Min."));
        QCOMPARE(TransferManager::formatRemaining(0.5, 100, 800000), QStringLiteral("ca. 1h 6 Min."));
        QCOMPARE(TransferManager::formatRemaining(0.5, 1, 7800), QStringLiteral("ca. 1h 5 Min."));
        QCOMPARE(TransferManager::formatRemaining(0.5, 1, 1440), QStringLiteral("ca. 12 Min."));
        QCOMPARE(TransferManager::formatRemaining(0.5, 1, 84), QStringLiteral("ca. 42s"));
        QCOMPARE(TransferManager::formatRemaining(0.5, 1, 119), QStringLiteral("ca. 59s"));
        QCOMPARE(TransferManager::formatRemaining(0.5, 1, 120), QStringLiteral("ca. 1 Min."));
        // Far beyond what 64 bits of seconds hold: any text, but no undefined behaviour.
        QVERIFY(TransferManager::formatRemaining(0.02, 1e-300, Q_INT64_C(1) << 62)
                    .startsWith(QStringLiteral("ca. ")));
    }
};

QTEST_GUILESS_MAIN(TestManagerSpine)
#include "tst_manager_spine.moc"
