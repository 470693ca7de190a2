#include "KeychainService.h"

#include "APIError.h"
#include "KeychainError.h"
#include "OrderedJson.h"
#include "UserText.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace KeychainService {

namespace {
// What the user reads after "Keychain-Fehler:": the store's own words; a lookup whose unlock was
// refused says nothing, and its status is an internal code.
QString storeSaid(const SecretStore& store, int status) {
    const QString said = store.failureText();
    if (said.isEmpty() && status == SecretStore::itemLocked)
        return UserText::keychainNotUnlocked();
    return said;
}
} // namespace

QByteArray Credentials::toJson() const {
    OrderedJson json = OrderedJson::object();
    json.insert(QStringLiteral("serverURL"), serverURL).insert(QStringLiteral("apiKey"), apiKey);
    return json.toJson();
}

std::optional<Credentials> Credentials::fromJson(const QByteArray& json) {
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    Credentials credentials;
    for (auto [key, field] : {std::pair{QStringLiteral("serverURL"), &credentials.serverURL},
                              std::pair{QStringLiteral("apiKey"), &credentials.apiKey}}) {
        const QJsonValue value = object.value(key);
        if (value.isUndefined() || value.isNull())
            continue;
        if (!value.isString())
            return std::nullopt;
        *field = value.toString();
    }
    return credentials;
}

bool Credentials::hasValidAPIKey() const {
    return !apiKey.contains(QLatin1Char('\r')) && !apiKey.contains(QLatin1Char('\n')) &&
           !apiKey.contains(QChar(u'\0'));
}

std::optional<Credentials> loadCredentials(SecretStore& store) {
    QByteArray data;
    const int status = store.find(serviceName, credentialsAccount, &data);
    if (status == SecretStore::itemNotFound)
        return std::nullopt;
    if (status != 0)
        throw KeychainError::unavailable(status, storeSaid(store, status));
    return Credentials::fromJson(data);
}

void saveCredentials(const Credentials& credentials, SecretStore& store) {
    if (!credentials.hasValidAPIKey())
        throw APIError::invalidAPIKey();
    // One replacing store instead of delete-then-add: a failed save keeps the
    // previous credentials.
    const int status = store.store(serviceName, credentialsAccount, credentials.toJson());
    if (status != 0)
        throw KeychainError::saveFailed(status, storeSaid(store, status));
}

bool hasCredentials(SecretStore& store) {
    const auto credentials = loadCredentials(store);
    return credentials && !credentials->serverURL.isEmpty() && !credentials->apiKey.isEmpty();
}

} // namespace KeychainService
