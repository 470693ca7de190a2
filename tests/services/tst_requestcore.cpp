#include "DevServer.h"
#include "NginxServer.h"
#include "RecordedRequests.h"
#include "TemporaryHome.h"
#include "TestCertificates.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "WaitForTask.h"
#include "models/APIError.h"
#include "models/CancelledError.h"
#include "net/CertificatePins.h"
#include "net/HttpEngine.h"
#include "net/HttpError.h"
#include "services/APIRequest.h"
#include "services/APIService.h"
#include "services/APIServiceIncoming.h"
#include "services/APIServiceOutgoing.h"
#include "services/APIServiceUpload.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray probePath = QByteArrayLiteral("/api/outgoing");

// Builds and sends one request the way every endpoint does, then applies the common check (or
// downloads its answer); returns the description of what was thrown, or "<no error>".
QString outcome(TestServerFixture& fixture, bool download = false) {
    return failureOf([](TestServerFixture& fixture, bool download) -> QCoro::Task<> {
        const APIRequest request = APIRequest::make(fixture.connection(), probePath);
        if (download)
            QFile::remove((co_await request.download(QDir::tempPath())).filePath);
        else
            APIService::expectJSONOK(co_await request.send(QByteArrayLiteral("GET")));
    }(fixture, download));
}

// The sites in front of the bundled server at `backendPort` (plain HTTP): the first passes
// everything through; the second answers a chunk upload with 413 from its headers alone, before
// reading the body.
QStringList proxySites(int backendPort) {
    const QString pass =
        QStringLiteral("    location / { proxy_pass http://127.0.0.1:%1; proxy_http_version 1.1; "
                       "proxy_request_buffering off; proxy_buffering off; }")
            .arg(backendPort);
    const QString refuse = QStringLiteral("    location = /api/upload-chunk { client_max_body_size 1k; "
                                          "proxy_pass http://127.0.0.1:%1; }\n")
                               .arg(backendPort);
    return {pass, refuse + pass};
}

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

using namespace TestCertificates;

QJsonObject pinFile(const QString& path) {
    return QJsonDocument::fromJson(readAll(path)).object();
}

const QString changed = QStringLiteral("Netzwerk-Fehler: Zertifikat des Servers hat sich geändert");

// A request the way the update feed sends it: never trusted on first use.
// The HTTP status, or the kind of transport failure as a negative number.
int feedRequest(TestServerFixture& fixture, const DevServer& server) {
    HttpRequest request;
    request.url = (server.baseURL() + QStringLiteral("/api/incoming")).toUtf8();
    request.trustOnFirstUse = false;
    try {
        return waitForTask(fixture.http().send(request)).status;
    } catch (const HttpError& error) {
        return -1 - int(error.kind());
    }
}
} // namespace

// The request core and the endpoints of sent transfers and customer uploads against the bundled
// HTTPS server with its self-signed certificate, behind an HTTP/2 proxy, and what a quit in the
// middle of a transfer leaves.
class TestRequestCore : public QObject {
    Q_OBJECT

    TemporaryHome home; // the inbox lives in its Downloads folder
    std::unique_ptr<TestServerFixture> fixture;
    DevServer& server() { return fixture->server(); }
    HttpEngine::Options atHome{.pinsFolder = home.filePath(QStringLiteral(".zanvolt"))};
    // Another server's URL and key as the stored ones; its pins beside the history in ".zanvolt".
    void useServer(const DevServer& other, const QString& url = {}) {
        fixture->useEngine(atHome);
        fixture->storeCredentials(url.isEmpty() ? other.baseURL() : url, other.apiKey());
    }

private Q_SLOTS:
    void init() {
        fixture = std::make_unique<TestServerFixture>();
        QDir(home.path()).removeRecursively();
        QDir().mkpath(home.path());
    }
    void cleanup() { fixture.reset(); }

