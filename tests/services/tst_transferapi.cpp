#include "APIServiceIncoming.h"
#include "APIServiceOutgoing.h"
#include "HttpEngine.h"
#include "RecordedRequests.h"
#include "TemporaryHome.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "WaitForTask.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QStringList entryNames(const QList<APIService::ZipEntry>& entries) {
    QStringList names;
    for (const auto& entry : entries)
        names << entry.name;
    return names;
}

// Downloads in progress, or left behind by one that failed.
QStringList partFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden);
}
} // namespace

// The endpoints of sent transfers and customer uploads against the bundled server.
class TestTransferAPI : public QObject {
    Q_OBJECT

    TemporaryHome home; // the inbox lives in its Downloads folder
    std::unique_ptr<TestServerFixture> fixture;

    TransferServer& server() { return fixture->server(); }

private Q_SLOTS:
    void init() {
        fixture = std::make_unique<TestServerFixture>();
        QDir(home.path()).removeRecursively();
        QDir().mkpath(home.path());
    }

    void cleanup() { fixture.reset(); }

    void listIsDecodedAndFailuresCarryTheWholeBody() {
        const QString token =
            server().seedIncoming(QStringLiteral("Müller GmbH"), {{QStringLiteral("Plan.pdf"), "12345"}},
                                  QStringLiteral("A-17"), QStringLiteral("Bitte prüfen"));
        const QList<IncomingUpload> uploads = waitForTask(APIService::fetchIncoming());
        QCOMPARE(uploads.size(), 1);
        QCOMPARE(uploads[0].token, token);
        QCOMPARE(uploads[0].customerName, QStringLiteral("Müller GmbH"));
        QCOMPARE(uploads[0].auftragsnummer, QStringLiteral("A-17"));
        QCOMPARE(uploads[0].nachricht, QStringLiteral("Bitte prüfen"));
        QCOMPARE(uploads[0].files.value(0).name, QStringLiteral("Plan.pdf"));
        QCOMPARE(uploads[0].files.value(0).size, 5);
        QVERIFY(!uploads[0].isDownloaded);

        // Not shortened, unlike the common check's 500-character excerpt.
        const QString body = QStringLiteral("Zugriff verweigert – ").repeated(40);
        server().failNext(QStringLiteral("/api/incoming"), 1, 401, body.toUtf8());
        QCOMPARE(failureOf(APIService::fetchIncoming()), QStringLiteral("Server-Fehler 401: ") + body);
        server().failNext(QStringLiteral("/api/incoming"), 1, 502, "\xff\xfe kaputt");
        QCOMPARE(failureOf(APIService::fetchIncoming()), QStringLiteral("Server-Fehler 502: "));
        server().failNext(QStringLiteral("/api/incoming"), 1, 200, R"([{"token":"t"}])");
        QCOMPARE(failureOf(APIService::fetchIncoming()),
                 QStringLiteral("Die Daten konnten nicht gelesen werden, weil „customerName“ fehlt."));
    }

