#pragma once

#include <QCoreApplication>
#include <QString>

// Every sentence the user reads about a failure or an event, each written once here and translated
// through Qt (German is the source language). Callers pass what happened and its arguments.
class UserText {
    Q_DECLARE_TR_FUNCTIONS(UserText)

public:
    // Why a request brought no answer, as the transport found it.
    enum class Transport {
        ServerUnreachable,      // nothing accepted the connection
        ConnectionLost,         // the connection broke off before the answer was complete
        NameUnresolved,         // the server's name has no address
        SecureConnectionFailed, // the TLS handshake failed
        NotHttps,               // the server answered, but not in TLS
        ProxyUnreachable,
        ProxyNameUnresolved,
        ProxySilent,        // the proxy took the connection but never answered it
        ProxyRefusedTunnel, // the proxy answered the tunnel request with an error status
        Other,
    };
    // `where` names the server (host and port), or the proxy for the proxy's failures; `server`
    // is the server behind a refusing proxy; `detail` is the transport's own words, shown after.
    static QString transport(Transport what, const QString& where, const QString& detail,
                             const QString& server = {});
    static QString serverSilent(int seconds);
    static QString incompleteTransfer(qint64 got, qint64 announced);
    static QString rangeRefused();
    static QString certificateChanged();
    static QString responseTooLarge(qint64 megabytes);
    static QString diskFull();
    static QString fileChangedDuringUpload();
    static QString unsafeHeader();

    // `reason`: the secret store's own words, or its status number.
    static QString keychainFailure(const QString& reason);
    static QString keychainUnavailable(const QString& reason);
    static QString keychainNotUnlocked();
};
