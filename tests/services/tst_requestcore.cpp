#include "APIError.h"
#include "APIRequest.h"
#include "APIService.h"
#include "APIServiceOutgoing.h"
#include "APIServiceUpload.h"
#include "CancelledError.h"
#include "HttpEngine.h"
#include "NginxServer.h"
#include "RecordedRequests.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "WaitForTask.h"

#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QByteArray probePath = QByteArrayLiteral("/api/outgoing");

// Builds and sends one request the way every endpoint does, then applies the
// common check; returns the description of what was thrown, or "<no error>".
QString outcome() {
    return failureOf([]() -> QCoro::Task<> {
        const APIRequest request = co_await APIRequest::prepare(probePath);
        APIService::expectJSONOK(co_await request.send(QByteArrayLiteral("GET")));
    }());
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

// The protocol nginx agrees on with a client that offers HTTP/2, as curl reports it.
QString negotiatedVersion(const QString& url) {
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-sk"), QStringLiteral("--http2"), QStringLiteral("-o"),
                QStringLiteral("/dev/null"), QStringLiteral("-w"), QStringLiteral("%{http_version}"),
                url + QStringLiteral("/")});
    curl.waitForFinished(20000);
    return QString::fromUtf8(curl.readAllStandardOutput());
}
} // namespace

// The request core against the bundled HTTPS server with its self-signed certificate, and what a
// quit in the middle of a transfer leaves.
class TestRequestCore : public QObject {
    Q_OBJECT

    std::unique_ptr<TestServerFixture> fixture;
    TransferServer& server() { return fixture->server(); }

private Q_SLOTS:
    void init() { fixture = std::make_unique<TestServerFixture>(); }
    void cleanup() { fixture.reset(); }

    void configurationIsCheckedBeforeAnythingIsSent() {
        const QString url = server().baseURL();
        const QString key = server().apiKey();

        fixture->store().items.clear();
        QCOMPARE(outcome(), QStringLiteral("Server-URL nicht konfiguriert"));
        fixture->storeCredentials({}, {});
        QCOMPARE(outcome(), QStringLiteral("Server-URL nicht konfiguriert"));
        fixture->storeCredentials(url, {});
        QCOMPARE(outcome(), QStringLiteral("API-Key nicht konfiguriert"));
        // Blanks are neither trimmed nor encoded: such a URL fails in order.
        fixture->storeCredentials(url + QStringLiteral("/mein server"), key);
        QCOMPARE(outcome(), QStringLiteral("Netzwerk-Fehler: Ungültige Server-URL"));
        fixture->storeCredentials(QStringLiteral(" ") + url, key);
        QCOMPARE(outcome(), QStringLiteral("Netzwerk-Fehler: Ungültige Server-URL"));
        fixture->storeCredentials(QStringLiteral("127.0.0.1:%1").arg(server().port()), key);
        QCOMPARE(outcome(), QStringLiteral("Netzwerk-Fehler: Ungültige Server-URL"));
        QCOMPARE(server().requests().size(), 0);

        // Read afresh for every request: the repaired settings count at once.
        fixture->storeCredentials(url, key);
        QCOMPARE(outcome(), QStringLiteral("<no error>"));
        QCOMPARE(server().requests().size(), 1);
    }