    void downloadsAreEscapedOnTheWireAndNeverReplaceAnything() {
        const QString name = QStringLiteral("Angebot Müller & Söhne.pdf");
        const QString first = server().seedIncoming(QStringLiteral("A"), {{name, "erste Fassung"}});
        const QString second = server().seedIncoming(QStringLiteral("B"), {{name, "zweite"}});
        server().clearRequests();

        const mode_t previousMask = ::umask(027);
        const QString saved = waitForTask(APIService::downloadFile(first, name));
        ::umask(previousMask);
        QCOMPARE(saved, APIService::incomingFolder() + u'/' + name);
        QCOMPARE(readAll(saved), QByteArray("erste Fassung"));
        // Saved like any new file of the user's, not with its temporary file's owner-only mode.
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(saved).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0640));
        // Another customer's file of the same name gets a free name; the first stays as it was.
        const QString numbered =
            APIService::incomingFolder() + QStringLiteral("/Angebot Müller & Söhne (2).pdf");
        QCOMPARE(waitForTask(APIService::downloadFile(second, name)), numbered);
        QCOMPARE(readAll(saved), QByteArray("erste Fassung"));
        QCOMPARE(readAll(numbered), QByteArray("zweite"));
        QCOMPARE(requestLines(server()),
                 (QStringList{
                     QStringLiteral("GET /api/incoming/%1/files/Angebot%20M%C3%BCller%20&%20S%C3%B6hne.pdf")
                         .arg(first),
                     QStringLiteral("GET /api/incoming/%1/files/Angebot%20M%C3%BCller%20&%20S%C3%B6hne.pdf")
                         .arg(second)}));

        // A sent file downloaded again next to a folder of its name, with the user's documents in it.
        const QString again = home.path() + QStringLiteral("/Downloads/Zanvolt");
        writeFile(again + QStringLiteral("/Plan.pdf/notiz.txt"), "meins");
        const QString code = server().seedTransfer({{QStringLiteral("Plan.pdf"), "gesendet"}});
        QCOMPARE(waitForTask(APIService::downloadOutgoingFile(code, QStringLiteral("Plan.pdf"), again)),
                 again + QStringLiteral("/Plan (2).pdf"));
        QCOMPARE(readAll(again + QStringLiteral("/Plan.pdf/notiz.txt")), QByteArray("meins"));

        QCOMPARE(failureOf(APIService::downloadFile(first, QStringLiteral("fehlt.txt"))),
                 QStringLiteral("Netzwerk-Fehler: Download fehlgeschlagen"));
        QVERIFY(partFiles(APIService::incomingFolder()).isEmpty());
        QVERIFY(partFiles(again).isEmpty());
    }

    void aCutDownloadContinuesWithARangeOrStartsAgain() {
        using namespace std::chrono_literals;
        HttpEngine::instance().setWaitLimits({50ms, 50ms, 20s});
        const auto restore = qScopeGuard([] { HttpEngine::instance().setWaitLimits({}); });
        const QByteArray content = randomBytes(300'000, 7);
        const QString token =
            server().seedIncoming(QStringLiteral("Kunde"), {{QStringLiteral("Plan.pdf"), content}});
        const QString files = QStringLiteral("/api/incoming/") + token + QStringLiteral("/files/Plan.pdf");
        const QString inbox = APIService::incomingFolder();
        const auto partHolds = [inbox](qint64 size) {
            const QFileInfoList parts =
                QDir(inbox).entryInfoList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden);
            return std::ranges::any_of(parts, [size](const QFileInfo& part) { return part.size() == size; });
        };
        // Cut off by an outage after a third of the file; the attempts during the outage get nothing.
        server().clearRequests();
        server().truncateNext(files, 1, 100'000, 5000);
        auto task = APIService::downloadFile(token, QStringLiteral("Plan.pdf"));
        QTRY_VERIFY_WITH_TIMEOUT(partHolds(100'000), 10000);
        server().outage(500);
        QCOMPARE(readAll(waitForTask(std::move(task))), content);
        auto requests = requestsTo(server(), files);
        QCOMPARE(requests.size(), 2);
        QVERIFY(!requests[0].headers.contains("range"));
        QCOMPARE(requests[1].headers.value("range"), QStringLiteral("bytes=100000-"));
        QVERIFY(requests[1].headers.value("if-range").startsWith(u'"')); // the first answer's ETag

        // The file changed on the server while the download was cut off: the server answers the
        // range with the whole new file, which replaces what was kept.
        const QByteArray changed = randomBytes(300'000, 8);
        server().clearRequests();
        server().truncateNext(files, 1, 100'000, 2000);
        task = APIService::downloadFile(token, QStringLiteral("Plan.pdf"));
        QTRY_VERIFY_WITH_TIMEOUT(partHolds(100'000), 10000);
        writeFile(server().dataDir() + QStringLiteral("/incoming/") + token + QStringLiteral("/Plan.pdf"),
                  changed);
        QCOMPARE(readAll(waitForTask(std::move(task))), changed);
        requests = requestsTo(server(), files);
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[1].headers.value("range"), QStringLiteral("bytes=100000-"));
        QVERIFY(!entriesIn(inbox).join(u' ').contains(QStringLiteral(".part")));
    }

    void hostileNamesStayInsideTheInbox() {
        const QList<std::pair<QString, QString>> cases = {
            {QStringLiteral("../../entkommen.txt"), ".._.._entkommen.txt"},
            {QStringLiteral(".."), "__"},
            {QStringLiteral("."), "_"},
            {QStringLiteral("Ordner\\..\\x.txt"), "Ordner_.._x.txt"},
            {QStringLiteral("/etc/passwd"), "_etc_passwd"},
            {QStringLiteral("..."), "..."}};
        for (const auto& [hostile, safe] : cases) {
            // A name with dot segments may reach another path once the URL is normalised:
            // answer whatever arrives, as a hostile server would.
            server().failNext(QStringLiteral("/api/*"), 1, 200, hostile.toUtf8());
            const QString saved = waitForTask(APIService::downloadFile(QStringLiteral("T1"), hostile));
            QCOMPARE(saved, APIService::incomingFolder() + u'/' + safe);
            QCOMPARE(readAll(saved), hostile.toUtf8());
        }
        QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Downloads")});
        QCOMPARE(QDir(home.path() + QStringLiteral("/Downloads"))
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Zanvolt-Eingang")});

        // The inbox itself cannot be made: the file system's reason reaches the user.
        QDir(home.path()).removeRecursively();
        QDir().mkpath(home.path());
        QFile blocker(home.path() + QStringLiteral("/Downloads"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        server().failNext(QStringLiteral("/api/incoming/T1/files/*"), 1, 200, "x");
        QVERIFY(failureOf(APIService::downloadFile(QStringLiteral("T1"), QStringLiteral("a.txt")))
                    .startsWith(QStringLiteral("Der Ordner „%1“ konnte nicht erstellt werden: ")
                                    .arg(APIService::incomingFolder())));
        QVERIFY(partFiles(APIService::incomingFolder()).isEmpty());
    }

    void aFullDiskFailsTheDownloadAndLeavesNothing() {
        if (::geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        const QString inbox = APIService::incomingFolder();
        QDir().mkpath(inbox);
        QProcess mount;
        mount.start(QStringLiteral("mount"),
                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                     QStringLiteral("size=64k"), QStringLiteral("none"), inbox});
        QVERIFY(mount.waitForFinished() && mount.exitCode() == 0);
        const auto unmount = qScopeGuard([inbox] { QProcess::execute(QStringLiteral("umount"), {inbox}); });
        writeFile(inbox + QStringLiteral("/schon da.txt"), "bleibt");

        const QString token = server().seedIncoming(
            QStringLiteral("Kunde"), {{QStringLiteral("gross.bin"), QByteArray(512 * 1024, 'x')}});
        QCOMPARE(failureOf(APIService::downloadFile(token, QStringLiteral("gross.bin"))),
                 QStringLiteral("Nicht genug Speicherplatz für den Download"));
        QCOMPARE(QDir(inbox).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("schon da.txt")});
        QCOMPARE(readAll(inbox + QStringLiteral("/schon da.txt")), QByteArray("bleibt"));
    }

    void markingAndDeletingFollowTheirStatusRules() {
        const QString token =
            server().seedIncoming(QStringLiteral("Kunde"), {{QStringLiteral("a.txt"), "a"}});
        const QString path = QStringLiteral("/api/incoming/") + token;

        QVERIFY(!waitForTask(APIService::fetchIncoming()).value(0).isDownloaded);
        QCOMPARE(failureOf(APIService::markAsDownloaded(token)), QStringLiteral("<no error>"));
        QVERIFY(waitForTask(APIService::fetchIncoming()).value(0).isDownloaded);

        server().failNext(path, 1, 500, "kaputt");
        QCOMPARE(failureOf(APIService::deleteIncoming(token)),
                 QStringLiteral("Netzwerk-Fehler: Löschen fehlgeschlagen"));
        server().failNext(path, 1, 204, {});
        QCOMPARE(failureOf(APIService::deleteIncoming(token)), QStringLiteral("<no error>"));
        QCOMPARE(waitForTask(APIService::fetchIncoming()).size(), 1);
        QCOMPARE(failureOf(APIService::deleteIncoming(token)), QStringLiteral("<no error>"));
        QVERIFY(waitForTask(APIService::fetchIncoming()).isEmpty());
        QCOMPARE(failureOf(APIService::deleteIncoming(token)),
                 QStringLiteral("<no error>")); // 404: already gone

        // The token is one path segment, whatever it holds.
        server().clearRequests();
        failureOf(APIService::deleteIncoming(QStringLiteral("a b?c")));
        QCOMPARE(requestLines(server()), QStringList{QStringLiteral("DELETE /api/incoming/a%20b%3Fc")});
    }

    void listDecoding() {
        // Dates with and without a fraction; ZIP entries of the first listed file that has some.
        server().failNext(
            QStringLiteral("/api/outgoing"), 1, 200,
            "[{\"code\":\"K1\",\"files\":[{\"name\":\"A.zip\",\"size\":1,\"sizeFormatted\":\"1 B\"},"
            "{\"name\":\"B.zip\",\"size\":2,\"sizeFormatted\":\"2 B\"}],"
            "\"downloadURL\":\"https://s/d/K1\",\"createdAt\":\"2024-05-01T12:30:45.500+02:00\","
            "\"isDownloaded\":false,\"zipEntries\":{\"B.zip\":[{\"name\":\"b/1.txt\",\"size\":7}],"
            "\"Z.zip\":[{\"name\":\"z.txt\",\"size\":1}]}},"
            "{\"code\":\"K2\",\"files\":[],\"downloadURL\":\"u\",\"createdAt\":\"2024-05-01T12:30:45Z\","
            "\"isDownloaded\":true,\"hasPassword\":null,\"zipEntries\":{\"Z.zip\":[{\"name\":\"z.txt\","
            "\"size\":1}]}},"
            "{\"code\":\"K3\",\"files\":[],\"downloadURL\":\"u\",\"createdAt\":\"2024-05-01T12:30:45Z\","
            "\"isDownloaded\":false}]");
        const auto list = waitForTask(APIService::fetchOutgoing());
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[0].createdAt, QDateTime(QDate(2024, 5, 1), QTime(10, 30, 45, 500), Qt::UTC));
        QCOMPARE(entryNames(list[0].primaryZipEntries()), QStringList{"b/1.txt"});
        QCOMPARE(list[0].primaryZipEntries().first().size, 7);
        QCOMPARE(entryNames(list[1].primaryZipEntries()), QStringList{"z.txt"}); // no file matches
        QCOMPARE(list[1].hasPassword, std::nullopt);
        QVERIFY(list[2].primaryZipEntries().isEmpty());

        // One bad element fails the whole list with the decoder's text.
        server().failNext(QStringLiteral("/api/outgoing"), 1, 200,
                          "[{\"code\":\"K1\",\"files\":[],\"downloadURL\":\"u\",\"createdAt\":\"2024-05-01\","
                          "\"isDownloaded\":false}]");
        QCOMPARE(failureOf(APIService::fetchOutgoing()), QStringLiteral("Ungültiges Datum: 2024-05-01"));
        server().failNext(QStringLiteral("/api/outgoing"), 1, 200,
                          "[{\"code\":\"K1\",\"files\":[],\"downloadURL\":\"u\",\"isDownloaded\":false}]");
        QVERIFY(failureOf(APIService::fetchOutgoing()).contains(QStringLiteral("„createdAt“ fehlt")));
        server().failNext(QStringLiteral("/api/outgoing"), 1, 503, "[]");
        QCOMPARE(failureOf(APIService::fetchOutgoing()),
                 QStringLiteral("Netzwerk-Fehler: Fehler beim Laden der Transfers"));
    }

    void codesAndNamesStayInTheirPathSegment() {
        QCOMPARE(failureOf(APIService::revealOutgoingPassword(QStringLiteral("a/b c"))),
                 QStringLiteral("Server-Fehler 404: {\"error\":\"Transfer nicht gefunden\"}"));
        QCOMPARE(server().requests().last().path, QStringLiteral("/api/outgoing/a%2Fb%20c/password"));
        QCOMPARE(failureOf(APIService::downloadOutgoingFile(QStringLiteral("K?1"),
                                                            QStringLiteral("Mein Plan #2.pdf"), home.path())),
                 QStringLiteral("Netzwerk-Fehler: Download fehlgeschlagen (HTTP 404)"));
        QCOMPARE(server().requests().last().path, QStringLiteral("/d/K%3F1/file/Mein%20Plan%20%232.pdf"));
        QCOMPARE(server().requests().last().headers.value("x-api-key"), server().apiKey());

        // Sent exactly as built: "/" and dot segments stay inside their segment, nothing is merged.
        failureOf(APIService::revealOutgoingPassword(QStringLiteral("..")));
        QCOMPARE(server().requests().last().path, QStringLiteral("/api/outgoing/%2E%2E/password"));
        failureOf(APIService::downloadFile(QStringLiteral("."), QStringLiteral("../../api/outgoing")));
        QCOMPARE(server().requests().last().path,
                 QStringLiteral("/api/incoming/%2E/files/..%2F..%2Fapi%2Foutgoing"));
        failureOf(APIService::deleteOutgoing(QStringLiteral("a//b")));
        QCOMPARE(server().requests().last().path, QStringLiteral("/api/outgoing/a%2F%2Fb"));
        QCOMPARE(server().requests().last().method, QStringLiteral("DELETE"));
    }
};

QTEST_GUILESS_MAIN(TestTransferAPI)
#include "tst_transferapi.moc"
