#pragma once

#include <QByteArray>
#include <QString>

class QUrl;

// The public keys of servers whose certificates the system does not trust,
// remembered on first contact ("https://host:port" → base64 SHA-256 of the
// key) in a small owner-only JSON file. Reading never fails: a missing or
// damaged file holds no pins.
class CertificatePins {
public:
    // The file in `folder`, which is made (owner-only) when missing.
    explicit CertificatePins(const QString& folder);

    // "scheme://host:port" with the scheme's default port filled in; empty
    // for a URL without scheme or host.
    static QString origin(const QUrl& url);
    // Base64 of the SHA-256 of a DER SubjectPublicKeyInfo: the usual pin form.
    static QByteArray publicKeyHash(const QByteArray& subjectPublicKeyInfo);

    QString filePath() const { return m_filePath; }

    // Empty when nothing is remembered for the origin.
    QByteArray pinned(const QString& origin) const;
    // Return false when the file could not be written.
    bool pin(const QString& origin, const QByteArray& hash);
    bool forget(const QString& origin);

private:
    QString m_filePath;
};
