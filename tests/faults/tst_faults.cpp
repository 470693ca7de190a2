#include "APIService.h"
#include "APIServiceIncoming.h"
#include "APIServiceOutgoing.h"
#include "APIServiceUpload.h"
#include "HttpEngine.h"
#include "PrivateTempDir.h"
#include "RecordedRequests.h"
#include "SafeFileName.h"
#include "SessionFixture.h"
#include "TestFiles.h"
#include "WaitForTask.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTest>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
constexpr int runTimeout = 30000;
const QString chunkPath = QStringLiteral("/api/upload-chunk");
const QString completePath = QStringLiteral("/api/upload-complete");

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

QByteArray incomingList(const QString& fileMember, const QString& dateMember) {
    return QStringLiteral(R"([{"token":"T","customerName":"K","auftragsnummer":null,"nachricht":null,
        "files":[{"name":"a.pdf",%1,"sizeFormatted":"?"}],"uploadDate":%2,"isDownloaded":false}])")
        .arg(fileMember, dateMember)
        .toUtf8();
}
} // namespace

// What the client does when the server, the network, the files or its own history misbehave:
// each case as the user would meet it, against the bundled server and real files.
class TestFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionFixture> fixture;
    Uploads* uploads = nullptr;

    TransferServer& server() { return fixture->server(); }
    void waitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!uploads->isUploading(), runTimeout); }

