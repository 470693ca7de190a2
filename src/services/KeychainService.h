#pragma once

#include "SecretStore.h"

#include <QString>
#include <optional>

// The server URL and the API key, kept together as one JSON document in one
// secret item (service "com.zanvolt.Zanvolt", account "credentials").
namespace KeychainService {

inline const QString serviceName = QStringLiteral("com.zanvolt.Zanvolt");
inline const QString credentialsAccount = QStringLiteral("credentials");

struct Credentials {
    QString serverURL;
    QString apiKey;

    QByteArray toJson() const;
    // Missing or null members become empty strings; a member of another type
    // or a document that is not a JSON object gives nothing.
    static std::optional<Credentials> fromJson(const QByteArray& json);
    // False when the key holds CR, LF or NUL: it could not travel in a header without adding one.
    // Such a key is neither saved nor used.
    bool hasValidAPIKey() const;

    bool operator==(const Credentials&) const = default;
};

// Nothing when no item is stored; throws KeychainError::unavailable when the store cannot be read,
// so that a locked or absent store is never taken for missing settings.
std::optional<Credentials> loadCredentials(SecretStore& store);
// Throws KeychainError::saveFailed with the store's status, APIError::invalidAPIKey for a key that
// is not valid (nothing is stored then).
void saveCredentials(const Credentials& credentials, SecretStore& store);
bool hasCredentials(SecretStore& store);

} // namespace KeychainService
