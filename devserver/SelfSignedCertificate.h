#pragma once

#include <QString>

// Makes the server's own certificate: an ECDSA P-256 key and a self-signed certificate for
// localhost and the loopback addresses, valid for ten years, as PEM files.
class SelfSignedCertificate {
public:
    static bool create(const QString& certificatePath, const QString& keyPath, QString* error);
};
