#include "TestServerFixture.h"

#include "APIService.h"
#include "CertificatePins.h"
#include "KeychainService.h"

#include <QTest>

TestServerFixture::TestServerFixture(TransferServer::Options options)
    : m_server(std::make_unique<TransferServer>(std::move(options))),
      m_store(std::make_shared<InMemorySecretStore>()) {
    if (!m_server->start())
        qFatal("bundled server did not start: %s", qPrintable(m_server->lastError()));
    CertificatePins::setDefaultFolder(m_pinsFolder.path());
    storeCredentials(m_server->baseURL(), m_server->apiKey());
}

TestServerFixture::~TestServerFixture() {
    CertificatePins::setDefaultFolder({});
    m_server->stop();
}

void TestServerFixture::storeCredentials(const QString& serverURL, const QString& apiKey) {
    KeychainService::saveCredentials({serverURL, apiKey}, *m_store);
}

KeychainService::Credentials TestServerFixture::credentials() {
    return APIService::usableCredentials(KeychainService::loadCredentials(*m_store));
}
