#pragma once

#include <QByteArray>
#include <QString>

// Which TLS servers the client talks to. A certificate the system trusts for
// the host needs nothing more. Company servers often run with self-signed
// certificates, so any other certificate is accepted on first contact with a
// server (scheme, host, port) and from then on only with the same public key
// (CertificatePins; in memory until the client ends when the file cannot be
// written). The check runs inside the TLS handshake, so nothing of a request,
// the API key included, reaches a server with an unknown key.
class ServerTrust {
public:
    // One connection's server, as the handshake sees it.
    struct Peer {
        QString origin; // "https://host:port"
        QByteArray host;
        QString pinsFolder; // CertificatePins
        bool trustOnFirstUse = true;
        bool certificateChanged = false; // set when the remembered key did not match
        // Set when a first contact's key could not be written: it is then held to only in memory,
        // until the process ends.
        bool pinNotSaved = false;
    };

    // Installs the check on an OpenSSL SSL_CTX for a connection to `peer`,
    // which must outlive the handshake.
    static void install(void* sslContext, Peer* peer);
    // Forgets the key remembered in `pinsFolder` for the server at `serverURL`, so that the next
    // connection accepts its present certificate: the user's explicit decision to trust it.
    static void forget(const QString& pinsFolder, const QString& serverURL);
};
