#include "models/LocalPath.h"

QByteArray LocalPath::bytes(const QUrl& url) {
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

QUrl LocalPath::url(const QByteArray& path) {
    return QUrl::fromEncoded(QByteArrayLiteral("file://") + path.toPercentEncoding("/"), QUrl::StrictMode);
}

QString LocalPath::text(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}
