#pragma once

#include "DevServer.h"
#include "InMemorySecretStore.h"
#include "net/HttpEngine.h"
#include "services/ServerConnection.h"

#include <QTemporaryDir>
#include <memory>

// The bundled server on loopback, with its URL and key stored as the credentials in an
// in-memory secret store that the test hands to its ServerAccount or reads through connection(),
// and an engine of its own. Remembered server certificates go to a folder of its own unless the
// engine's options name another: a later server that gets the same port has another certificate.
class TestServerFixture {
public:
    explicit TestServerFixture(DevServer::Options options = {}, HttpEngine::Options http = {});
    ~TestServerFixture();

    DevServer& server() { return *m_server; }
    InMemorySecretStore& store() { return *m_store; }
    HttpEngine& http() { return *m_http; }
    QString pinsFolder() const { return m_pinsFolder.path(); }
    // A new engine with these options replaces the present one.
    void useEngine(HttpEngine::Options options);
    // Replaces the stored credentials (e.g. an empty key, another URL).
    void storeCredentials(const QString& serverURL, const QString& apiKey);
    // What an operation hands its requests: the engine and the stored pair, read now and checked as
    // the client checks it (throws APIError or KeychainError as it would).
    ServerConnection connection();

private:
    QTemporaryDir m_pinsFolder;
    std::unique_ptr<DevServer> m_server;
    std::shared_ptr<InMemorySecretStore> m_store;
    std::unique_ptr<HttpEngine> m_http;
};
