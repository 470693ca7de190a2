#include "net/ServerTrust.h"

#include "net/CertificatePins.h"

#include <QHash>
#include <QUrl>
#include <arpa/inet.h>
#include <mutex>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {
// Pins are read and written by the transfer thread for several connections at once.
std::mutex pinsMutex;

bool matchesHost(X509* leaf, const QByteArray& host) {
    unsigned char address[sizeof(in6_addr)];
    if (inet_pton(AF_INET, host.constData(), address) == 1 ||
        inet_pton(AF_INET6, host.constData(), address) == 1)
        return X509_check_ip_asc(leaf, host.constData(), 0) == 1;
    return X509_check_host(leaf, host.constData(), size_t(host.size()), 0, nullptr) == 1;
}

QByteArray subjectPublicKeyInfo(X509* leaf) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(X509_get0_pubkey(leaf), &der);
    if (length <= 0)
        return {};
    QByteArray spki(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    return spki;
}

// Keys that could not be written to the pins file: still held to for as long as the client runs,
// since a pin that cannot be stored must not mean "trust anything".
QHash<QString, QByteArray>& unsavedPins() {
    static QHash<QString, QByteArray> pins;
    return pins;
}

bool trustOnFirstUse(ServerTrust::Peer& peer, const QByteArray& hash) {
    const std::lock_guard lock(pinsMutex);
    CertificatePins pins(peer.pinsFolder);
    QByteArray known = pins.pinned(peer.origin);
    if (known.isEmpty())
        known = unsavedPins().value(peer.origin);
    if (known.isEmpty()) {
        // A pin that cannot be written is no reason to refuse the first contact.
        if (!pins.pin(peer.origin, hash)) {
            unsavedPins().insert(peer.origin, hash);
            peer.pinNotSaved = true;
        }
        return true;
    }
    return known == hash;
}

int verifyChain(X509_STORE_CTX* context, void* argument) {
    auto* peer = static_cast<ServerTrust::Peer*>(argument);
    const bool chainTrusted = X509_verify_cert(context) == 1;
    X509* leaf = X509_STORE_CTX_get0_cert(context);
    if (!leaf)
        return 0;
    if (chainTrusted && matchesHost(leaf, peer->host))
        return 1;
    if (!peer->trustOnFirstUse)
        return 0;
    const QByteArray hash = CertificatePins::publicKeyHash(subjectPublicKeyInfo(leaf));
    if (hash.isEmpty() || peer->origin.isEmpty())
        return 0;
    if (!trustOnFirstUse(*peer, hash)) {
        peer->certificateChanged = true;
        return 0;
    }
    // The handshake reads the result from here: the decision above replaces the store's verdict.
    X509_STORE_CTX_set_error(context, X509_V_OK);
    return 1;
}
} // namespace

void ServerTrust::install(void* sslContext, Peer* peer) {
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), &verifyChain, peer);
}

void ServerTrust::forget(const QString& pinsFolder, const QString& serverURL) {
    const QString origin = CertificatePins::origin(QUrl(serverURL, QUrl::StrictMode));
    if (origin.isEmpty())
        return;
    const std::lock_guard lock(pinsMutex);
    unsavedPins().remove(origin);
    CertificatePins(pinsFolder).forget(origin);
}
