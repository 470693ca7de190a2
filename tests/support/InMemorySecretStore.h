#pragma once

#include "SecretStore.h"

#include <QMap>
#include <QStringList>
#include <utility>

// A secret store in memory for logic tests. It records every call and can be
// told to fail the next stores.
class InMemorySecretStore : public SecretStore {
public:
    int find(const QString& service, const QString& account, QByteArray* data) override;
    int remove(const QString& service, const QString& account) override;
    int store(const QString& service, const QString& account, const QByteArray& data) override;

    QMap<std::pair<QString, QString>, QByteArray> items;
    QStringList calls; // "find credentials", "remove FTP_HOST", …
    int failStoresWith = 0;
    int failFindsWith = 0; // a locked or absent store
};
