#include "RecordedRequests.h"
#include "SessionFixture.h"
#include "TestFiles.h"
#include "WaitForTask.h"
#include "net/HttpEngine.h"
#include "services/APIService.h"
#include "services/APIServiceOutgoing.h"
#include "services/APIServiceUpload.h"
#include "services/PrivateTempDir.h"
#include "services/SafeFileName.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int runTimeout = 30000;
const QString chunkPath = QStringLiteral("/api/upload-chunk");
const QString completePath = QStringLiteral("/api/upload-complete");
const QString today = QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy"));

TransferItem historyItem(const QString& code, int day) {
    TransferItem item;
    item.fileName = code + QStringLiteral(".pdf");
    item.code = code;
    item.downloadURL = QStringLiteral("https://s/d/") + code;
    item.uploadDate = QDateTime(QDate(2024, 5, day), QTime(12, 0, 0), Qt::UTC);
    return item;
}

QStringList keptHistories(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("history.json.unreadable-*")}, QDir::Files);
}

} // namespace

// The upload queue and run against the bundled server, and what the client does when the server,
// the network, the files or its own history misbehave: each case as the user would meet it.
class TestFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionFixture> fixture;
    Uploads* uploads = nullptr;
    SentTransfers* sent = nullptr;

    // The published run state after every change, as the panel would see it.
    QStringList states;

    int completions() { return requestsTo(fixture->server(), completePath).size(); }
    QString completedName(int index = -1) {
        const auto bodies = requestsTo(fixture->server(), completePath);
        return QJsonDocument::fromJson(bodies.value(index < 0 ? bodies.size() - 1 : index).body)
            .object()[QStringLiteral("name")]
            .toString();
    }
    QUrl file(const QString& name, const QByteArray& content) { return fixture->file(name, content); }
    DevServer& server() { return fixture->server(); }
    void waitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!uploads->isUploading(), runTimeout); }
    // Hands `urls` over as a drop would and waits until the run has ended.
    void send(const QList<QUrl>& urls, std::optional<QString> password = std::nullopt) {
        uploads->uploadFiles(urls, std::move(password), false);
        waitIdle();
    }
    // A new session, its engine made with `http`.
    void start(HttpEngine::Options http = {}) {
        fixture = std::make_unique<SessionFixture>(nullptr, std::move(http));
        uploads = fixture->uploads;
        sent = fixture->sent;
        states.clear();
        auto snapshot = [this] {
            const QString state = QStringLiteral("%1 %2 [%3] %4")
                                      .arg(uploads->isUploading())
                                      .arg(uploads->isZipping())
                                      .arg(uploads->progressText())
                                      .arg(uploads->progress());
            if (states.isEmpty() || states.last() != state)
                states << state;
        };
        for (auto signal : {&Uploads::isUploadingChanged, &Uploads::isZippingChanged,
                            &Uploads::progressTextChanged, &Uploads::progressChanged})
            connect(uploads, signal, this, snapshot);
    }

