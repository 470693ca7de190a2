#include "PrivateTempDir.h"
#include "RecordingDesktopServices.h"
#include "TestServerFixture.h"
#include "TransferManager.h"
#include "UserDefaults.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr int runTimeout = 30000;
const QString linkPrefix = QStringLiteral("https://127.0.0.1:");

QUrl writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
    return QUrl::fromLocalFile(path);
}

QJsonObject completionBody(TransferServer& server, int index = -1) {
    QList<QJsonObject> bodies;
    for (const auto& request : server.requests())
        if (request.path == QLatin1String("/api/upload-complete"))
            bodies << QJsonDocument::fromJson(request.body).object();
    return bodies.isEmpty() ? QJsonObject() : bodies.value(index < 0 ? bodies.size() - 1 : index);
}

int completions(TransferServer& server) {
    int count = 0;
    for (const auto& request : server.requests())
        count += request.path == QLatin1String("/api/upload-complete");
    return count;
}
} // namespace

// Drives the upload queue and run of the manager against the bundled server.
class TestUploadRun : public QObject {
    Q_OBJECT

    std::unique_ptr<TestServerFixture> fixture;
    std::unique_ptr<QTemporaryDir> files;
    std::unique_ptr<UserDefaults> defaults;
    RecordingDesktopServices desktop;
    std::unique_ptr<TransferManager> manager;

    // The published run state after every change, as the panel would see it.
    QStringList states;

    void recordStates() {
        auto snapshot = [this] {
            const QString state = QStringLiteral("%1 %2 [%3] %4")
                                      .arg(manager->isUploading())
                                      .arg(manager->isZipping())
                                      .arg(manager->uploadProgress())
                                      .arg(manager->uploadPercent());
            if (states.isEmpty() || states.last() != state)
                states << state;
        };
        for (auto signal : {&TransferManager::isUploadingChanged, &TransferManager::isZippingChanged,
                            &TransferManager::uploadProgressChanged, &TransferManager::uploadPercentChanged})
            connect(manager.get(), signal, this, snapshot);
    }

    void waitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!manager->isUploading(), runTimeout); }