    void oneTrailingSlashIsRemovedAndHeadersAreSet() {
        const QString url = server().baseURL();
        fixture->storeCredentials(url + QStringLiteral("/"), server().apiKey());
        QCOMPARE(outcome(), QStringLiteral("<no error>"));
        fixture->storeCredentials(url + QStringLiteral("//"), server().apiKey());
        QCOMPARE(QString::fromLatin1(waitForTask(APIRequest::prepare(probePath)).url()),
                 url + QStringLiteral("//api/outgoing"));
        // Sent exactly so: the server sees the double slash and knows no such path.
        QCOMPARE(outcome(), QStringLiteral("Server-Fehler 404: Nicht gefunden"));
        QCOMPARE(requestLines(server()),
                 (QStringList{QStringLiteral("GET /api/outgoing"), QStringLiteral("GET //api/outgoing")}));

        const auto get = server().requests().at(0);
        QCOMPARE(get.headers.value("x-api-key"), server().apiKey());
        QVERIFY(!get.headers.contains("content-type"));

        // A wrong key is sent as stored and the server's refusal comes back verbatim.
        server().clearRequests();
        fixture->storeCredentials(url, QStringLiteral("falsch"));
        QCOMPARE(outcome(), QStringLiteral("Server-Fehler 401: Ungültiger oder fehlender API-Key"));
        QCOMPARE(server().requests().at(0).headers.value("x-api-key"), QStringLiteral("falsch"));
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
            QCOMPARE(outcome(), c.expected);
        }
    }

    void silenceAndHugeAnswersEndTheRequest() {
        // No list the app reads comes near this; the memory stays bounded.
        server().failNext(QString::fromLatin1(probePath), 1, 200, "[" + QByteArray(65'000'000, ' ') + "]");
        QCOMPARE(outcome(), QStringLiteral("Antwort des Servers zu groß (über 64 MB)"));
        QCOMPARE(outcome(), QStringLiteral("<no error>"));

        // An inactivity limit, not a total time: a slow answer that keeps moving is fine.
        HttpEngine::instance().setInactivityLimit(1);
        const auto restore = qScopeGuard([] { HttpEngine::instance().setInactivityLimit(60); });
        server().delayNext(QString::fromLatin1(probePath), 1, 3000);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(outcome(), QStringLiteral("Der Server antwortet nicht (1 Sekunden ohne Daten)"));
        QVERIFY2(clock.elapsed() < 2900, qPrintable(QString::number(clock.elapsed())));
    }

    void transportFailuresPassThroughUnwrapped() {
        server().stop();
        const QString refused = failureOf([]() -> QCoro::Task<> {
            co_await (co_await APIRequest::prepare(probePath)).send(QByteArrayLiteral("GET"));
        }());
        QVERIFY2(refused.startsWith(QStringLiteral("Failed to connect to 127.0.0.1 port ")),
                 qPrintable(refused));
    }

    // The client behind an nginx that offers HTTP/2, with the bundled server behind it.

    void throughAnHttp2ProxyTransfersWorkAndARefusalIsPrompt() {
        if (NginxServer::executable().isEmpty())
            QFAIL("nginx is not installed (scripts/bootstrap.sh installs it)");
        QTemporaryDir files;
        const int proxyPort = NginxServer::freePort();
        TransferServer::Options options;
        options.plainHttp = true;
        // The links the server hands out lead through the proxy.
        options.publicBaseURL = QStringLiteral("https://127.0.0.1:%1").arg(proxyPort);
        TestServerFixture fixture(options);
        NginxServer nginx(proxySites(fixture.server().port()), {proxyPort});
        QCOMPARE(negotiatedVersion(nginx.url()), QStringLiteral("2"));
        fixture.server().clearRequests();
        fixture.storeCredentials(nginx.url(), fixture.server().apiKey());

        const QByteArray content = randomBytes(3 * APIService::uploadChunkSize + 4321);
        const QString path = files.filePath(QStringLiteral("Messreihe 7.bin"));
        writeFile(path, content);
        const APIService::OutgoingResult result =
            waitForTask(APIService::uploadOutgoing(path, std::nullopt, false, {}));
        QCOMPARE(result.files.value(0).name, QStringLiteral("Messreihe 7.bin"));
        QCOMPARE(result.files.value(0).size, content.size());
        QCOMPARE(fixture.server().requests().size(), 1 + 4 + 1);

        const QList<OutgoingTransfer> sent = waitForTask(APIService::fetchOutgoing());
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].code, result.code);
        QCOMPARE(sent[0].files.value(0).size, content.size());

        const QString folder = files.filePath(QStringLiteral("wieder"));
        const QString saved = waitForTask(
            APIService::downloadOutgoingFile(result.code, QStringLiteral("Messreihe 7.bin"), folder));
        QCOMPARE(saved, folder + QStringLiteral("/Messreihe 7.bin"));
        QVERIFY(readAll(saved) == content);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Messreihe 7.bin")});

        // A proxy that refuses a chunk from its headers alone must end the upload with its status
        // at once; an HTTP/2 stream left waiting for the rest of the body would hang until the
        // 60 s inactivity limit.
        fixture.server().clearRequests();
        fixture.storeCredentials(nginx.url(1), fixture.server().apiKey());

        const QString tooBig = files.filePath(QStringLiteral("zu groß.bin"));
        // Every chunk, the last included, is larger than the proxy takes.
        writeFile(tooBig, randomBytes(2 * APIService::uploadChunkSize + 4096));
        QElapsedTimer timer;
        timer.start();
        const QString failure = failureOf(APIService::uploadOutgoing(tooBig, std::nullopt, false, {}));
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(failure.startsWith(QStringLiteral("Server-Fehler 413: ")), qPrintable(failure));
        QVERIFY2(elapsed < 20000, qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
        for (const auto& request : fixture.server().requests())
            QVERIFY2(request.path != QStringLiteral("/api/upload-chunk") &&
                         request.path != QStringLiteral("/api/upload-complete"),
                     qPrintable(request.path));
    }

    // Stops the engine for good: the last test here.
    void quittingMidDownloadLeavesNothingAndRefusesLaterRequests() {
        const QString code =
            server().seedTransfer({{QStringLiteral("gross.bin"), QByteArray(96 << 20, 'z')}});
        QVERIFY(!code.isEmpty());
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
            partSeen = !QDir(folder.path())
                            .entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden)
                            .isEmpty();
            HttpEngine::instance().stop();
        };
        QCOMPARE(failureOf(HttpEngine::instance().send(request, nullptr, quitOnFirstBytes)),
                 CancelledError().message());
        QVERIFY(receivedAtQuit > 0 && receivedAtQuit < (96 << 20));
        QVERIFY(partSeen);
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());

        // Nothing goes out any more once the engine is stopped.
        const int seen = server().requests().size();
        QCOMPARE(failureOf(waitForTask(APIRequest::prepare(QByteArrayLiteral("/api/outgoing")))
                               .send(QByteArrayLiteral("GET"))),
                 CancelledError().message());
        QCOMPARE(server().requests().size(), seen);
    }
};

QTEST_GUILESS_MAIN(TestRequestCore)
#include "tst_requestcore.moc"
