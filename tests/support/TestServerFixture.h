#pragma once

#include "InMemorySecretStore.h"
#include "KeychainService.h"
#include "TransferServer.h"

#include <QTemporaryDir>
#include <memory>

// The bundled server on loopback, with its URL and key stored as the credentials in an
// in-memory secret store that the test hands to its ServerAccount or reads through credentials().
// Remembered server certificates go to a folder of its own: a later server
// that gets the same port has another certificate.
class TestServerFixture {
public:
    explicit TestServerFixture(TransferServer::Options options = {});
    ~TestServerFixture();

    TransferServer& server() { return *m_server; }
    InMemorySecretStore& store() { return *m_store; }
    // Replaces the stored credentials (e.g. an empty key, another URL).
    void storeCredentials(const QString& serverURL, const QString& apiKey);
    // What an operation hands its requests: the stored pair, read now and checked as the client
    // checks it (throws APIError or KeychainError as it would).
    KeychainService::Credentials credentials();

private:
    QTemporaryDir m_pinsFolder;
    std::unique_ptr<TransferServer> m_server;
    std::shared_ptr<InMemorySecretStore> m_store;
};