private Q_SLOTS:
    void init() {
        fixture = std::make_unique<TestServerFixture>();
        fixture->server().setRecordBodies(true);
        files = std::make_unique<QTemporaryDir>();
        defaults = std::make_unique<UserDefaults>(files->filePath(QStringLiteral("settings.ini")));
        desktop = RecordingDesktopServices();
        TransferManager::Environment env;
        env.historyDirectory = files->filePath(QStringLiteral("history"));
        env.desktop = &desktop;
        env.defaults = defaults.get();
        env.firstPollDelay = env.pollInterval = std::chrono::hours(1);
        manager = std::make_unique<TransferManager>(env);
        states.clear();
        recordStates();
    }

    void cleanup() {
        manager.reset();
        fixture.reset();
    }

    void singleFileIsSentUnchanged() {
        const QUrl file =
            writeFile(files->filePath(QStringLiteral("Bericht \"final\".pdf")), QByteArray(3000, 'x'));
        QSignalSpy zipping(manager.get(), &TransferManager::isZippingChanged);
        manager->uploadFiles({file}, std::nullopt, false);
        waitIdle();

        QVERIFY(zipping.isEmpty());
        QVERIFY(QFile::exists(file.toLocalFile())); // a dropped file is never deleted
        QCOMPARE(completionBody(fixture->server())[QStringLiteral("name")].toString(),
                 QStringLiteral("Bericht \"final\".pdf"));
        const TransferItem sent = manager->transfers().value(0);
        QCOMPARE(sent.fileName, QStringLiteral("Bericht _final_.pdf"));
        QVERIFY(sent.originalFileNames.isEmpty());
        QVERIFY(sent.downloadURL.startsWith(linkPrefix));
        QCOMPARE(desktop.copiedTexts, QStringList{sent.downloadURL});
        QCOMPARE(desktop.notifications,
                 (QList<RecordingDesktopServices::Notification>{
                     {QStringLiteral("Upload abgeschlossen"),
                      QStringLiteral("Link kopiert – bereit zum Teilen"), sent.downloadURL}}));
        QVERIFY(manager->justCompleted());
        QCOMPARE(manager->justCompleted()->fileName, sent.fileName);
        QVERIFY(!manager->errorMessage());
        QCOMPARE(states.first(), QStringLiteral("1 0 [] 0"));
        QCOMPARE(states.value(1), QStringLiteral("1 0 [Hochladen: Bericht _final_.pdf (3 KB)...] 0"));
        const QRegularExpression finalReport(
            QStringLiteral(R"(^1 0 \[100% von 3 KB – [0-9.]+ (KB|MB)/s – ca\. 0s\] 1$)"));
        QVERIFY2(!states.filter(finalReport).isEmpty(), qPrintable(states.join(QLatin1Char('\n'))));
        QCOMPARE(states.last(), QStringLiteral("0 0 [] 0"));
    }

    void severalItemsArePackedIntoOneArchive() {
        const QUrl report = writeFile(files->filePath(QStringLiteral("in/Bericht.pdf")), "report");
        const QUrl annex = writeFile(files->filePath(QStringLiteral("in/Anlage.pdf")), "annex");
        writeFile(files->filePath(QStringLiteral("in/Ordner/a.txt")), "a");
        writeFile(files->filePath(QStringLiteral("in/Ordner/sub/b.txt")), "b");
        writeFile(files->filePath(QStringLiteral("in/Ordner/.hidden")), "h");
        const QUrl folder = QUrl::fromLocalFile(files->filePath(QStringLiteral("in/Ordner")));
        manager->uploadFiles({report, annex, folder}, std::nullopt, false);
        waitIdle();

        const QString expectedName =
            QStringLiteral("Bericht_%1.zip").arg(QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy")));
        QCOMPARE(completionBody(fixture->server())[QStringLiteral("name")].toString(), expectedName);
        const TransferItem sent = manager->transfers().value(0);
        QCOMPARE(sent.fileName, expectedName);
        QCOMPARE(sent.originalFileNames,
                 (QStringList{"Bericht.pdf", "Anlage.pdf", "Ordner/a.txt", "Ordner/sub/b.txt"}));
        QVERIFY(!QFile::exists(PrivateTempDir::path() + QLatin1Char('/') + expectedName));
        QVERIFY(states.contains(QStringLiteral("1 1 [ZIP erstellen...] 0")));
        QVERIFY(!manager->errorMessage());
    }

    void longNamesAreCutAtSixtyCharacters() {
        const QString stem = QString(74, QLatin1Char('a')) + QStringLiteral("ä"); // 75 characters
        const QUrl first = writeFile(files->filePath(stem + QStringLiteral(".txt")), "1");
        const QUrl second = writeFile(files->filePath(QStringLiteral("b.txt")), "2");
        manager->uploadFiles({first, second}, std::nullopt, false);
        waitIdle();
        QCOMPARE(manager->transfers().value(0).fileName,
                 QString(60, QLatin1Char('a')) + QLatin1Char('_') +
                     QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy")) + QStringLiteral(".zip"));
    }

    void dropsWhileRunningAreQueued() {
        fixture->server().delayNext(QStringLiteral("/api/upload-complete"), 1, 800);
        QList<QUrl> urls;
        for (const char* name : {"eins.txt", "zwei.txt", "drei.txt"})
            urls << writeFile(files->filePath(QString::fromLatin1(name)), name);
        QList<int> counts;
        connect(manager.get(), &TransferManager::queueCountChanged, this,
                [&] { counts << manager->queueCount(); });
        for (const QUrl& url : urls)
            manager->uploadFiles({url}, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(completions(fixture->server()) == 3 && !manager->isUploading(), runTimeout);
        QCOMPARE(counts, (QList<int>{1, 2, 1, 0}));
        QStringList order;
        for (int i = 0; i < 3; ++i)
            order << completionBody(fixture->server(), i)[QStringLiteral("name")].toString();
        QCOMPARE(order, (QStringList{"eins.txt", "zwei.txt", "drei.txt"}));
        QCOMPARE(manager->transfers().size(), 3);
        QCOMPARE(manager->transfers().first().fileName, QStringLiteral("drei.txt"));
    }

    void cancellingStartsTheNextUpload() {
        const QUrl big =
            writeFile(files->filePath(QStringLiteral("gross.bin")), QByteArray(11 * 1024 * 1024, 'g'));
        const QUrl small = writeFile(files->filePath(QStringLiteral("klein.txt")), "k");
        fixture->server().delayNext(QStringLiteral("/api/upload-chunk"), 3, 3000);
        manager->uploadFiles({big}, std::nullopt, false);
        manager->uploadFiles({small}, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(fixture->server().maxInFlight(QStringLiteral("/api/upload-chunk")) > 0,
                                 runTimeout);
        // The next upload starts at once and clears the message again: keep every one.
        QStringList messages;
        connect(manager.get(), &TransferManager::errorMessageChanged, this,
                [&] { messages << manager->errorMessage().value_or(QString()); });
        QElapsedTimer cancelled;
        cancelled.start();
        manager->cancelUpload();
        QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QStringLiteral("Upload abgebrochen")), 5000);
        QVERIFY(cancelled.elapsed() < 2000); // aborted, not waiting for the delayed chunk answers
        QTRY_VERIFY_WITH_TIMEOUT(completions(fixture->server()) == 1 && !manager->isUploading(), runTimeout);
        QCOMPARE(completionBody(fixture->server())[QStringLiteral("name")].toString(),
                 QStringLiteral("klein.txt"));
        // Only the second upload announced itself; the cancelled one stayed quiet.
        QCOMPARE(desktop.notifications.size(), 1);
        QCOMPARE(desktop.notifications.first().title, QStringLiteral("Upload abgeschlossen"));
        QVERIFY(!manager->errorMessage()); // cleared when the next run started
    }

    void serverFailureIsReportedAndArchiveKept() {
        fixture->server().failNext(QStringLiteral("/api/upload-complete"), 1, 500, "kaputt");
        const QUrl a = writeFile(files->filePath(QStringLiteral("x/Plan.pdf")), "a");
        const QUrl b = writeFile(files->filePath(QStringLiteral("x/Liste.pdf")), "b");
        manager->uploadFiles({a, b}, std::nullopt, false);
        waitIdle();
        const QString message = QStringLiteral("Server-Fehler 500: kaputt");
        QCOMPARE(manager->errorMessage(), std::optional<QString>(message));
        QCOMPARE(desktop.notifications, (QList<RecordingDesktopServices::Notification>{
                                            {QStringLiteral("Upload fehlgeschlagen"), message, {}}}));
        QVERIFY(manager->transfers().isEmpty());
        QVERIFY(!manager->justCompleted());
        const QString archive = QStringLiteral("%1/Plan_%2.zip")
                                    .arg(PrivateTempDir::path(), QDate::currentDate().toString("dd-MM-yyyy"));
        QVERIFY(QFile::exists(archive)); // kept after a failed upload
        QFile::remove(archive);
        QCOMPARE(states.last(), QStringLiteral("0 0 [] 0"));
    }

    void linkCopyingAndNotificationTexts() {
        const QUrl file = writeFile(files->filePath(QStringLiteral("f.txt")), "f");
        const QString withPasswordCopied = QStringLiteral("Link + Passwort kopiert");
        struct Case {
            bool autoCopy;
            std::optional<QString> password;
            QString body;
        };
        const QList<Case> cases = {
            {true, QStringLiteral("geheim-123"), withPasswordCopied},
            {false, QStringLiteral("geheim-123"), QStringLiteral("Upload fertig — Passwort im Banner")},
            {true, std::nullopt, QStringLiteral("Link kopiert – bereit zum Teilen")},
            {false, std::nullopt, QStringLiteral("Klicken um Link zu kopieren")},
        };
        for (const Case& c : cases) {
            defaults->setAutoCopyLink(c.autoCopy);
            desktop = RecordingDesktopServices();
            manager->uploadFiles({file}, c.password, false);
            waitIdle();
            const auto done = manager->justCompleted();
            QVERIFY(done);
            QCOMPARE(done->password, c.password);
            QCOMPARE(desktop.notifications.value(0).body, c.body);
            QCOMPARE(desktop.notifications.value(0).downloadURL, std::optional<QString>(done->downloadURL));
            const QStringList expectedCopy =
                !c.autoCopy  ? QStringList()
                : c.password ? QStringList{QStringLiteral("Download-Link: %1\nPasswort: %2")
                                               .arg(done->downloadURL, *c.password)}
                             : QStringList{done->downloadURL};
            QCOMPARE(desktop.copiedTexts, expectedCopy);
            QCOMPARE(manager->transfers().value(0).password, c.password); // carried into the reloaded list
            QCOMPARE(manager->transfers().value(0).hasPassword, c.password.has_value());
        }
        QFile history(files->filePath(QStringLiteral("history/history.json")));
        QVERIFY(history.open(QIODevice::ReadOnly));
        QVERIFY(!history.readAll().contains("geheim-123"));
    }

    void nothingToSendOrNoServer() {
        manager->uploadFiles({}, std::nullopt, false);
        QVERIFY(!manager->isUploading());
        QCOMPARE(manager->queueCount(), 0);

        fixture->storeCredentials(fixture->server().baseURL(), QString());
        const QUrl file = writeFile(files->filePath(QStringLiteral("f.txt")), "f");
        manager->uploadFiles({file}, std::nullopt, false);
        QVERIFY(manager->showSettings());
        QVERIFY(!manager->isUploading());
        QCOMPARE(manager->queueCount(), 0);
        QVERIFY(fixture->server().requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUploadRun)
#include "tst_uploadrun.moc"
