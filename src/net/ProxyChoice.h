#pragma once

#include <QByteArray>
#include <QString>

// The proxy a request goes through, chosen the way libcurl would from `https_proxy`, `http_proxy`,
// `all_proxy` and `no_proxy`, but by the client, so that a failure can name the proxy it met.
class ProxyChoice {
public:
    // For `url` (scheme and host taken from it) under the current environment.
    static ProxyChoice forUrl(const QByteArray& url);

    bool isUsed() const { return !m_proxy.isEmpty(); }
    // As the environment gives it, for libcurl; empty for a direct connection.
    QByteArray proxy() const { return m_proxy; }
    // Host and port, without scheme or credentials, for the user's texts.
    QString name() const;

    // Whether a `no_proxy` list exempts `host`: "*", a name or domain suffix, an address, or an
    // address range in CIDR notation.
    static bool isExempt(const QString& host, const QByteArray& noProxy);

private:
    QByteArray m_proxy;
};
