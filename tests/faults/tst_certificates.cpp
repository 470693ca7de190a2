#include "APIServiceIncoming.h"
#include "CertificatePins.h"
#include "HttpEngine.h"
#include "HttpError.h"
#include "TestCertificates.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "WaitForTask.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace TestCertificates;

namespace {
const QString changed = QStringLiteral("Netzwerk-Fehler: Zertifikat des Servers hat sich geändert");

// A request the way the update feed sends it: never trusted on first use.
// The HTTP status, or the kind of transport failure as a negative number.
int feedRequest(const TransferServer& server) {
    HttpRequest request;
    request.url = (server.baseURL() + QStringLiteral("/api/incoming")).toUtf8();
    request.trustOnFirstUse = false;
    try {
        return waitForTask(HttpEngine::instance().send(request)).status;
    } catch (const HttpError& error) {
        return -1 - int(error.kind());
    }
}
} // namespace

// Certificates signed by a CA the system trusts, yet not valid for this server:
// another host's, or expired. The system does not vouch for them here, so the
// client treats them like a self-signed company certificate; the update feed
// refuses them.
class TestUntrustedCertificates : public QObject {
    Q_OBJECT

    QTemporaryDir files;
    KeyPtr caKey{EVP_EC_gen("P-256")};
    CertPtr ca;

private Q_SLOTS:
    void initTestCase() {
        ca = makeCertificate(caKey.get(), "Zanvolt Test CA", 1, nullptr, nullptr);
        QVERIFY(ca);
        const QString bundle = files.filePath(QStringLiteral("ca.pem"));
        writeFile(bundle, pem(ca.get()));
        HttpEngine::instance().setCaBundle(bundle);
    }
    void cleanupTestCase() { HttpEngine::instance().setCaBundle({}); }

    void aTrustedCAsCertificateForAnotherHostOrExpiredIsOnlyPinned() {
        // The same CA's certificate for this host: the feed takes it, so its refusals below are
        // about the certificate alone.
        const auto good = serverSignedBy(ca.get(), caKey.get(), files.filePath("good"));
        QVERIFY(good);
        QCOMPARE(feedRequest(*good), 401);

        const std::pair<const char*, LeafOptions> cases[] = {
            {"another host", {"DNS:files.example.org", -3600, 24 * 3600}},
            {"expired", {"DNS:localhost,IP:127.0.0.1", -30 * 24 * 3600, -24 * 3600}},
        };
        for (const auto& [what, leaf] : cases) {
            TestServerFixture fixture; // a pin folder of its own
            auto first = serverSignedBy(ca.get(), caKey.get(), files.filePath("first"), leaf);
            QVERIFY2(first, what);
            const int port = first->port();
            const QString origin = QStringLiteral("https://127.0.0.1:%1").arg(port);
            fixture.storeCredentials(first->baseURL(), first->apiKey());

            // The feed refuses it before a byte of the request, and remembers nothing.
            const int transport = -1 - int(HttpError::Kind::Transport);
            QCOMPARE(feedRequest(*first), transport);
            QVERIFY2(first->requests().isEmpty(), what);
            QVERIFY2(CertificatePins().pinned(origin).isEmpty(), what);

            // The client takes it on first contact and pins its key.
            QCOMPARE(failureOf(APIService::fetchIncoming()), QStringLiteral("<no error>"));
            QCOMPARE(first->requests().size(), 1);
            QCOMPARE(CertificatePins().pinned(origin), spkiPin(readAll(files.filePath("first.pem"))));
            first->stop();

            // The same flaw with another key at the same address: refused, nothing sent.
            auto second = serverSignedBy(ca.get(), caKey.get(), files.filePath("second"), leaf, port);
            QVERIFY2(second, what);
            fixture.storeCredentials(second->baseURL(), second->apiKey());
            QCOMPARE(failureOf(APIService::fetchIncoming()), changed);
            QCOMPARE(feedRequest(*second), transport);
            QVERIFY2(second->requests().isEmpty(), what);
            QCOMPARE(CertificatePins().pinned(origin), spkiPin(readAll(files.filePath("first.pem"))));
        }
    }
};

QTEST_GUILESS_MAIN(TestUntrustedCertificates)
#include "tst_certificates.moc"
