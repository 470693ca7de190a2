#include "FakeUpdaterBackend.h"
#include "InMemorySecretStore.h"
#include "RecordedRequests.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "WaitForTask.h"
#include "platform/Settings.h"
#include "services/KeychainService.h"
#include "transfers/ClientSession.h"
#include "transfers/ReceivedUploads.h"
#include "transfers/RecordListModel.h"
#include "transfers/SentTransfers.h"
#include "transfers/ServerAccount.h"
#include "transfers/UpdaterManager.h"
#include "transfers/Uploads.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
struct Record {
    QString key;
    int version = 0;
    bool operator==(const Record&) const = default;
};

using Model = RecordListModel<Record>;

Model* makeModel(QObject* parent) {
    return new Model([](const Record& r) { return r.key; }, std::equal_to<Record>(),
                     [](const Record& r) { return r.key + QString::number(r.version); }, parent);
}

QStringList keysOf(const QAbstractItemModel& model) {
    QStringList keys;
    for (int row = 0; row < model.rowCount(); ++row)
        keys << model.index(row, 0).data(Model::KeyRole).toString();
    return keys;
}
} // namespace

class TestSession : public QObject {
    Q_OBJECT

    HttpEngine http;
    ClientSession::Environment environment(const QTemporaryDir& dir, InMemorySecretStore& store) {
        ClientSession::Environment env;
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
            HistoryStore history(dir.path());
            TransferItem item;
            item.fileName = QStringLiteral("Angebot.pdf");
            item.code = QStringLiteral("K7X2");
            item.downloadURL = QStringLiteral("https://s/d/K7X2");
            item.uploadDate = QDateTime::currentDateTimeUtc();
            history.add(item);
        }
        ClientSession session(http, environment(dir, store));
        // An upload that finishes before the history is read is kept in the list and in the file.
        TransferItem uploaded;
        uploaded.code = QStringLiteral("NEU");
        uploaded.uploadDate = QDateTime::currentDateTimeUtc();
        QSignalSpy historyRead(session.sent(), &SentTransfers::historyRead);
        session.sent()->addUploaded(uploaded);
        QVERIFY(historyRead.wait());
        QCOMPARE(session.sent()->transfers().size(), 2);
        QCOMPARE(session.sent()->transfers().last().code, QStringLiteral("K7X2"));
        QCOMPARE(HistoryStore(dir.path()).load().size(), 2);
        // Settings open once the store has said that nothing is stored.
        QTRY_VERIFY(session.showSettings());
        QVERIFY(store.items.isEmpty()); // the legacy items are gone
        // A save publishes what it stored; a later change in the store is read afresh.
        ServerAccount* account = session.account();
        QCOMPARE(waitForTask(account->save({"https://s", "k"})), std::nullopt);
        QCOMPARE(account->state(), ServerAccount::State::Configured);
        QCOMPARE(store.mainThreadCalls(), 0);
        KeychainService::saveCredentials({"", "k"}, store);
        QCOMPARE(waitForTask(account->reload()), ServerAccount::State::NotConfigured);
        QCOMPARE(account->problem(), QStringLiteral("Server-URL nicht konfiguriert"));
        KeychainService::saveCredentials({"https://s", ""},
                                         store); // still not configured, for another reason
        QCOMPARE(waitForTask(account->reload()), ServerAccount::State::NotConfigured);
        QCOMPARE(account->problem(), QStringLiteral("API-Key nicht konfiguriert"));
    }

    void pollsIncomingThenOutgoingAfterTheFirstDelayThenEachInterval() {
        using std::chrono::hours, std::chrono::milliseconds;
        const QString outgoing = QStringLiteral("GET /api/outgoing");
        const QString incoming = QStringLiteral("GET /api/incoming");
        const auto requestsOf = [this](milliseconds firstDelay, milliseconds interval, const auto& check) {
            TestServerFixture fixture;
            QTemporaryDir dir;
            ClientSession::Environment env = environment(dir, fixture.store());
            env.firstPollDelay = firstDelay;
            env.pollInterval = interval;
            ClientSession session(fixture.http(), env);
            check([&] { return requestLines(fixture.server()); });
        };
        // Start-up refreshes the sent transfers once; the first tick waits for its delay ...
        requestsOf(hours(1), hours(1), [&](const auto& requests) {
            QTRY_COMPARE(requests(), QStringList{outgoing});
            QTest::qWait(500);
            QCOMPARE(requests(), QStringList{outgoing});
        });
        requestsOf(milliseconds(200), hours(1), [&](const auto& requests) {
            QTRY_COMPARE(requests(), (QStringList{outgoing, incoming, outgoing}));
        });
        // ... and the interval runs from the start.
        requestsOf(hours(1), milliseconds(200), [&](const auto& requests) {
            QTRY_VERIFY(requests().size() >= 5);
            QCOMPARE(requests().first(5), (QStringList{outgoing, incoming, outgoing, incoming, outgoing}));
        });
    }

    void aLockedStoreHoldsNoMoreThanTheUploadThatNeedsIt() {
        const QString message =
            QStringLiteral("Der Schlüsselbund ist gesperrt oder nicht erreichbar (Keychain-Fehler: 2). Die "
                           "gespeicherten Einstellungen bleiben erhalten.");
        TestServerFixture fixture;
        InMemorySecretStore& store = fixture.store();
        QTemporaryDir dir;
        ClientSession::Environment env = environment(dir, store);
        env.firstPollDelay = env.pollInterval = std::chrono::hours(1);
        const int mainThreadCalls = store.mainThreadCalls();
        // The keyring's unlock prompt is open: every call waits for the user.
        store.hold();
        ClientSession session(fixture.http(), env);
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
        QTest::qWait(100);
        QVERIFY(finished.isEmpty());
        QVERIFY(fixture.server().requests().isEmpty());

        // An update accepted meanwhile is held while one upload runs and one waits, and installs
        // (which quits the client) only once both are done: not between the two.
        Settings updaterSettings(dir.filePath(QStringLiteral("updater.ini")));
        auto backend = std::make_unique<FakeUpdaterBackend>();
        FakeUpdaterBackend* updates = backend.get();
        UpdaterManager updater({std::move(backend), &updaterSettings});
        updater.setIsBusyCheck([&] { return session.isBusy(); });
        connect(&session, &ClientSession::becameIdle, &updater, &UpdaterManager::attemptPendingInstall);
        qsizetype installedAfter = -1;
        QVERIFY(updates->requestInstall([&] { installedAfter = finished.size(); }));

        // Unlocked: both go out.
        store.release();
        QTRY_VERIFY_WITH_TIMEOUT(finished.size() == 2 && !uploads->isUploading(), 30000);
        QTRY_COMPARE(installedAfter, qsizetype(2));
        QVERIFY(!uploads->error());
        QCOMPARE(requestsTo(fixture.server(), QStringLiteral("/api/upload-complete")).size(), 2);
        QCOMPARE(account->state(), ServerAccount::State::Configured);
        // One read of the store per operation: a poll of both lists, a download of all of an upload's files.
        fixture.server().seedIncoming(QStringLiteral("Kunde"),
                                      {{QStringLiteral("a.txt"), "a"}, {QStringLiteral("b.txt"), "b"}});
        store.calls.clear();
        waitForTask(session.refreshLists());
        QCOMPARE(store.calls, QStringList{QStringLiteral("find credentials")});
        waitForTask(session.received()->downloadIncoming(session.received()->uploads().value(0)));
        QCOMPARE(store.calls.size(), 2);
        QVERIFY(session.received()->uploads().value(0).isDownloaded);

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
        QVERIFY(account->isConfigured() && !session.showSettings()); // never taken for no settings
        // The lists say it too, and nothing is asked of the server.
        const auto seen = fixture.server().requests().size();
        waitForTask(session.received()->refresh());
        QCOMPARE(session.received()->error(), std::optional<QString>(message));
        QCOMPARE(fixture.server().requests().size(), seen);
        QCOMPARE(store.mainThreadCalls(), mainThreadCalls);
    }

    // The list model behind both tabs: a new list turns into the fewest row changes.
    // Random lists (repeated keys, reorders, removals, insertions, changed records) one after the
    // other: after each the rows are the list, the rows held by the view still show their key, and
    // the model was never reset.
    void everyListBecomesTheFewestRowChanges() {
        QObject owner;
        Model* model = makeModel(&owner);
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy moved(model, &QAbstractItemModel::layoutChanged);
        QRandomGenerator random(20241207);
        for (int step = 0; step < 400; ++step) {
            QList<Record> next = model->records();
            const int edits = int(random.bounded(1, 5));
            for (int e = 0; e < edits; ++e) {
                const int at = next.isEmpty() ? 0 : int(random.bounded(next.size()));
                switch (random.bounded(next.isEmpty() ? 1 : 6)) {
                case 0: // a new key, or one of the keys again
                    next.insert(at, {random.bounded(4) == 0 && !next.isEmpty()
                                         ? next[int(random.bounded(next.size()))].key
                                         : QString::number(random.bounded(60)),
                                     0});
                    break;
                case 1:
                    next.remove(at);
                    break;
                case 2:
                    next.move(at, int(random.bounded(next.size())));
                    break;
                default:
                    ++next[at].version;
                }
            }
            // Which key each row held before, seen through the indexes a view keeps.
            const QStringList keysBefore = keysOf(*model);
            QList<QPersistentModelIndex> held;
            for (int row = 0; row < model->rowCount(); ++row)
                held << model->index(row, 0);
            inserted.clear(), removed.clear(), moved.clear();

            model->assign(next);

            QCOMPARE(model->records(), next);
            QStringList wanted;
            for (const Record& record : next)
                wanted << record.key;
            QCOMPARE(keysOf(*model), wanted);
            for (int i = 0; i < held.size(); ++i) {
                if (held[i].isValid())
                    QCOMPARE(held[i].data(Model::KeyRole).toString(), keysBefore[i]);
                else if (keysBefore.count(keysBefore[i]) <= wanted.count(keysBefore[i]))
                    QFAIL(qPrintable(
                        QStringLiteral("row of a kept key %1 went at step %2").arg(keysBefore[i]).arg(step)));
            }
            // Nothing at all for an equal list; no reordering unless kept keys changed places.
            if (keysBefore == wanted)
                QVERIFY(inserted.isEmpty() && removed.isEmpty() && moved.isEmpty());
        }
        QVERIFY(resets.isEmpty());
    }

    void aChangedRecordIsReportedAloneAndTheTextIsTheRowsText() {
        QObject owner;
        Model* model = makeModel(&owner);
        model->assign({{"a", 0}, {"b", 0}, {"c", 0}});
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        model->assign({{"x", 0}, {"a", 0}, {"b", 1}, {"c", 0}});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex().row(), 2);
        QCOMPARE(changed[0][1].toModelIndex().row(), 2);
        QCOMPARE(model->index(2, 0).data(Qt::DisplayRole).toString(), QStringLiteral("b1"));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
