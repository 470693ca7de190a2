#include "ProxyChoice.h"

#include <QList>
#include <QUrl>
#include <arpa/inet.h>
#include <cstring>

namespace {
QByteArray environment(const char* lower, const char* upper) {
    QByteArray value = qgetenv(lower);
    if (value.isEmpty() && upper)
        value = qgetenv(upper);
    return value.trimmed();
}

// An IPv4 or IPv6 address as bytes; empty for a name.
QByteArray addressBytes(const QString& text) {
    QByteArray latin = text.toLatin1();
    if (latin.startsWith('[') && latin.endsWith(']'))
        latin = latin.mid(1, latin.size() - 2);
    unsigned char buffer[16];
    if (inet_pton(AF_INET, latin.constData(), buffer) == 1)
        return QByteArray(reinterpret_cast<const char*>(buffer), 4);
    if (inet_pton(AF_INET6, latin.constData(), buffer) == 1)
        return QByteArray(reinterpret_cast<const char*>(buffer), 16);
    return {};
}

bool sameLeadingBits(const QByteArray& a, const QByteArray& b, int bits) {
    if (a.size() != b.size() || bits < 0 || bits > a.size() * 8)
        return false;
    const int whole = bits / 8;
    if (std::memcmp(a.constData(), b.constData(), size_t(whole)) != 0)
        return false;
    const int rest = bits % 8;
    if (rest == 0)
        return true;
    const auto mask = static_cast<unsigned char>(0xff << (8 - rest));
    return (static_cast<unsigned char>(a[whole]) & mask) == (static_cast<unsigned char>(b[whole]) & mask);
}
} // namespace

ProxyChoice ProxyChoice::forUrl(const QByteArray& url) {
    const QUrl parsed = QUrl::fromEncoded(url);
    const bool https = parsed.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    // Like libcurl, no upper-case HTTP_PROXY: a CGI environment sets it from a request header.
    QByteArray proxy = https ? environment("https_proxy", "HTTPS_PROXY") : environment("http_proxy", nullptr);
    if (proxy.isEmpty())
        proxy = environment("all_proxy", "ALL_PROXY");
    ProxyChoice choice;
    if (!proxy.isEmpty() && !isExempt(parsed.host(), environment("no_proxy", "NO_PROXY")))
        choice.m_proxy = proxy;
    return choice;
}

QString ProxyChoice::name() const {
    const QUrl url = QUrl::fromEncoded(m_proxy.contains("://") ? m_proxy : "http://" + m_proxy);
    if (!url.isValid() || url.host().isEmpty())
        return QString::fromUtf8(m_proxy);
    return url.port() < 0 ? url.host() : url.host() + QLatin1Char(':') + QString::number(url.port());
}

bool ProxyChoice::isExempt(const QString& host, const QByteArray& noProxy) {
    const QString name = host.toLower();
    const QByteArray address = addressBytes(name);
    for (QByteArray entry : noProxy.split(',')) {
        entry = entry.trimmed().toLower();
        if (entry == "*")
            return true;
        if (entry.isEmpty())
            continue;
        if (!address.isEmpty()) {
            const qsizetype slash = entry.indexOf('/');
            const QByteArray range = addressBytes(QString::fromLatin1(slash < 0 ? entry : entry.left(slash)));
            bool bitsOk = true;
            const int bits = slash < 0 ? int(range.size()) * 8 : entry.mid(slash + 1).toInt(&bitsOk);
            if (bitsOk && sameLeadingBits(address, range, bits))
                return true;
            continue;
        }
        if (entry.startsWith('.'))
            entry.remove(0, 1);
        const QString domain = QString::fromLatin1(entry);
        if (name == domain || name.endsWith(QLatin1Char('.') + domain))
            return true;
    }
    return false;
}
