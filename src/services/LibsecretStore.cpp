// libsecret (GLib) must come before Qt: GLib uses "signals" as an identifier.
#include <libsecret/secret.h>

#include "LibsecretStore.h"

namespace {
// Matching ignores the schema name, so items made by `secret-tool store` with
// the same attributes are found too.
const SecretSchema* schema() {
    static const SecretSchema value = {"com.zanvolt.Zanvolt.Credentials",
                                       SECRET_SCHEMA_DONT_MATCH_NAME,
                                       {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        {nullptr, {}}},
                                       0,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr};
    return &value;
}

// GLib's message of the calling thread's last failure: each call runs on one thread from start to
// the caller's reading of it.
thread_local QString lastFailure;

int statusOf(GError* error) {
    if (!error)
        return 0;
    const int status = error->code != 0 ? error->code : -1;
    lastFailure = QString::fromUtf8(error->message).trimmed();
    g_error_free(error);
    return status;
}
// A lookup whose unlock prompt was dismissed answers "no item" without an error, which would
// present the stored settings as missing: a search that does not unlock tells the two apart.
int lockedOrMissing(const QString& service, const QString& account) {
    GError* error = nullptr;
    GList* items = secret_password_search_sync(schema(), SECRET_SEARCH_ALL, nullptr, &error, "service",
                                               service.toUtf8().constData(), "account",
                                               account.toUtf8().constData(), nullptr);
    if (error)
        return statusOf(error);
    const bool exists = items != nullptr;
    g_list_free_full(items, g_object_unref);
    return exists ? SecretStore::itemLocked : SecretStore::itemNotFound;
}
} // namespace

int LibsecretStore::find(const QString& service, const QString& account, QByteArray* data) {
    lastFailure.clear();
    GError* error = nullptr;
    gchar* secret =
        secret_password_lookup_sync(schema(), nullptr, &error, "service", service.toUtf8().constData(),
                                    "account", account.toUtf8().constData(), nullptr);
    if (error)
        return statusOf(error);
    if (!secret)
        return lockedOrMissing(service, account);
    if (data)
        *data = QByteArray(secret);
    secret_password_free(secret);
    return 0;
}

int LibsecretStore::remove(const QString& service, const QString& account) {
    lastFailure.clear();
    GError* error = nullptr;
    const gboolean removed =
        secret_password_clear_sync(schema(), nullptr, &error, "service", service.toUtf8().constData(),
                                   "account", account.toUtf8().constData(), nullptr);
    if (error)
        return statusOf(error);
    return removed ? 0 : -25300;
}

int LibsecretStore::store(const QString& service, const QString& account, const QByteArray& data) {
    lastFailure.clear();
    GError* error = nullptr;
    const QByteArray label = QStringLiteral("Zanvolt (%1)").arg(account).toUtf8();
    const gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.constData(), data.constData(), nullptr, &error, "service",
        service.toUtf8().constData(), "account", account.toUtf8().constData(), nullptr);
    if (error)
        return statusOf(error);
    return stored ? 0 : -1;
}

QString LibsecretStore::failureText() const {
    return lastFailure;
}
