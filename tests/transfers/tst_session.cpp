#include "FakeUpdaterBackend.h"
#include "InMemorySecretStore.h"
#include "KeychainService.h"
#include "RecordedRequests.h"
#include "SentTransfers.h"
#include "ServerAccount.h"
#include "Settings.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "TransferSession.h"
#include "UpdaterManager.h"
#include "Uploads.h"
#include "WaitForTask.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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
        // Settings open once the store has said that nothing is stored.
        QTRY_VERIFY(session.showSettings());
        QVERIFY(store.items.isEmpty());
        const QStringList expected = {"remove FTP_HOST",  "remove FTP_USER",     "remove FTP_PASS",
                                      "remove FTP_PATH",  "remove DOWNLOAD_URL", "remove SMTP_HOST",
                                      "remove SMTP_PORT", "remove SMTP_USER",    "remove SMTP_PASS",
                                      "remove MAIL_FROM", "remove MAIL_TO",      "find credentials"};
        QCOMPARE(store.calls.mid(0, 12), expected);
        QCOMPARE(store.mainThreadCalls(), 0);
    }

    void damagedHistoryIsEmptyAndUntouched() {
        QTemporaryDir dir;
        InMemorySecretStore store;
        const QString history = dir.filePath(QStringLiteral("history.json"));
        writeFile(history, "{broken");
        TransferSession session(environment(dir, store));
        QVERIFY(session.sent()->transfers().isEmpty());
        QVERIFY(session.sent()->error().value_or(QString()).startsWith(QStringLiteral("Der Verlauf war")));
        QCOMPARE(readAll(history), QByteArray("{broken"));
    }

    void settingsShownOnlyWithCompleteCredentials() {
        QTemporaryDir dir;
        InMemorySecretStore store;
        KeychainService::saveCredentials({"https://s", ""}, store);
        {
            TransferSession incomplete(environment(dir, store));
            QTRY_VERIFY(incomplete.showSettings());
        }
        KeychainService::saveCredentials({"https://s", "k"}, store);
        TransferSession session(environment(dir, store));
        ServerAccount* account = session.account();
        QTRY_COMPARE(account->state(), ServerAccount::State::Configured);
        QVERIFY(!session.showSettings());
        KeychainService::saveCredentials({"", "k"}, store);
        QCOMPARE(waitForTask(account->reload()), ServerAccount::State::NotConfigured); // read afresh
        QCOMPARE(account->problem(), QStringLiteral("Server-URL nicht konfiguriert"));
        // A save publishes what it stored.
        QCOMPARE(waitForTask(account->save({"https://s", "k2"})), std::nullopt);
        QCOMPARE(account->state(), ServerAccount::State::Configured);

        // Change signals fire only on a real change.
        QSignalSpy tabChanged(&session, &TransferSession::selectedTabChanged);
        session.setSelectedTab(1);
        session.setSelectedTab(1);
        QCOMPARE(tabChanged.count(), 1);
    }

    void pollsIncomingThenOutgoingAfterTheFirstDelayThenEachInterval() {
        TestServerFixture fixture;
        QTemporaryDir dir;
        TransferSession::Environment env = environment(dir, fixture.store());
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

    void aLockedStoreHoldsNoMoreThanTheUploadThatNeedsIt() {
        const QString message =
            QStringLiteral("Der Schlüsselbund ist gesperrt oder nicht erreichbar (Keychain-Fehler: 2). Die "
                           "gespeicherten Einstellungen bleiben erhalten.");
        TestServerFixture fixture;
        InMemorySecretStore& store = fixture.store();
        QTemporaryDir dir;
        TransferSession::Environment env = environment(dir, store);
        env.firstPollDelay = env.pollInterval = std::chrono::hours(1);
        const int mainThreadCalls = store.mainThreadCalls();
        // The keyring's unlock prompt is open: every call waits for the user.
        store.hold();
        TransferSession session(env);
        ServerAccount* account = session.account();
        Uploads* uploads = session.uploads();
        QCOMPARE(account->state(), ServerAccount::State::Unknown);
        QVERIFY(account->isConfigured()); // never presented as missing
        QVERIFY(!session.showSettings());

        // Hand-overs are taken at once and wait as the running upload and the queue.
        QSignalSpy finished(uploads, &Uploads::uploadFinished);
        const QUrl dropped = writeFile(dir.filePath(QStringLiteral("a.txt")), "a");
        QVERIFY(uploads->uploadFiles({dropped}, std::nullopt, false));
        QVERIFY(uploads->uploadFiles({dropped}, std::nullopt, false));
        QVERIFY(uploads->isUploading());
        QCOMPARE(uploads->queueCount(), 1);
        int ticks = 0;
        QTimer ticking;
        connect(&ticking, &QTimer::timeout, this, [&] { ++ticks; });
        ticking.start(10);
        QTRY_VERIFY(ticks >= 10); // the event loop turns meanwhile
        QVERIFY(finished.isEmpty());
        QVERIFY(fixture.server().requests().isEmpty());

        // An update accepted meanwhile is held while one upload runs and one waits, and installs
        // (which quits the client) only once both are done: not between the two.
        Settings updaterSettings(dir.filePath(QStringLiteral("updater.ini")));
        auto backend = std::make_unique<FakeUpdaterBackend>();
        FakeUpdaterBackend* updates = backend.get();
        UpdaterManager updater({std::move(backend), &updaterSettings});
        updater.setIsBusyCheck([&] { return session.isBusy(); });
        connect(&session, &TransferSession::becameIdle, &updater, &UpdaterManager::attemptPendingInstall);
        qsizetype installedAfter = -1;
        QVERIFY(updates->requestInstall([&] { installedAfter = finished.size(); }));

        // Unlocked: both go out.
        store.release();
        QTRY_VERIFY_WITH_TIMEOUT(finished.size() == 2 && !uploads->isUploading(), 30000);
        QTRY_COMPARE(installedAfter, qsizetype(2));
        QVERIFY(!uploads->error());
        QCOMPARE(requestsTo(fixture.server(), QStringLiteral("/api/upload-complete")).size(), 2);
        QCOMPARE(account->state(), ServerAccount::State::Configured);

        // The prompt dismissed, or no store at all: a waiting upload fails with the store's message, in
        // the panel and to a waiting sender; one cancelled while waiting just ends.
        store.failFindsWith = 2;
        store.hold();
        QVERIFY(uploads->uploadFiles({dropped}, std::nullopt, false));
        uploads->cancelUpload();
        QCOMPARE(uploads->error(), std::optional<QString>(QStringLiteral("Upload abgebrochen")));
        QVERIFY(uploads->uploadFiles({dropped}, std::nullopt, false));
        store.release();
        QTRY_VERIFY_WITH_TIMEOUT(finished.size() == 4 && !uploads->isUploading(), 30000);
        QCOMPARE(finished.at(3).at(1).value<UploadJob::Result>().errorText, message);
        QCOMPARE(uploads->error(), std::optional<QString>(message));
        QCOMPARE(requestsTo(fixture.server(), QStringLiteral("/api/upload-complete")).size(), 2);
        QCOMPARE(account->state(), ServerAccount::State::Unavailable);
        QVERIFY(!session.showSettings());
        QCOMPARE(store.mainThreadCalls(), mainThreadCalls);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