    void configurationIsCheckedBeforeAnythingIsSent() {
        const QString url = server().baseURL();
        const QString key = server().apiKey();

        fixture->store().items.clear();
        QCOMPARE(outcome(*fixture), QStringLiteral("Server-URL nicht konfiguriert"));
        fixture->storeCredentials({}, {});
        QCOMPARE(outcome(*fixture), QStringLiteral("Server-URL nicht konfiguriert"));
        fixture->storeCredentials(url, {});
        QCOMPARE(outcome(*fixture), QStringLiteral("API-Key nicht konfiguriert"));
        // Blanks are neither trimmed nor encoded: such a URL fails in order.
        fixture->storeCredentials(url + QStringLiteral("/mein server"), key);
        QCOMPARE(outcome(*fixture), QStringLiteral("Netzwerk-Fehler: Ungültige Server-URL"));
        fixture->storeCredentials(QStringLiteral(" ") + url, key);
        QCOMPARE(outcome(*fixture), QStringLiteral("Netzwerk-Fehler: Ungültige Server-URL"));
        fixture->storeCredentials(QStringLiteral("127.0.0.1:%1").arg(server().port()), key);
        QCOMPARE(outcome(*fixture), QStringLiteral("Netzwerk-Fehler: Ungültige Server-URL"));
        // A key with a line break, provisioned beside the app (secret-tool), would inject a header.
        fixture->store().items[{KeychainService::serviceName, KeychainService::credentialsAccount}] =
            KeychainService::Credentials{url, key + QStringLiteral("\r\nX-Injected: ja")}.toJson();
        QCOMPARE(outcome(*fixture), QStringLiteral("Der API-Schlüssel enthält unzulässige Zeichen."));
        // Nor does the HTTP layer send such a header for anyone else.
        HttpRequest raw;
        raw.url = (url + QStringLiteral("/api/outgoing")).toUtf8();
        raw.headers.append({"X-Api-Key", key.toUtf8() + "\nX-Injected: ja"});
        QCOMPARE(failureOf(fixture->http().send(raw)),
                 QStringLiteral("Ein HTTP-Header enthält unzulässige Zeichen."));
        QCOMPARE(server().requests().size(), 0);

        // Read afresh for every request: the repaired settings count at once. One trailing slash
        // is removed; a second is sent as typed, and the server knows no such path.
        fixture->storeCredentials(url + QStringLiteral("/"), key);
        QCOMPARE(outcome(*fixture), QStringLiteral("<no error>"));
        fixture->storeCredentials(url + QStringLiteral("//"), key);
        QCOMPARE(outcome(*fixture), QStringLiteral("Server-Fehler 404: Nicht gefunden"));
        QCOMPARE(requestLines(server()),
                 (QStringList{QStringLiteral("GET /api/outgoing"), QStringLiteral("GET //api/outgoing")}));
        QVERIFY(!server().requests().at(0).headers.contains("content-type"));
    }

    void responseCheck() {
        const QString notJSON = QStringLiteral("Netzwerk-Fehler: Unerwartete Antwort (kein JSON): ");
        // Cut after 200 user-perceived characters: "é" here is two code points
        // in three bytes, so neither bytes nor UTF-16 units give this text.
        const QString e = QStringLiteral("e\u0301");
        const QString long500 = QStringLiteral("ä").repeated(499) + QStringLiteral("ü");
        struct Case {
            int status;
            QByteArray body;
            QString expected;
        };
        const QList<Case> cases = {
            // No list the app reads comes near this; the memory stays bounded.
            {200, "[" + QByteArray(65'000'000, ' ') + "]",
             QStringLiteral("Antwort des Servers zu groß (über 64 MB)")},
            {200, {}, QStringLiteral("<no error>")},
            {200, "[1,2]", QStringLiteral("<no error>")},
            {200, (QStringLiteral("<p>") + e.repeated(300)).toUtf8(),
             notJSON + QStringLiteral("<p>") + e.repeated(197)},
            // No whitespace or byte-order mark is skipped before the JSON.
            {200, " {}", notJSON + QStringLiteral(" {}")},
            {200, "\xEF\xBB\xBF{}", notJSON + QStringLiteral("{}")},
            {403, "forbidden", QStringLiteral("Server-Fehler 403: forbidden")},
            // The status is checked first, even when the body is JSON; 500 characters are kept.
            {500, (long500 + QStringLiteral("xyz")).toUtf8(),
             QStringLiteral("Server-Fehler 500: ") + long500},
            {404, R"({"error":"weg"})", QStringLiteral(R"(Server-Fehler 404: {"error":"weg"})")},
            // A body that is not UTF-8 counts as empty text.
            {502, "\xC3\x28 kaputt", QStringLiteral("Server-Fehler 502: ")},
            {200, "<\xC3\x28>", notJSON},
        };
        for (const Case& c : cases) {
            server().failNext(QString::fromLatin1(probePath), 1, c.status, c.body);
            QCOMPARE(outcome(*fixture), c.expected);
        }
    }

