#include "InMemorySecretStore.h"

int InMemorySecretStore::find(const QString& service, const QString& account, QByteArray* data) {
    calls << QStringLiteral("find ") + account;
    if (failFindsWith != 0)
        return failFindsWith;
    const auto it = items.constFind({service, account});
    if (it == items.constEnd())
        return -25300;
    *data = *it;
    return 0;
}

int InMemorySecretStore::remove(const QString& service, const QString& account) {
    calls << QStringLiteral("remove ") + account;
    return items.remove({service, account}) > 0 ? 0 : -25300;
}

int InMemorySecretStore::store(const QString& service, const QString& account, const QByteArray& data) {
    calls << QStringLiteral("store ") + account;
    if (failStoresWith != 0)
        return failStoresWith;
    items[{service, account}] = data;
    return 0;
}
