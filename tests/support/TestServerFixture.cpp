#include "TestServerFixture.h"

#include "services/APIService.h"
#include "services/KeychainService.h"

#include <QTest>

TestServerFixture::TestServerFixture(DevServer::Options options, HttpEngine::Options http)
    : m_server(std::make_unique<DevServer>(std::move(options))),
      m_store(std::make_shared<InMemorySecretStore>()) {
    if (!m_server->start())
        qFatal("bundled server did not start: %s", qPrintable(m_server->lastError()));
    useEngine(std::move(http));
    storeCredentials(m_server->baseURL(), m_server->apiKey());
}

TestServerFixture::~TestServerFixture() {
    m_server->stop();
}

void TestServerFixture::useEngine(HttpEngine::Options options) {
    if (options.pinsFolder.isEmpty())
        options.pinsFolder = m_pinsFolder.path();
    m_http = std::make_unique<HttpEngine>(std::move(options));
}

void TestServerFixture::storeCredentials(const QString& serverURL, const QString& apiKey) {
    KeychainService::saveCredentials({serverURL, apiKey}, *m_store);
}

ServerConnection TestServerFixture::connection() {
    return {m_http.get(), APIService::usableCredentials(KeychainService::loadCredentials(*m_store))};
}
