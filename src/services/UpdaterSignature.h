#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Ed25519 signatures of update files, checked with OpenSSL.
class UpdaterSignature {
public:
    // True when `signatureBase64` (64 bytes once decoded) is a valid signature of `data` made with the
    // private half of `publicKeyBase64` (the 32-byte raw key). Malformed base64, keys or signatures of
    // the wrong size are never valid.
    static bool verify(QByteArrayView data, const QByteArray& signatureBase64,
                       const QByteArray& publicKeyBase64);

    // What an update's signature covers: its version and its file together, so that a signed file
    // cannot be offered under another version. The text
    //   "Zanvolt-Update <version>\n<SHA-512 of the file, lower-case hex>\n"
    // (made by scripts/sign-update.sh).
    static QByteArray signedMessage(const QString& version, QByteArrayView file);
};