    // What failed and where, in the user's words, with the transport's own after it in parentheses.
    // {refused}: a port nobody listens on; {plain}: a plain HTTP server; {silent}: a port that
    // takes connections and never answers; {server}: the bundled server.
    void transportFailuresNameTheirCause_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("expected");
        const QString refused = QStringLiteral("https://127.0.0.1:{refused}");
        QTest::newRow("refused") << refused << QString()
                                 << QStringLiteral("Der Server „127.0.0.1:{refused}“ ist nicht erreichbar");
        QTest::newRow("no TLS") << QStringLiteral("https://127.0.0.1:{plain}") << QString()
                                << QStringLiteral(
                                       "Die sichere Verbindung zum Server „127.0.0.1:{plain}“ konnte "
                                       "nicht aufgebaut werden: Der Server spricht dort kein HTTPS");
        QTest::newRow("unresolvable") << QStringLiteral("https://zanvolt.invalid") << QString()
                                      << QStringLiteral("Der Servername „zanvolt.invalid“ konnte nicht "
                                                        "aufgelöst werden");
        QTest::newRow("dead proxy") << QStringLiteral("{server}")
                                    << QStringLiteral("http://127.0.0.1:{refused}")
                                    << QStringLiteral("Der Proxy „127.0.0.1:{refused}“ ist nicht erreichbar");
        QTest::newRow("silent proxy") << QStringLiteral("{server}") << QStringLiteral("127.0.0.1:{silent}")
                                      << QStringLiteral("Der Proxy „127.0.0.1:{silent}“ antwortet nicht");
        QTest::newRow("proxy exempt")
            << refused << QStringLiteral("http://127.0.0.1:{silent}")
            << QStringLiteral("Der Server „127.0.0.1:{refused}“ ist nicht erreichbar");
    }
    void transportFailuresNameTheirCause() {
        QFETCH(QString, url);
        QFETCH(QString, proxy);
        QFETCH(QString, expected);
        DevServer::Options options;
        options.plainHttp = true;
        DevServer plain(options);
        QVERIFY(plain.start());
        // Listening, so the kernel completes the connection, but nothing ever reads it.
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        const auto closeSilent = qScopeGuard([silent] { ::close(silent); });
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                ::listen(silent, 8) == 0 &&
                ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        const int refused = NginxServer::freePort();
        const auto fill = [&](QString text) {
            return text.replace(QStringLiteral("{refused}"), QString::number(refused))
                .replace(QStringLiteral("{plain}"), QString::number(plain.port()))
                .replace(QStringLiteral("{silent}"), QString::number(ntohs(address.sin_port)))
                .replace(QStringLiteral("{server}"), server().baseURL());
        };
        fixture->storeCredentials(fill(url), server().apiKey());
        qputenv("https_proxy", fill(proxy).toUtf8());
        qputenv("no_proxy",
                QTest::currentDataTag() == QByteArray("proxy exempt") ? "localhost, 127.0.0.0/8" : "");
        fixture->useEngine({.inactivitySeconds = 1});
        const auto restore = qScopeGuard([] {
            qunsetenv("https_proxy");
            qunsetenv("no_proxy");
        });
        const QString failure = outcome(*fixture);
        QVERIFY2(failure.startsWith(fill(expected) + QStringLiteral(" (")) && failure.endsWith(u')'),
                 qPrintable(failure));
    }

    // The client behind an nginx that offers HTTP/2, with the bundled server behind it.

    void throughAnHttp2ProxyTransfersWorkAndARefusalIsPrompt() {
        if (NginxServer::executable().isEmpty())
            QFAIL("nginx is not installed (scripts/bootstrap.sh installs it)");
        QTemporaryDir files;
        const int proxyPort = NginxServer::freePort();
        DevServer::Options options;
        options.plainHttp = true;
        // The links the server hands out lead through the proxy.
        options.publicBaseURL = QStringLiteral("https://127.0.0.1:%1").arg(proxyPort);
        TestServerFixture fixture(options);
        NginxServer nginx(proxySites(fixture.server().port()), {proxyPort});
        fixture.storeCredentials(nginx.url(), fixture.server().apiKey());

        const QByteArray content = randomBytes(3 * APIService::uploadChunkSize + 4321);
        const QString path = files.filePath(QStringLiteral("Messreihe 7.bin"));
        writeFile(path, content);
        const APIService::OutgoingResult result =
            waitForTask(APIService::uploadOutgoing(fixture.connection(), path, std::nullopt, false, {}));
        QCOMPARE(result.files.value(0).name, QStringLiteral("Messreihe 7.bin"));
        QCOMPARE(result.files.value(0).size, content.size());
        QCOMPARE(fixture.server().requests().size(), 1 + 4 + 1);

        const QString folder = files.filePath(QStringLiteral("wieder"));
        const QString saved = waitForTask(APIService::downloadOutgoingFile(
            fixture.connection(), result.code, QStringLiteral("Messreihe 7.bin"), folder));
        QCOMPARE(saved, folder + QStringLiteral("/Messreihe 7.bin"));
        QVERIFY(readAll(saved) == content);

        // A proxy that refuses a chunk from its headers alone must end the upload with its status
        // at once; an HTTP/2 stream left waiting for the rest of the body would hang until the
        // 60 s inactivity limit.
        fixture.server().clearRequests();
        fixture.storeCredentials(nginx.url(1), fixture.server().apiKey());

        const QString tooBig = files.filePath(QStringLiteral("zu groß.bin"));
        // Every chunk, the last included, is larger than the proxy takes.
        writeFile(tooBig, randomBytes(2 * APIService::uploadChunkSize + 4096));
        const QString failure =
            failureOf(APIService::uploadOutgoing(fixture.connection(), tooBig, std::nullopt, false, {}));
        QVERIFY2(failure.startsWith(QStringLiteral("Server-Fehler 413: ")), qPrintable(failure));
        QVERIFY(requestsTo(fixture.server(), QStringLiteral("/api/upload-complete")).isEmpty());
    }

    // A sent transfer shows the ZIP entries of its first listed file that has some, else the first
    // the server lists.
    void zipEntriesOfASentTransfer() {
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
        const auto list = waitForTask(APIService::fetchOutgoing(fixture->connection()));
        QCOMPARE(list.size(), 3);
        QCOMPARE(entryNames(list[0].primaryZipEntries()), QStringList{"b/1.txt"});
        QCOMPARE(list[0].primaryZipEntries().first().size, 7);
        QCOMPARE(entryNames(list[1].primaryZipEntries()), QStringList{"z.txt"}); // no file matches
        QCOMPARE(list[1].hasPassword, std::nullopt);
        QVERIFY(list[2].primaryZipEntries().isEmpty());
    }

    // What each list's decoder makes of an answer: the user's text, or "<no error>". An expected
    // text ending in "…" is the start of the text. One bad element fails the whole list.
    void listAnswers_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        const QString in = QStringLiteral("/api/incoming"), out = QStringLiteral("/api/outgoing");
        const auto upload = [](const char* size, const char* date = "2024-05-01T12:00:00Z",
                               const char* flag = "false") {
            return QStringLiteral(R"([{"token":"T","customerName":"K","files":[{"name":"a","size":%1,)"
                                  R"("sizeFormatted":"?"}],"uploadDate":"%2","isDownloaded":%3}])")
                .arg(QLatin1String(size), QLatin1String(date), QLatin1String(flag))
                .toUtf8();
        };
        const auto unreadable = [](const char* why) {
            return QStringLiteral("Die Daten konnten nicht gelesen werden, weil ") + QString::fromUtf8(why);
        };
        const QString html = QStringLiteral("<html><body><h1>Internal Server Error</h1></body></html>");
        const QString denied = QStringLiteral("Zugriff verweigert – ").repeated(40); // kept whole
        QTest::newRow("401") << in << 401 << denied.toUtf8()
                             << QStringLiteral("Server-Fehler 401: ") + denied;
        QTest::newRow("502 not UTF-8")
            << in << 502 << QByteArray("\xff kaputt") << QStringLiteral("Server-Fehler 502: ");
        QTest::newRow("500 HTML") << in << 500 << html.toUtf8()
                                  << QStringLiteral("Server-Fehler 500: ") + html;
        QTest::newRow("cut off") << in << 200 << QByteArray(R"([{"token":)")
                                 << unreadable("sie kein gültiges JSON sind (…");
        QTest::newRow("deep") << in << 200 << QByteArray(100'000, '[') + QByteArray(100'000, ']')
                              << unreadable("…");
        QTest::newRow("missing") << in << 200 << QByteArray(R"([{"token":"t"}])")
                                 << unreadable("„customerName“ fehlt.");
        QTest::newRow("size -5") << in << 200 << upload("-5") << QStringLiteral("<no error>");
        QTest::newRow("size 1e300") << in << 200 << upload("1e300")
                                    << unreadable("„size“ den falschen Typ hat.");
        QTest::newRow("size text") << in << 200 << upload(R"("12")")
                                   << unreadable("„size“ den falschen Typ hat.");
        QTest::newRow("size 1.5") << in << 200 << upload("1.5") << unreadable("„size“ den falschen Typ hat.");
        QTest::newRow("flag 1") << in << 200 << upload("5", "2024-05-01T12:00:00Z", "1")
                                << unreadable("„isDownloaded“ den falschen Typ hat.");
        QTest::newRow("year 9999") << in << 200 << upload("5", "9999-12-31T23:59:59Z")
                                   << QStringLiteral("<no error>");
        QTest::newRow("month 13") << in << 200 << upload("5", "2024-13-45T99:00:00Z")
                                  << QStringLiteral("Ungültiges Datum: 2024-13-45T99:00:00Z");
        const QByteArray sent = R"([{"code":"K1","files":[],"downloadURL":"u","isDownloaded":false)";
        QTest::newRow("no time") << out << 200 << sent + R"(,"createdAt":"2024-05-01"}])"
                                 << QStringLiteral("Ungültiges Datum: 2024-05-01");
        QTest::newRow("no date") << out << 200 << sent + "}]" << unreadable("„createdAt“ fehlt.");
        QTest::newRow("sent 503") << out << 503 << QByteArray("[]")
                                  << QStringLiteral("Netzwerk-Fehler: Fehler beim Laden der Transfers");
    }

    void listAnswers() {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        server().failNext(path, 1, status, body);
        const QString failure = path.endsWith(QStringLiteral("incoming"))
                                    ? failureOf(APIService::fetchIncoming(fixture->connection()))
                                    : failureOf(APIService::fetchOutgoing(fixture->connection()));
        if (expected.endsWith(u'…'))
            QVERIFY2(failure.startsWith(expected.chopped(1)), qPrintable(failure));
        else
            QCOMPARE(failure, expected);
    }

    void downloadsAreEscapedOnTheWireAndNeverReplaceAnything() {
        const QString name = QStringLiteral("Angebot Müller & Söhne.pdf");
        const QString first = server().seedIncoming(QStringLiteral("A"), {{name, "erste Fassung"}});
        const QString second = server().seedIncoming(QStringLiteral("B"), {{name, "zweite"}});
        const mode_t previousMask = ::umask(027);
        const QString saved = waitForTask(APIService::downloadFile(fixture->connection(), first, name));
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
        QCOMPARE(waitForTask(APIService::downloadFile(fixture->connection(), second, name)), numbered);
        QCOMPARE(readAll(saved), QByteArray("erste Fassung"));
        QCOMPARE(readAll(numbered), QByteArray("zweite"));

        // A sent file downloaded again next to a folder of its name, with the user's documents in it.
        const QString again = home.path() + QStringLiteral("/Downloads/Zanvolt");
        writeFile(again + QStringLiteral("/Plan.pdf/notiz.txt"), "meins");
        const QString code = server().seedTransfer({{QStringLiteral("Plan.pdf"), "gesendet"}});
        QCOMPARE(waitForTask(APIService::downloadOutgoingFile(fixture->connection(), code,
                                                              QStringLiteral("Plan.pdf"), again)),
                 again + QStringLiteral("/Plan (2).pdf"));
        QCOMPARE(readAll(again + QStringLiteral("/Plan.pdf/notiz.txt")), QByteArray("meins"));
    }

    void aCutDownloadContinuesWithARangeOrStartsAgain() {
        using namespace std::chrono_literals;
        fixture->useEngine({.waitLimits = {50ms, 50ms, 20s}});
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
        auto task = APIService::downloadFile(fixture->connection(), token, QStringLiteral("Plan.pdf"));
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
        task = APIService::downloadFile(fixture->connection(), token, QStringLiteral("Plan.pdf"));
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
            {QStringLiteral("/etc/passwd"), "_etc_passwd"}};
        for (const auto& [hostile, safe] : cases) {
            // A name with dot segments may reach another path once the URL is normalised:
            // answer whatever arrives, as a hostile server would.
            server().failNext(QStringLiteral("/api/*"), 1, 200, hostile.toUtf8());
            const QString saved =
                waitForTask(APIService::downloadFile(fixture->connection(), QStringLiteral("T1"), hostile));
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
        QVERIFY(failureOf(APIService::downloadFile(fixture->connection(), QStringLiteral("T1"),
                                                   QStringLiteral("a.txt")))
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
        QCOMPARE(
            failureOf(APIService::downloadFile(fixture->connection(), token, QStringLiteral("gross.bin"))),
            QStringLiteral("Nicht genug Speicherplatz für den Download"));
        QCOMPARE(QDir(inbox).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("schon da.txt")});
        QCOMPARE(readAll(inbox + QStringLiteral("/schon da.txt")), QByteArray("bleibt"));
    }

    // (Marking as downloaded: tst_transferlists' downloads.)
    void deletingFollowsItsStatusRules() {
        const QString token =
            server().seedIncoming(QStringLiteral("Kunde"), {{QStringLiteral("a.txt"), "a"}});
        const QString path = QStringLiteral("/api/incoming/") + token;
        server().failNext(path, 1, 500, "kaputt");
        QCOMPARE(failureOf(APIService::deleteIncoming(fixture->connection(), token)),
                 QStringLiteral("Netzwerk-Fehler: Löschen fehlgeschlagen"));
        server().failNext(path, 1, 204, {});
        QCOMPARE(failureOf(APIService::deleteIncoming(fixture->connection(), token)),
                 QStringLiteral("<no error>"));
        QCOMPARE(waitForTask(APIService::fetchIncoming(fixture->connection())).size(), 1);
        QCOMPARE(failureOf(APIService::deleteIncoming(fixture->connection(), token)),
                 QStringLiteral("<no error>"));
        QVERIFY(waitForTask(APIService::fetchIncoming(fixture->connection())).isEmpty());
        QCOMPARE(failureOf(APIService::deleteIncoming(fixture->connection(), token)),
                 QStringLiteral("<no error>")); // 404: already gone

        // The token is one path segment, whatever it holds.
        server().clearRequests();
        failureOf(APIService::deleteIncoming(fixture->connection(), QStringLiteral("a b?c")));
        QCOMPARE(requestLines(server()), QStringList{QStringLiteral("DELETE /api/incoming/a%20b%3Fc")});
    }

    void codesAndNamesStayInTheirPathSegment() {
        QCOMPARE(
            failureOf(APIService::revealOutgoingPassword(fixture->connection(), QStringLiteral("a/b c"))),
            QStringLiteral("Server-Fehler 404: {\"error\":\"Transfer nicht gefunden\"}"));
        QCOMPARE(server().requests().last().path, QStringLiteral("/api/outgoing/a%2Fb%20c/password"));
        QCOMPARE(failureOf(APIService::downloadOutgoingFile(fixture->connection(), QStringLiteral("K?1"),
                                                            QStringLiteral("Mein Plan #2.pdf"), home.path())),
                 QStringLiteral("Netzwerk-Fehler: Download fehlgeschlagen (HTTP 404)"));
        QCOMPARE(server().requests().last().path, QStringLiteral("/d/K%3F1/file/Mein%20Plan%20%232.pdf"));
        QCOMPARE(server().requests().last().headers.value("x-api-key"), server().apiKey());

        // Sent exactly as built: "/" and dot segments stay inside their segment, nothing is merged.
        failureOf(APIService::revealOutgoingPassword(fixture->connection(), QStringLiteral("..")));
        QCOMPARE(server().requests().last().path, QStringLiteral("/api/outgoing/%2E%2E/password"));
        failureOf(APIService::downloadFile(fixture->connection(), QStringLiteral("."),
                                           QStringLiteral("../../api/outgoing")));
        QCOMPARE(server().requests().last().path,
                 QStringLiteral("/api/incoming/%2E/files/..%2F..%2Fapi%2Foutgoing"));
        failureOf(APIService::deleteOutgoing(fixture->connection(), QStringLiteral("a//b")));
        QCOMPARE(server().requests().last().path, QStringLiteral("/api/outgoing/a%2F%2Fb"));
    }

    // Trust on first use: a self-signed certificate is remembered per scheme, host and port; a
    // certificate the system trusts for this host needs no pin. A pin that cannot be saved holds
    // until the client ends.
    void selfSignedCertificateIsPinnedAndAChangeRefused_data() {
        QTest::addColumn<bool>("saved");
        QTest::newRow("saved") << true;
        QTest::newRow("pins folder not writable") << false;
    }
    void selfSignedCertificateIsPinnedAndAChangeRefused() {
        QFETCH(bool, saved);
        const QString folder = home.filePath(QStringLiteral(".zanvolt"));
        const QString pinsPath = folder + QStringLiteral("/pinned-certificates.json");
        if (!saved)
            writeFile(folder, {}); // a file in its place: nothing can be written below it
        auto first = std::make_unique<DevServer>();
        QVERIFY(first->start());
        const int port = first->port();
        const QString origin = QStringLiteral("https://127.0.0.1:%1").arg(port);
        const QJsonObject firstPin{{origin, QString::fromLatin1(spkiPin(first->certificatePem()))}};

        useServer(*first);
        QSignalSpy notSaved(&fixture->http(), &HttpEngine::certificateNotSaved);
        QCOMPARE(outcome(*fixture), QStringLiteral("<no error>"));
        QCOMPARE(outcome(*fixture, true), QStringLiteral("<no error>"));
        QCOMPARE(notSaved, saved ? QList<QVariantList>() : QList<QVariantList>{{folder}});
        first.reset();

        // Another key at the same address: refused before a byte of the request.
        DevServer::Options samePort;
        samePort.port = port;
        DevServer second(samePort);
        QVERIFY2(second.start(), qPrintable(second.lastError()));
        useServer(second);
        QCOMPARE(outcome(*fixture), changed);
        QCOMPARE(outcome(*fixture, true), changed);
        QCOMPARE(second.requests().size(), 0);
        if (!saved)
            return;
        QCOMPARE(pinFile(pinsPath), firstPin);
        QCOMPARE(QFile::permissions(pinsPath) & 0x0777, QFile::ReadUser | QFile::WriteUser);

        // Another port is another server: its own first contact.
        DevServer third;
        QVERIFY(third.start());
        useServer(third);
        QCOMPARE(outcome(*fixture), QStringLiteral("<no error>"));

        // "Server testen" forgets the key (the URL as the user typed it), so the new one is taken.
        fixture->http().forgetServerKey(second.baseURL() + QStringLiteral("/"));
        useServer(second);
        QCOMPARE(outcome(*fixture), QStringLiteral("<no error>"));
        QCOMPARE(pinFile(pinsPath).value(origin).toString(),
                 QString::fromLatin1(spkiPin(second.certificatePem())));
        QCOMPARE(pinFile(pinsPath).size(), 2);
    }

    // A CA the system trusts: its certificate for this host needs no pin, under either name, and the
    // update feed takes it. Its certificate for another host, or an expired one, is not vouched for
    // here: the client takes it like a self-signed company certificate, the feed refuses it.
    void aTrustedCAsCertificateForAnotherHostOrExpiredIsOnlyPinned() {
        KeyPtr caKey(EVP_EC_gen("P-256"));
        CertPtr ca = makeCertificate(caKey.get(), "Zanvolt Test CA", 1, nullptr, nullptr);
        QVERIFY(ca);
        QTemporaryDir files;
        const QString bundle = files.filePath(QStringLiteral("ca.pem"));
        writeFile(bundle, pem(ca.get()));
        atHome.caBundle = bundle;
        const auto restore = qScopeGuard([this] { atHome.caBundle.clear(); });

        const auto good = serverSignedBy(ca.get(), caKey.get(), files.filePath(QStringLiteral("good")));
        QVERIFY(good);
        for (const QString& host : {QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}) {
            useServer(*good, QStringLiteral("https://%1:%2").arg(host).arg(good->port()));
            QCOMPARE(outcome(*fixture), QStringLiteral("<no error>"));
        }
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral(".zanvolt/pinned-certificates.json"))));
        QCOMPARE(feedRequest(*fixture, *good), 401);

        const std::pair<const char*, LeafOptions> cases[] = {
            {"another host", {"DNS:files.example.org", -3600, 24 * 3600}},
            {"expired", {"DNS:localhost,IP:127.0.0.1", -30 * 24 * 3600, -24 * 3600}},
        };
        const int transport = -1 - int(HttpError::Kind::Transport);
        for (const auto& [what, leaf] : cases) {
            auto first = serverSignedBy(ca.get(), caKey.get(), files.filePath("first"), leaf);
            QVERIFY2(first, what);
            const int port = first->port();
            const QString origin = QStringLiteral("https://127.0.0.1:%1").arg(port);
            useServer(*first);
            // The feed refuses it before a byte of the request, and remembers nothing.
            QCOMPARE(feedRequest(*fixture, *first), transport);
            QVERIFY2(first->requests().isEmpty(), what);
            QVERIFY2(CertificatePins(atHome.pinsFolder).pinned(origin).isEmpty(), what);
            // The client takes it on first contact and pins its key.
            QCOMPARE(outcome(*fixture), QStringLiteral("<no error>"));
            const QByteArray firstPin = spkiPin(readAll(files.filePath("first.pem")));
            QCOMPARE(CertificatePins(atHome.pinsFolder).pinned(origin), firstPin);
            first->stop();

            // The same flaw with another key at the same address: refused, nothing sent.
            auto second = serverSignedBy(ca.get(), caKey.get(), files.filePath("second"), leaf, port);
            QVERIFY2(second, what);
            useServer(*second);
            QCOMPARE(outcome(*fixture), changed);
            QCOMPARE(feedRequest(*fixture, *second), transport);
            QVERIFY2(second->requests().isEmpty(), what);
            QCOMPARE(CertificatePins(atHome.pinsFolder).pinned(origin), firstPin);
        }
    }

    void quittingMidDownloadLeavesNothingAndRefusesLaterRequests() {
        const QString code =
            server().seedTransfer({{QStringLiteral("gross.bin"), QByteArray(96 << 20, 'z')}});
        QTemporaryDir folder;
        HttpRequest request;
        request.url =
            (server().baseURL() + QStringLiteral("/d/") + code + QStringLiteral("/file/gross.bin")).toUtf8();
        request.downloadFolder = folder.path();

        qint64 receivedAtQuit = 0;
        bool partSeen = false;
        const HttpEngine::ProgressHandler quitOnFirstBytes = [&](qint64, qint64 received) {
            if (received == 0 || receivedAtQuit != 0)
                return;
            receivedAtQuit = received;
            partSeen = !partFiles(folder.path()).isEmpty();
            fixture->http().stop();
        };
        QCOMPARE(failureOf(fixture->http().send(request, nullptr, quitOnFirstBytes)),
                 CancelledError().message());
        QVERIFY(receivedAtQuit > 0 && receivedAtQuit < (96 << 20));
        QVERIFY(partSeen);
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());

        // Nothing goes out any more once the engine is stopped.
        const int seen = server().requests().size();
        QCOMPARE(failureOf(APIRequest::make(fixture->connection(), QByteArrayLiteral("/api/outgoing"))
                               .send(QByteArrayLiteral("GET"))),
                 CancelledError().message());
        QCOMPARE(server().requests().size(), seen);
    }
};

QTEST_GUILESS_MAIN(TestRequestCore)
#include "tst_requestcore.moc"
