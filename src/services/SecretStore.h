#pragma once

#include <QByteArray>
#include <QString>

// A store of secret items addressed by service and account. Every call returns
// a status: 0 is success, anything else a failure (including "no item").
class SecretStore {
public:
    static constexpr int itemNotFound = -25300;
    // The item exists but stays locked (its unlock prompt was dismissed).
    static constexpr int itemLocked = -25308;

    virtual ~SecretStore() = default;

    virtual int find(const QString& service, const QString& account, QByteArray* data) = 0;
    virtual int remove(const QString& service, const QString& account) = 0;
    // Adds the item, or replaces the data of the item with the same service
    // and account in one step.
    virtual int store(const QString& service, const QString& account, const QByteArray& data) = 0;
    // What the store said about the last failed call on the calling thread, in its own words;
    // empty when it said nothing (the status is then all there is).
    virtual QString failureText() const { return {}; }
};