private Q_SLOTS:
    void init() {
        fixture = std::make_unique<SessionFixture>();
        uploads = fixture->uploads;
        server().setRecordBodies(true);
    }
    void cleanup() { fixture.reset(); }

    void damagedHistoryIsSaidOnceAndLosesNoUpload() {
        const QString folder = fixture->dir.filePath(QStringLiteral("damaged"));
        {
            TransferHistoryService history(folder);
            for (int day = 1; day <= 19; ++day)
                history.add(historyItem(QStringLiteral("H%1").arg(day), day));
            QByteArray bytes = readAll(history.fileURL());
            bytes.replace("2024-05-07T12:00:00Z", "2024-05-07"); // one malformed date
            writeFile(history.fileURL(), bytes);
        }
        SentTransfers sent(fixture->session->account(), folder, nullptr);
        QCOMPARE(sent.transfers().size(), 18);
        const QStringList kept = keptHistories(folder);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(sent.error(),
                 std::optional<QString>(
                     QStringLiteral("Der Verlauf war teilweise unlesbar; die Datei wurde aufbewahrt: ") +
                     folder + u'/' + kept.first()));
        sent.addUploaded(historyItem(QStringLiteral("NEU"), 20));
        QCOMPARE(sent.transfers().size(), 19);
        QCOMPARE(TransferHistoryService(folder).load().size(), 19);
        QCOMPARE(keptHistories(folder).size(), 1);
        // Said once: a second start finds an intact history.
        QVERIFY(!SentTransfers(fixture->session->account(), folder, nullptr).error());

        // A history that cannot be written: the upload stays in the list, and the user is told.
        const QString blocked = fixture->dir.filePath(QStringLiteral("blocked"));
        QVERIFY(QDir().mkpath(blocked + QStringLiteral("/history.json/x")));
        SentTransfers unwritable(fixture->session->account(), blocked, nullptr);
        QCOMPARE(unwritable.error(),
                 std::optional<QString>(
                     QStringLiteral("Der Verlauf ist nicht lesbar und wird nicht überschrieben: ") + blocked +
                     QStringLiteral("/history.json")));
        unwritable.addUploaded(historyItem(QStringLiteral("NEU"), 20));
        QCOMPARE(unwritable.transfers().size(), 1);
        QCOMPARE(unwritable.transfers().first().code, QStringLiteral("NEU"));
        QCOMPARE(unwritable.error(),
                 std::optional<QString>(QStringLiteral("Der Verlauf konnte nicht gespeichert werden: ") +
                                        blocked + QStringLiteral("/history.json")));
        QVERIFY(QFileInfo(blocked + QStringLiteral("/history.json/x")).isDir());
    }

    void onlyRegularFilesAndFoldersAreSent() {
        server().clearRequests();
        const QString pipe = fixture->dir.filePath(QStringLiteral("Rohr"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        const QString refused =
            QStringLiteral("„Rohr“ ist keine normale Datei und kein Ordner und kann nicht gesendet werden.");
        uploads->uploadFiles({QUrl::fromLocalFile(pipe)}, std::nullopt, false);
        waitIdle();
        QCOMPARE(uploads->error(), std::optional<QString>(refused));
        // Among other items, and as a device.
        const QUrl plain = fixture->file(QStringLiteral("a.txt"), "a");
        uploads->uploadFiles({plain, QUrl::fromLocalFile(QStringLiteral("/dev/zero"))}, std::nullopt, false);
        waitIdle();
        QCOMPARE(uploads->error(),
                 std::optional<QString>(QStringLiteral(
                     "„zero“ ist keine normale Datei und kein Ordner und kann nicht gesendet werden.")));
        // A link to nothing among other items is named, not left out.
        QVERIFY(QFile::link(fixture->dir.filePath(QStringLiteral("weg")), fixture->dir.filePath("Verweis")));
        uploads->uploadFiles({plain, QUrl::fromLocalFile(fixture->dir.filePath("Verweis"))}, std::nullopt,
                             false);
        waitIdle();
        QCOMPARE(uploads->error(),
                 std::optional<QString>(
                     QStringLiteral("„Verweis“ verweist auf nichts (das Ziel der Verknüpfung fehlt) und kann "
                                    "nicht gesendet werden.")));
        QVERIFY(requestLines(server(), QStringLiteral("/api/")).isEmpty());

        // Inside a folder, pipes and devices are skipped by zip, never read.
        fixture->file(QStringLiteral("Ordner/a.txt"), "a");
        QCOMPARE(::mkfifo(QFile::encodeName(fixture->dir.filePath(QStringLiteral("Ordner/rohr"))).constData(),
                          0600),
                 0);
        ::mknod(QFile::encodeName(fixture->dir.filePath(QStringLiteral("Ordner/null"))).constData(),
                S_IFCHR | 0600, makedev(1, 3)); // needs root; the pipe alone covers the case otherwise
        uploads->uploadFiles({QUrl::fromLocalFile(fixture->dir.filePath(QStringLiteral("Ordner")))},
                             std::nullopt, false);
        waitIdle();
        QVERIFY2(!uploads->error(), qPrintable(uploads->error().value_or(QString())));
        QCOMPARE(fixture->sent->transfers().value(0).originalFileNames, QStringList{"Ordner/a.txt"});
        QCOMPARE(requestsTo(server(), completePath).size(), 1);
    }

    void aStalledServerShowsTheSpeedFallingAndSaysItStopped() {
        QStringList texts;
        connect(uploads, &Uploads::progressTextChanged, this, [&] { texts << uploads->progressText(); });
        // One chunk, sent at once, then the server is silent for longer than the speed's window.
        server().delayNext(chunkPath, 1, 7500);
        uploads->uploadFiles({fixture->file(QStringLiteral("still.bin"), QByteArray(2'000'000, 's'))},
                             std::nullopt, false);
        waitIdle();
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
        HttpEngine::instance().setInactivityLimit(1);
        HttpEngine::instance().setWaitLimits({100ms, 100ms, 1500ms});
        const auto restore = qScopeGuard([] {
            HttpEngine::instance().setInactivityLimit(60);
            HttpEngine::instance().setWaitLimits({});
        });
        server().clearRequests();
        server().delayNext(QStringLiteral("/api/create-upload-token"), 100, 2500);
        uploads->uploadFiles({fixture->file(QStringLiteral("weg.bin"), "x")}, std::nullopt, false);
        waitIdle();
        QCOMPARE(uploads->error(), std::optional<QString>(
                                       QStringLiteral("Der Server antwortet nicht (1 Sekunden ohne Daten)")));
        QVERIFY(requestsTo(server(), chunkPath).isEmpty());
        QVERIFY2(requestsTo(server(), QStringLiteral("/api/create-upload-token")).size() >= 2,
                 qPrintable(texts.join(u'\n')));
        QVERIFY2(texts.contains(QStringLiteral("0% von 1 B – Warte auf Verbindung…")),
                 qPrintable(texts.join(u'\n')));
    }

    void aDroppedConnectionIsRetriedOrFailsCleanly() {
        using namespace std::chrono_literals;
        HttpEngine::instance().setWaitLimits({100ms, 200ms, 1500ms});
        const auto restore = qScopeGuard([] { HttpEngine::instance().setWaitLimits({}); });
        // Gone for two attempts and back for the third: the upload completes with the right bytes.
        server().dropNext(chunkPath, 2);
        const QUrl first = fixture->file(QStringLiteral("x/Plan.pdf"), QByteArray(100'000, 'p'));
        uploads->uploadFiles({first}, std::nullopt, false);
        waitIdle();
        QVERIFY(!uploads->error());
        const auto chunks = requestsTo(server(), chunkPath);
        QCOMPARE(chunks.size(), 3);
        QVERIFY(chunks.last().body.contains(QByteArray(100'000, 'p')));
        QCOMPARE(requestsTo(server(), completePath).size(), 1);

        // Gone for longer than the upload waits: a clean failure, nothing completed, and the archive
        // of a packed upload removed with the run (nothing tries it again).
        server().clearRequests();
        server().dropNext(chunkPath, 1000);
        const QUrl second = fixture->file(QStringLiteral("x/Liste.pdf"), "l");
        uploads->uploadFiles({first, second}, std::nullopt, false);
        waitIdle();
        QVERIFY(uploads->error());
        QVERIFY(requestsTo(server(), completePath).isEmpty());
        QCOMPARE(fixture->sent->transfers().size(), 1); // only the first upload
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

    void aLockedOrAbsentSecretStoreIsNeverTakenForNoSettings() {
        const QString message =
            QStringLiteral("Der Schlüsselbund ist gesperrt oder nicht erreichbar (Keychain-Fehler: 2). Die "
                           "gespeicherten Einstellungen bleiben erhalten.");
        ServerAccount* account = fixture->session->account();
        server().clearRequests();
        fixture->store().failFindsWith = 2;
        QCOMPARE(failureOf(account->storedCredentials()), message);
        QCOMPARE(account->state(), ServerAccount::State::Unavailable);
        QVERIFY(account->isConfigured());
        // The lists say it too, and nothing is asked of the server.
        waitForTask(fixture->received->refresh());
        QCOMPARE(fixture->received->error(), std::optional<QString>(message));
        QVERIFY(server().requests().isEmpty());

        // Unlocked again: the stored pair is there as it was, and an upload goes out.
        fixture->store().failFindsWith = 0;
        QCOMPARE(waitForTask(account->storedCredentials()).value().serverURL, server().baseURL());
        uploads->uploadFiles({fixture->file(QStringLiteral("a.txt"), "a")}, std::nullopt, false);
        waitIdle();
        QVERIFY(!uploads->error());
        QCOMPARE(requestsTo(server(), completePath).size(), 1);
    }

    void redirectsReachNothingElse() {
        TransferServer other;
        QVERIFY(other.start());
        const QString file = fixture->file(QStringLiteral("r.txt"), "r").toLocalFile();
        for (const int status : {301, 302, 307, 308}) {
            const QByteArray elsewhere = (other.baseURL() + QStringLiteral("/api/outgoing")).toUtf8();
            server().redirectNext(QStringLiteral("/api/outgoing"), 1, status, elsewhere);
            QCOMPARE(failureOf(APIService::fetchOutgoing()),
                     QStringLiteral("Netzwerk-Fehler: Fehler beim Laden der Transfers"));
            // An upload's first request, with the key, redirected to another port.
            server().redirectNext(QStringLiteral("/api/create-upload-token"), 1, status,
                                  (other.baseURL() + QStringLiteral("/api/create-upload-token")).toUtf8());
            QCOMPARE(failureOf(APIService::uploadOutgoing(file, {}, false, {})),
                     QStringLiteral("Server-Fehler %1: <html><body>Moved</body></html>").arg(status));
        }
        QVERIFY(other.requests().isEmpty());
    }

    void hostileAnswersEndInATextNotACrash() {
        const QString list = QStringLiteral("/api/incoming");
        // A 500 with an HTML page, and a 200 whose JSON is cut off or nested beyond reason.
        server().failNext(list, 1, 500, "<html><body><h1>Internal Server Error</h1></body></html>");
        QCOMPARE(
            failureOf(APIService::fetchIncoming()),
            QStringLiteral("Server-Fehler 500: <html><body><h1>Internal Server Error</h1></body></html>"));
        server().failNext(list, 1, 200, R"([{"token":"T","customerName":)");
        QVERIFY(
            failureOf(APIService::fetchIncoming())
                .startsWith(QStringLiteral("Die Daten konnten nicht gelesen werden, weil sie kein gültiges "
                                           "JSON sind (")));
        server().failNext(list, 1, 200, QByteArray(100'000, '[') + QByteArray(100'000, ']'));
        QVERIFY(failureOf(APIService::fetchIncoming())
                    .startsWith(QStringLiteral("Die Daten konnten nicht gelesen werden")));

        // Sizes and dates beyond reason: a negative size is shown as the server's text says,
        // a size beyond 64 bits or an impossible date fails the list with a reason.
        server().failNext(list, 1, 200, incomingList(R"("size":-5)", R"("2024-05-01T12:00:00Z")"));
        const auto negative = waitForTask(APIService::fetchIncoming());
        QCOMPARE(negative.value(0).files.value(0).size, -5);
        server().failNext(list, 1, 200, incomingList(R"("size":1e300)", R"("2024-05-01T12:00:00Z")"));
        QCOMPARE(failureOf(APIService::fetchIncoming()),
                 QStringLiteral("Die Daten konnten nicht gelesen werden, weil „size“ den falschen Typ hat."));
        server().failNext(list, 1, 200, incomingList(R"("size":5)", R"("9999-12-31T23:59:59Z")"));
        QCOMPARE(waitForTask(APIService::fetchIncoming()).value(0).uploadDate.date().year(), 9999);
        server().failNext(list, 1, 200, incomingList(R"("size":5)", R"("2024-13-45T99:00:00Z")"));
        QCOMPARE(failureOf(APIService::fetchIncoming()),
                 QStringLiteral("Ungültiges Datum: 2024-13-45T99:00:00Z"));
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
