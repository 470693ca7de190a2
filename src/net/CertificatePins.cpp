#include "net/CertificatePins.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUrl>

namespace {
QJsonObject readPins(const QString& filePath) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writePins(const QString& filePath, const QJsonObject& pins) {
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray bytes = QJsonDocument(pins).toJson(QJsonDocument::Indented);
    // Flush before commit: a failure only the last flush meets must keep the old file.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
} // namespace

CertificatePins::CertificatePins(const QString& folder) {
    if (!QDir(folder).exists() && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_filePath = QDir(folder).filePath(QStringLiteral("pinned-certificates.json"));
}

QString CertificatePins::origin(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (scheme.isEmpty() || url.host().isEmpty())
        return {};
    const int defaultPort = scheme == QLatin1String("http") ? 80 : 443;
    return QStringLiteral("%1://%2:%3").arg(scheme, url.host().toLower()).arg(url.port(defaultPort));
}

QByteArray CertificatePins::publicKeyHash(const QByteArray& subjectPublicKeyInfo) {
    if (subjectPublicKeyInfo.isEmpty())
        return {};
    return QCryptographicHash::hash(subjectPublicKeyInfo, QCryptographicHash::Sha256).toBase64();
}

QByteArray CertificatePins::pinned(const QString& origin) const {
    return readPins(m_filePath).value(origin).toString().toLatin1();
}

bool CertificatePins::pin(const QString& origin, const QByteArray& hash) {
    QJsonObject pins = readPins(m_filePath);
    pins.insert(origin, QString::fromLatin1(hash));
    return writePins(m_filePath, pins);
}

bool CertificatePins::forget(const QString& origin) {
    QJsonObject pins = readPins(m_filePath);
    if (!pins.contains(origin))
        return true;
    pins.remove(origin);
    return writePins(m_filePath, pins);
}
