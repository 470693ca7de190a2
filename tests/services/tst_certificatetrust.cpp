#include "APIRequest.h"
#include "APIService.h"
#include "AppError.h"
#include "CertificatePins.h"
#include "HttpEngine.h"
#include "HttpError.h"
#include "InMemorySecretStore.h"
#include "KeychainService.h"
#include "TemporaryHome.h"
#include "TestCertificates.h"
#include "TestFiles.h"
#include "TransferServer.h"
#include "WaitForTask.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {
using namespace TestCertificates;

// One GET the way every endpoint sends it; the description of what was thrown,
// or "<no error>" for any HTTP answer.
QString outcome(bool download = false) {
    try {
        const APIRequest request = waitForTask(APIRequest::prepare(QByteArrayLiteral("/api/incoming")));
        const APIResponse response = download ? waitForTask(request.download(QDir::tempPath()))
                                              : waitForTask(request.send(QByteArrayLiteral("GET")));
        if (!response.filePath.isEmpty())
            QFile::remove(response.filePath);
    } catch (const AppError& error) {
        return error.message();
    }
    return QStringLiteral("<no error>");
}

QJsonObject pinFile(const QString& path) {
    return QJsonDocument::fromJson(readAll(path)).object();
}

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

// Trust on first use against the bundled server: its self-signed certificate
// is remembered per scheme, host and port; a certificate the system trusts
// for this host needs no pin.
class TestCertificateTrust : public QObject {
    Q_OBJECT

    std::shared_ptr<InMemorySecretStore> store;
    std::unique_ptr<TemporaryHome> home; // pins live beside the history in its ".zanvolt"

    void useServer(const TransferServer& server, const QString& url = {}) {
        KeychainService::saveCredentials({url.isEmpty() ? server.baseURL() : url, server.apiKey()}, *store);
    }

private Q_SLOTS:
    void init() {
        home = std::make_unique<TemporaryHome>();
        CertificatePins::setDefaultFolder({});
        store = std::make_shared<InMemorySecretStore>();
        KeychainService::setDefaultStore(store);
    }
    void cleanup() {
        KeychainService::setDefaultStore(std::make_shared<InMemorySecretStore>());
        home.reset();
    }

    void selfSignedCertificateIsPinnedAndAChangeRefused() {
        const QString pinsPath = home->filePath(QStringLiteral(".zanvolt/pinned-certificates.json"));
        QTemporaryDir firstData, secondData;
        TransferServer::Options options;
        options.dataDir = firstData.path();
        auto first = std::make_unique<TransferServer>(options);
        QVERIFY(first->start());
        const int port = first->port();
        const QString origin = QStringLiteral("https://127.0.0.1:%1").arg(port);
        const QByteArray firstPin = spkiPin(first->certificatePem());
        QVERIFY(!firstPin.isEmpty());

        useServer(*first);
        QCOMPARE(outcome(), QStringLiteral("<no error>"));
        QCOMPARE(pinFile(pinsPath), (QJsonObject{{origin, QString::fromLatin1(firstPin)}}));
        QCOMPARE(QFile::permissions(pinsPath) & 0x0777, QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(outcome(true), QStringLiteral("<no error>"));
        QCOMPARE(first->requests().size(), 2);
        first->stop();

        // Another key at the same address: refused before a byte of the request.
        options.dataDir = secondData.path();
        options.port = port;
        TransferServer second(options);
        QVERIFY2(second.start(), qPrintable(second.lastError()));
        const QByteArray secondPin = spkiPin(second.certificatePem());
        QVERIFY(secondPin != firstPin);
        useServer(second);
        QCOMPARE(outcome(), changed);
        QCOMPARE(outcome(true), changed);
        QCOMPARE(second.requests().size(), 0);
        QCOMPARE(pinFile(pinsPath), (QJsonObject{{origin, QString::fromLatin1(firstPin)}}));

        // Another port is another server: its own first contact.
        TransferServer::Options elsewhere;
        elsewhere.dataDir = firstData.path();
        TransferServer third(elsewhere);
        QVERIFY(third.start());
        useServer(third);
        QCOMPARE(outcome(), QStringLiteral("<no error>"));

        // "Server testen" forgets the key (the URL as the user typed it), so the new one is taken.
        APIService::forgetCertificate(second.baseURL() + QStringLiteral("/"));
        QVERIFY(!pinFile(pinsPath).contains(origin));
        useServer(second);
        QCOMPARE(outcome(), QStringLiteral("<no error>"));
        QCOMPARE(pinFile(pinsPath).value(origin).toString(), QString::fromLatin1(secondPin));
        QCOMPARE(second.requests().size(), 1);
        QCOMPARE(second.requests().at(0).headers.value(QStringLiteral("x-api-key")), second.apiKey());
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
        HttpEngine::instance().setCaBundle(bundle);
        const auto restore = qScopeGuard([] { HttpEngine::instance().setCaBundle({}); });

        const auto good = serverSignedBy(ca.get(), caKey.get(), files.filePath(QStringLiteral("good")));
        QVERIFY(good);
        for (const QString& host : {QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}) {
            useServer(*good, QStringLiteral("https://%1:%2").arg(host).arg(good->port()));
            QCOMPARE(outcome(), QStringLiteral("<no error>"));
        }
        QVERIFY(!QFile::exists(home->filePath(QStringLiteral(".zanvolt/pinned-certificates.json"))));
        QCOMPARE(feedRequest(*good), 401);

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
            QCOMPARE(feedRequest(*first), transport);
            QVERIFY2(first->requests().isEmpty(), what);
            QVERIFY2(CertificatePins().pinned(origin).isEmpty(), what);
            // The client takes it on first contact and pins its key.
            QCOMPARE(outcome(), QStringLiteral("<no error>"));
            QCOMPARE(first->requests().size(), 1);
            const QByteArray firstPin = spkiPin(readAll(files.filePath("first.pem")));
            QCOMPARE(CertificatePins().pinned(origin), firstPin);
            first->stop();

            // The same flaw with another key at the same address: refused, nothing sent.
            auto second = serverSignedBy(ca.get(), caKey.get(), files.filePath("second"), leaf, port);
            QVERIFY2(second, what);
            useServer(*second);
            QCOMPARE(outcome(), changed);
            QCOMPARE(feedRequest(*second), transport);
            QVERIFY2(second->requests().isEmpty(), what);
            QCOMPARE(CertificatePins().pinned(origin), firstPin);
        }
    }
};

QTEST_GUILESS_MAIN(TestCertificateTrust)
#include "tst_certificatetrust.moc"