private Q_SLOTS:
    void init() { start(); }

    void cleanup() { fixture.reset(); }

    // The history's own test owns which entries survive; here: what the list says about it.
    void damagedHistoryIsSaidOnceAndLosesNoUpload() {
        const QString folder = fixture->dir.filePath(QStringLiteral("damaged"));
        {
            HistoryStore history(folder);
            history.add(historyItem(QStringLiteral("H1"), 1));
            history.add(historyItem(QStringLiteral("H7"), 7));
            QByteArray bytes = readAll(history.filePath());
            bytes.replace("2024-05-07T12:00:00Z", "2024-05-07"); // one malformed date
            writeFile(history.filePath(), bytes);
        }
        SentTransfers list(fixture->session->account(), folder);
        QTRY_COMPARE(list.transfers().size(), 1);
        const QStringList kept = keptHistories(folder);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(list.error(),
                 std::optional<QString>(
                     QStringLiteral("Der Verlauf war teilweise unlesbar; die Datei wurde aufbewahrt: ") +
                     folder + u'/' + kept.first()));
        list.addUploaded(historyItem(QStringLiteral("NEU"), 20));
        QTRY_COMPARE(HistoryStore(folder).load().size(), 2);
        // Said once: a second start finds an intact history.
        SentTransfers again(fixture->session->account(), folder);
        QVERIFY(QTest::qWaitFor([&] { return again.transfers().size() == 2; }) && !again.error());

        // A history that cannot be written: the upload stays in the list, and the user is told.
        const QString blocked = fixture->dir.filePath(QStringLiteral("blocked"));
        QVERIFY(QDir().mkpath(blocked + QStringLiteral("/history.json/x")));
        SentTransfers unwritable(fixture->session->account(), blocked);
        QTRY_COMPARE(unwritable.error(),
                     std::optional<QString>(
                         QStringLiteral("Der Verlauf ist nicht lesbar und wird nicht überschrieben: ") +
                         blocked + QStringLiteral("/history.json")));
        unwritable.addUploaded(historyItem(QStringLiteral("NEU"), 20));
        QVERIFY(unwritable.transfers().size() == 1 &&
                unwritable.transfers()[0].code == QStringLiteral("NEU"));
        QTRY_COMPARE(unwritable.error(),
                     std::optional<QString>(QStringLiteral("Der Verlauf konnte nicht gespeichert werden: ") +
                                            blocked + QStringLiteral("/history.json")));
    }

    void onlyRegularFilesAndFoldersAreSent() {
        server().clearRequests();
        const QString pipe = fixture->dir.filePath(QStringLiteral("Rohr"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        // Alone, among other items as a device, and a link to nothing among other items: named, not
        // left out.
        const QUrl plain = fixture->file(QStringLiteral("a.txt"), "a");
        QVERIFY(QFile::link(fixture->dir.filePath(QStringLiteral("weg")), fixture->dir.filePath("Verweis")));
        const QString cannot = QStringLiteral(" und kann nicht gesendet werden.");
        const QList<std::pair<QList<QUrl>, QString>> refusals = {
            {{QUrl::fromLocalFile(pipe)}, "„Rohr“ ist keine normale Datei und kein Ordner" + cannot},
            {{plain, QUrl::fromLocalFile("/dev/zero")},
             "„zero“ ist keine normale Datei und kein Ordner" + cannot},
            {{plain, QUrl::fromLocalFile(fixture->dir.filePath("Verweis"))},
             "„Verweis“ verweist auf nichts (das Ziel der Verknüpfung fehlt)" + cannot}};
        for (const auto& [urls, message] : refusals) {
            send(urls);
            QCOMPARE(uploads->error(), std::optional<QString>(message));
        }
        QVERIFY(requestLines(server(), QStringLiteral("/api/")).isEmpty());

        // Inside a folder, pipes and devices are skipped by zip, never read.
        fixture->file(QStringLiteral("Ordner/a.txt"), "a");
        QCOMPARE(::mkfifo(QFile::encodeName(fixture->dir.filePath(QStringLiteral("Ordner/rohr"))).constData(),
                          0600),
                 0);
        send({QUrl::fromLocalFile(fixture->dir.filePath(QStringLiteral("Ordner")))});
        QCOMPARE(fixture->sent->transfers().value(0).originalFileNames, QStringList{"Ordner/a.txt"});
    }

    void aStalledServerShowsTheSpeedFallingAndSaysItStopped() {
        QStringList texts;
        connect(uploads, &Uploads::progressTextChanged, this, [&] { texts << uploads->progressText(); });
        // One chunk, sent at once, then the server is silent for longer than the speed's window.
        server().delayNext(chunkPath, 1, 7500);
        send({fixture->file(QStringLiteral("still.bin"), QByteArray(2'000'000, 's'))});
        QVERIFY(!uploads->error());
        const auto moving = std::find_if(texts.begin(), texts.end(), [](const QString& text) {
            return text.contains(QStringLiteral(" KB/s – ")) || text.contains(QStringLiteral(" MB/s – "));
        });
        QVERIFY2(moving != texts.end(), qPrintable(texts.join(u'\n')));
        // Later, with nothing moving, the speed has fallen to nothing.
        QVERIFY2(std::any_of(moving, texts.end(),
                             [](const QString& text) {
                                 return text.endsWith(QStringLiteral(" – ... – berechne..."));
                             }),
                 qPrintable(texts.join(u'\n')));

        // Silent for longer than the inactivity limit, again and again until the upload gives up: the
        // line said it waited, and the user is told why, not "abgebrochen".
        using namespace std::chrono_literals;
        start({.inactivitySeconds = 1, .waitLimits = {100ms, 100ms, 1500ms}});
        connect(uploads, &Uploads::progressTextChanged, this, [&] { texts << uploads->progressText(); });
        server().delayNext(QStringLiteral("/api/create-upload-token"), 100, 2500);
        send({fixture->file(QStringLiteral("weg.bin"), "x")});
        QCOMPARE(uploads->error(), std::optional<QString>(
                                       QStringLiteral("Der Server antwortet nicht (1 Sekunden ohne Daten)")));
        QVERIFY2(requestsTo(server(), QStringLiteral("/api/create-upload-token")).size() >= 2,
                 qPrintable(texts.join(u'\n')));
        QVERIFY2(texts.contains(QStringLiteral("0% von 1 B – Warte auf Verbindung…")),
                 qPrintable(texts.join(u'\n')));
    }

    void aDroppedConnectionIsRetriedOrFailsCleanly() {
        using namespace std::chrono_literals;
        start({.waitLimits = {100ms, 200ms, 1500ms}});
        // (Back within the waits: tst_upload's outage.) Gone for longer than the upload waits: a clean
        // failure, nothing completed, and the archive of a packed upload removed with the run.
        server().dropNext(chunkPath, 1000);
        send({fixture->file(QStringLiteral("x/Plan.pdf"), "p"),
              fixture->file(QStringLiteral("x/Liste.pdf"), "l")});
        // The network's own words, never a server's or "abgebrochen".
        const QString failure = uploads->error().value_or(QStringLiteral("Server-Fehler"));
        QVERIFY2(!failure.startsWith(QStringLiteral("Server-Fehler")) &&
                     failure != QStringLiteral("Upload abgebrochen"),
                 qPrintable(failure));
        QVERIFY(requestsTo(server(), completePath).isEmpty());
        QVERIFY(fixture->sent->transfers().isEmpty());
        QDirIterator left(PrivateTempDir::path(), {QStringLiteral("Plan_*")}, QDir::Files,
                          QDirIterator::Subdirectories);
        QVERIFY2(!left.hasNext(), qPrintable(left.next()));
    }

    void aFileChangedDuringItsUploadIsNeverCompleted() {
        enum class Change { Grows, Shrinks, Replaced };
        for (const Change change : {Change::Grows, Change::Shrinks, Change::Replaced}) {
            server().clearRequests();
            const QString path = fixture->dir.filePath(QStringLiteral("wandel.bin"));
            writeFile(path, QByteArray(200'000, 'a'));
            server().delayNext(chunkPath, 1, 1500);
            uploads->uploadFiles({QUrl::fromLocalFile(path)}, std::nullopt, false);
            QTRY_VERIFY_WITH_TIMEOUT(!requestsTo(server(), chunkPath).isEmpty(), runTimeout);
            if (change == Change::Grows) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::Append));
                file.write("mehr");
            } else if (change == Change::Shrinks) {
                QVERIFY(QFile::resize(path, 1000));
            } else {
                writeFile(path + QStringLiteral(".neu"), QByteArray(200'000, 'b'));
                QCOMPARE(::rename(QFile::encodeName(path + QStringLiteral(".neu")).constData(),
                                  QFile::encodeName(path).constData()),
                         0);
            }
            waitIdle();
            QCOMPARE(uploads->error(),
                     std::optional<QString>(QStringLiteral("Die Datei wurde während des Uploads verändert")));
            QVERIFY(requestsTo(server(), completePath).isEmpty());
        }
    }

    void unfinishedDownloadsGoAndNothingElse() {
        const QString folder = fixture->dir.filePath(QStringLiteral("Eingang"));
        writeFile(folder + QStringLiteral("/.zanvolt\\a1B2c3.part"), "halb");
        writeFile(folder + QStringLiteral("/Rechnung.pdf"), "meins");
        writeFile(folder + QStringLiteral("/.zanvolt-123456.part"),
                  "vom Kunden"); // the name older clients made
        writeFile(folder + QStringLiteral("/Bericht.part"), "meins");
        // A customer's file named like the client's own is saved under a name the clean-up leaves.
        writeFile(fixture->dir.filePath(QStringLiteral("geladen")), "vom Kunden");
        SafeFileName::moveNoReplace(fixture->dir.filePath(QStringLiteral("geladen")), folder,
                                    QStringLiteral(".zanvolt\\654321.part"));
        QVERIFY(QFile::link(folder + QStringLiteral("/Rechnung.pdf"),
                            folder + QStringLiteral("/.zanvolt\\LINK00.part")));
        APIService::removeUnfinishedDownloads(folder);
        QCOMPARE(entriesIn(folder), (QStringList{".zanvolt-123456.part", ".zanvolt\\LINK00.part",
                                                 ".zanvolt_654321.part", "Bericht.part", "Rechnung.pdf"}));
        QCOMPARE(readAll(folder + QStringLiteral("/Rechnung.pdf")), QByteArray("meins"));
    }

    void redirectsReachNothingElse() {
        DevServer other;
        QVERIFY(other.start());
        const QString file = fixture->file(QStringLiteral("r.txt"), "r").toLocalFile();
        for (const int status : {301, 302, 307, 308}) {
            const QByteArray elsewhere = (other.baseURL() + QStringLiteral("/api/outgoing")).toUtf8();
            server().redirectNext(QStringLiteral("/api/outgoing"), 1, status, elsewhere);
            QCOMPARE(failureOf(APIService::fetchOutgoing(fixture->connection())),
                     QStringLiteral("Netzwerk-Fehler: Fehler beim Laden der Transfers"));
            // An upload's first request, with the key, redirected to another port.
            server().redirectNext(QStringLiteral("/api/create-upload-token"), 1, status,
                                  (other.baseURL() + QStringLiteral("/api/create-upload-token")).toUtf8());
            QCOMPARE(failureOf(APIService::uploadOutgoing(fixture->connection(), file, {}, false, {})),
                     QStringLiteral("Server-Fehler %1: <html><body>Moved</body></html>").arg(status));
        }
        QVERIFY(other.requests().isEmpty());
    }

    void singleFileIsSentUnchanged() {
        const QUrl dropped = file(QStringLiteral("Bericht \"final\".pdf"), QByteArray(3000, 'x'));
        send({dropped});

        QVERIFY(QFile::exists(dropped.toLocalFile())); // a dropped file is never deleted
        QCOMPARE(completedName(), QStringLiteral("Bericht \"final\".pdf"));
        const TransferItem listed = sent->transfers().value(0);
        QCOMPARE(listed.fileName, QStringLiteral("Bericht _final_.pdf"));
        QVERIFY(listed.originalFileNames.isEmpty());
        QCOMPARE(states.first(), QStringLiteral("1 0 [] 0"));
        QCOMPARE(states.value(1), QStringLiteral("1 0 [Hochladen: Bericht _final_.pdf (3 KB)...] 0"));
        const QRegularExpression finalReport(
            QStringLiteral(R"(^1 0 \[100% von 3 KB – [0-9.]+ (KB|MB)/s – ca\. 0s\] 1$)"));
        QVERIFY2(!states.filter(finalReport).isEmpty(), qPrintable(states.join(QLatin1Char('\n'))));
        QCOMPARE(states.last(), QStringLiteral("0 0 [] 0"));
    }

    void severalItemsArePackedIntoOneArchive() {
        const QUrl report = file(QStringLiteral("in/Bericht.pdf"), "report");
        const QUrl annex = file(QStringLiteral("in/Anlage.pdf"), "annex");
        file(QStringLiteral("in/Ordner/a.txt"), "a");
        file(QStringLiteral("in/Ordner/sub/b.txt"), "b");
        file(QStringLiteral("in/Ordner/.hidden"), "h");
        const QUrl folder = QUrl::fromLocalFile(fixture->dir.filePath(QStringLiteral("in/Ordner")));
        send({report, annex, folder});

        const QString expectedName = QStringLiteral("Bericht_%1.zip").arg(today);
        QCOMPARE(completedName(), expectedName);
        const TransferItem listed = sent->transfers().value(0);
        QCOMPARE(listed.fileName, expectedName);
        QCOMPARE(listed.originalFileNames,
                 (QStringList{"Bericht.pdf", "Anlage.pdf", "Ordner/a.txt", "Ordner/sub/b.txt"}));
        QVERIFY(states.contains(QStringLiteral("1 1 [ZIP erstellen...] 0")));

        // The archive is named after the first item, cut at sixty characters (not bytes).
        const QString stem = QString(74, QLatin1Char('a')) + QStringLiteral("ä");
        send({file(stem + QStringLiteral(".txt"), "1"), annex});
        QCOMPARE(completedName(), QString(60, u'a') + u'_' + today + QStringLiteral(".zip"));
        // A hidden folder keeps its name: its leading dot starts no extension.
        file(QStringLiteral(".config/a"), "a");
        send({QUrl::fromLocalFile(fixture->dir.filePath(QStringLiteral(".config")))});
        QCOMPARE(completedName(), QStringLiteral(".config_%1.zip").arg(today));

        // Two runs packing a folder of the same name at once (two scripts sending "Zwilling") stage
        // apart, and each run's archive goes when it ends.
        file(QStringLiteral("Zwilling/a.bin"), randomBytes(300'000));
        const QUrl twin = QUrl::fromLocalFile(fixture->dir.filePath(QStringLiteral("Zwilling")));
        fixture->server().delayNext(QStringLiteral("/api/upload-chunk"), 1, 1500);
        UploadJob::Request request;
        request.urls = {twin};
        UploadJob first(request, fixture->connection()), second(request, fixture->connection());
        QList<UploadJob::Result::Outcome> outcomes;
        for (UploadJob* job : {&first, &second})
            connect(job, &UploadJob::finished, this,
                    [&](const UploadJob::Result& r) { outcomes << r.outcome; });
        first.start();
        second.start();
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 2, runTimeout);
        QCOMPARE(outcomes, QList<UploadJob::Result::Outcome>(2, UploadJob::Result::Outcome::Succeeded));
        QDirIterator left(PrivateTempDir::path(), {QStringLiteral("Zwilling_*")}, QDir::Files,
                          QDirIterator::Subdirectories);
        QVERIFY2(!left.hasNext(), qPrintable(left.next()));
    }

    void folderDirectlyUnderTheRootKeepsItsNames() {
        if (geteuid() != 0)
            QSKIP("needs a folder directly under /, which only root may make");
        QTemporaryDir folder(QStringLiteral("/zanvolt-test-XXXXXX"));
        QVERIFY(folder.isValid());
        writeFile(folder.filePath(QStringLiteral("readme.txt")), "r");
        writeFile(folder.filePath(QStringLiteral("tool/b.txt")), "b");
        send({QUrl::fromLocalFile(folder.path())});
        const QString name = QFileInfo(folder.path()).fileName();
        QCOMPARE(sent->transfers().value(0).originalFileNames,
                 (QStringList{name + QStringLiteral("/readme.txt"), name + QStringLiteral("/tool/b.txt")}));
        QVERIFY(!uploads->error());
    }

    void dropsWhileRunningAreQueued() {
        fixture->server().delayNext(completePath, 1, 800);
        QList<QUrl> urls;
        for (const char* name : {"eins.txt", "zwei.txt", "drei.txt"})
            urls << file(QString::fromLatin1(name), name);
        QList<int> counts;
        connect(uploads, &Uploads::queueCountChanged, this, [&] { counts << uploads->queueCount(); });
        for (const QUrl& url : urls)
            uploads->uploadFiles({url}, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(completions() == 3 && !uploads->isUploading(), runTimeout);
        QCOMPARE(counts, (QList<int>{1, 2, 1, 0}));
        QStringList order;
        for (int i = 0; i < 3; ++i)
            order << completedName(i);
        QCOMPARE(order, (QStringList{"eins.txt", "zwei.txt", "drei.txt"}));
    }

    void cancellingStartsTheNextUpload() {
        using namespace std::chrono_literals;
        start({.waitLimits = {1h, 1h, 2h}}); // for the wait below
        const QUrl big = file(QStringLiteral("gross.bin"), QByteArray(11 * 1024 * 1024, 'g'));
        const QUrl small = file(QStringLiteral("klein.txt"), "k");
        fixture->server().delayNext(QStringLiteral("/api/upload-chunk"), 3, 3000);
        uploads->uploadFiles({big}, std::nullopt, false);
        uploads->uploadFiles({small}, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(fixture->server().maxInFlight(QStringLiteral("/api/upload-chunk")) > 0,
                                 runTimeout);
        // The next upload starts at once and clears the message again: keep every one.
        QStringList messages;
        connect(uploads, &Uploads::errorChanged, this,
                [&] { messages << uploads->error().value_or(QString()); });
        QElapsedTimer cancelled;
        cancelled.start();
        uploads->cancelUpload();
        QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QStringLiteral("Upload abgebrochen")), 5000);
        QVERIFY(cancelled.elapsed() < 2000); // aborted, not waiting for the delayed chunk answers
        QTRY_VERIFY_WITH_TIMEOUT(completions() == 1 && !uploads->isUploading(), runTimeout);
        QCOMPARE(completedName(), QStringLiteral("klein.txt"));
        // Only the second upload announced itself; the cancelled one stayed quiet.
        QCOMPARE(fixture->desktop.notifications.size(), 1);
        QCOMPARE(fixture->desktop.notifications.first().title, QStringLiteral("Upload abgeschlossen"));
        QVERIFY(!uploads->error()); // cleared when the next run started

        // Also while it waits for the network: its archive goes, nothing of it is sent once the
        // network is back, and the next one goes out then.
        server().clearRequests();
        server().outage(60000);
        uploads->uploadFiles({big, small}, std::nullopt, false);
        uploads->uploadFiles({small}, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(uploads->progressText().endsWith(QStringLiteral("Warte auf Verbindung…")),
                                 runTimeout);
        QDirIterator archives(PrivateTempDir::path(), {QStringLiteral("gross_*")}, QDir::Files,
                              QDirIterator::Subdirectories);
        const QString archive = archives.next();
        uploads->cancelUpload();
        QTRY_VERIFY(!QFile::exists(archive));
        QTRY_VERIFY_WITH_TIMEOUT(uploads->progressText().endsWith(QStringLiteral("Warte auf Verbindung…")),
                                 runTimeout);
        server().outage(0);
        fixture->http().notifyNetworkReturned();
        QTRY_VERIFY_WITH_TIMEOUT(completions() == 1 && !uploads->isUploading(), runTimeout);
        QCOMPARE(completedName(), QStringLiteral("klein.txt"));
        QCOMPARE(server().requests().size(), 3); // token, chunk, completion of the second
    }

    void serverFailureIsReported() {
        fixture->server().failNext(completePath, 1, 500, "kaputt");
        send({file(QStringLiteral("Plan.pdf"), "a")});
        const QString message = QStringLiteral("Server-Fehler 500: kaputt");
        QCOMPARE(uploads->error(), std::optional<QString>(message));
        QCOMPARE(fixture->desktop.notifications,
                 (QList<RecordingDesktopServices::Notification>{
                     {QStringLiteral("Upload fehlgeschlagen"), message, {}}}));
        QCOMPARE(fixture->desktop.failures, QStringList{QStringLiteral("Upload fehlgeschlagen")});
        QVERIFY(sent->transfers().isEmpty());
        QVERIFY(!uploads->justCompleted());
        QCOMPARE(states.last(), QStringLiteral("0 0 [] 0"));
    }

    void linkCopyingAndNotificationTexts() {
        const QUrl dropped = file(QStringLiteral("f.txt"), "f");
        struct Case {
            bool autoCopy;
            std::optional<QString> password;
            QString body;
        };
        const QList<Case> cases = {
            {true, QStringLiteral("geheim-123"), QStringLiteral("Link + Passwort kopiert")},
            {false, QStringLiteral("geheim-123"), QStringLiteral("Upload fertig — Passwort im Banner")},
            {true, std::nullopt, QStringLiteral("Link kopiert – bereit zum Teilen")},
            {false, std::nullopt, QStringLiteral("Klicken um Link zu kopieren")},
        };
        for (const Case& c : cases) {
            fixture->settings.setAutoCopyLink(c.autoCopy);
            fixture->desktop = RecordingDesktopServices();
            send({dropped}, c.password);
            const auto done = uploads->justCompleted();
            QVERIFY(done);
            QCOMPARE(done->password, c.password);
            QCOMPARE(fixture->desktop.notifications.value(0).body, c.body);
            QCOMPARE(fixture->desktop.notifications.value(0).downloadURL,
                     std::optional<QString>(done->downloadURL));
            const QStringList expectedCopy =
                !c.autoCopy  ? QStringList()
                : c.password ? QStringList{QStringLiteral("Download-Link: %1\nPasswort: %2")
                                               .arg(done->downloadURL, *c.password)}
                             : QStringList{done->downloadURL};
            QCOMPARE(fixture->desktop.copiedTexts, expectedCopy);
            QCOMPARE(sent->transfers().value(0).password, c.password); // carried into the list
            QCOMPARE(sent->transfers().value(0).hasPassword, c.password.has_value());
        }
        // A clipboard that did not take the link is never said to hold it.
        fixture->desktop = RecordingDesktopServices();
        fixture->desktop.refuseCopies = true;
        fixture->settings.setAutoCopyLink(true);
        send({dropped});
        QCOMPARE(fixture->desktop.notifications.value(0).body, QStringLiteral("Klicken um Link zu kopieren"));
        // Passwords live in memory only, the key in the secret store only: no file the runs wrote
        // (history, settings, certificate pins, temporary folder) holds either.
        QVERIFY(QFile::exists(fixture->historyPath() + QStringLiteral("/history.json")));
        for (const QString& folder : {fixture->dir.path(), PrivateTempDir::path()}) {
            QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                const QByteArray content = readAll(files.next());
                QVERIFY2(!content.contains("geheim-123"), qPrintable(files.filePath()));
                QVERIFY2(!content.contains(fixture->server().apiKey().toUtf8()),
                         qPrintable(files.filePath()));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
