#include "APIError.h"
#include "APIRequest.h"
#include "APIService.h"
#include "HttpEngine.h"
#include "RecordedRequests.h"
#include "TestServerFixture.h"
#include "WaitForTask.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QScopeGuard>
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
} // namespace

// The request core against the bundled HTTPS server with its self-signed certificate.
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
        // A key with a line break, provisioned beside the app (secret-tool), would inject a header.
        fixture->store().items[{KeychainService::serviceName, KeychainService::credentialsAccount}] =
            KeychainService::Credentials{url, key + QStringLiteral("\r\nX-Injected: ja")}.toJson();
        QCOMPARE(outcome(), QStringLiteral("Der API-Schlüssel enthält unzulässige Zeichen."));
        // Nor does the HTTP layer send such a header for anyone else.
        HttpRequest raw;
        raw.url = (url + QStringLiteral("/api/outgoing")).toUtf8();
        raw.headers.append({"X-Api-Key", key.toUtf8() + "\nX-Injected: ja"});
        QCOMPARE(failureOf(HttpEngine::instance().send(raw)),
                 QStringLiteral("Ein HTTP-Header enthält unzulässige Zeichen."));
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
        // An inactivity limit, not a total time: a slow answer that keeps moving is fine.
        HttpEngine::instance().setInactivityLimit(1);
        const auto restore = qScopeGuard([] { HttpEngine::instance().setInactivityLimit(60); });
        server().delayNext(QString::fromLatin1(probePath), 1, 3000);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(outcome(), QStringLiteral("Der Server antwortet nicht (1 Sekunden ohne Daten)"));
        QVERIFY2(clock.elapsed() < 2900, qPrintable(QString::number(clock.elapsed())));

        // No list the app reads comes near this; the memory stays bounded.
        server().failNext(QString::fromLatin1(probePath), 1, 200, "[" + QByteArray(65'000'000, ' ') + "]");
        QCOMPARE(outcome(), QStringLiteral("Antwort des Servers zu groß (über 64 MB)"));
        QCOMPARE(outcome(), QStringLiteral("<no error>"));
    }

    void transportFailuresPassThroughUnwrapped() {
        server().stop();
        const QString refused = failureOf([]() -> QCoro::Task<> {
            co_await (co_await APIRequest::prepare(probePath)).send(QByteArrayLiteral("GET"));
        }());
        QVERIFY2(refused.startsWith(QStringLiteral("Failed to connect to 127.0.0.1 port ")),
                 qPrintable(refused));
    }
};

QTEST_GUILESS_MAIN(TestRequestCore)
#include "tst_requestcore.moc"
