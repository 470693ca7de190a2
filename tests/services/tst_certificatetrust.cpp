#include "APIRequest.h"
#include "APIService.h"
#include "AppError.h"
#include "CertificatePins.h"
#include "HttpEngine.h"
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
#include <QSignalSpy>
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

} // namespace

// Trust on first use against the bundled server: its self-signed certificate
// is remembered per scheme, host and port; a certificate the system trusts
// needs no pin.
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
        const QString changed = QStringLiteral("Netzwerk-Fehler: Zertifikat des Servers hat sich geändert");
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

    void certificateTheSystemTrustsNeedsNoPin() {
        KeyPtr caKey(EVP_EC_gen("P-256"));
        CertPtr ca = makeCertificate(caKey.get(), "Zanvolt Test CA", 1, nullptr, nullptr);
        QVERIFY(ca);
        QTemporaryDir files;
        const auto started = serverSignedBy(ca.get(), caKey.get(), files.filePath(QStringLiteral("leaf")));
        QVERIFY(started);
        TransferServer& server = *started;

        const QString bundle = files.filePath(QStringLiteral("ca.pem"));
        writeFile(bundle, pem(ca.get()));
        HttpEngine::instance().setCaBundle(bundle);
        const auto restore = qScopeGuard([] { HttpEngine::instance().setCaBundle({}); });

        const QString pinsPath = home->filePath(QStringLiteral(".zanvolt/pinned-certificates.json"));
        for (const QString& host : {QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}) {
            useServer(server, QStringLiteral("https://%1:%2").arg(host).arg(server.port()));
            QCOMPARE(outcome(), QStringLiteral("<no error>"));
        }
        QCOMPARE(server.requests().size(), 2);
        QVERIFY(!QFile::exists(pinsPath));
    }

    void aPinThatCannotBeSavedHoldsUntilTheClientEnds() {
        const QString folder = home->filePath(QStringLiteral(".zanvolt"));
        writeFile(folder, {}); // a file in its place: nothing can be written below it
        QTemporaryDir firstData, secondData;
        TransferServer::Options options;
        options.dataDir = firstData.path();
        auto first = std::make_unique<TransferServer>(options);
        QVERIFY(first->start());
        QSignalSpy notSaved(&HttpEngine::instance(), &HttpEngine::certificateNotSaved);
        useServer(*first);
        QCOMPARE(outcome(), QStringLiteral("<no error>"));
        QCOMPARE(outcome(), QStringLiteral("<no error>"));
        QCOMPARE(notSaved.size(), 1);
        QCOMPARE(notSaved.at(0).at(0).toString(), folder);
        options.port = first->port();
        first->stop();

        options.dataDir = secondData.path();
        TransferServer second(options);
        QVERIFY2(second.start(), qPrintable(second.lastError()));
        useServer(second);
        QCOMPARE(outcome(), QStringLiteral("Netzwerk-Fehler: Zertifikat des Servers hat sich geändert"));
        QCOMPARE(second.requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCertificateTrust)
#include "tst_certificatetrust.moc"
