#pragma once

#include "SecretStore.h"

// Items in the Secret Service's default collection, with the string attributes
// "service" and "account" (so `secret-tool lookup service … account …` finds
// them). Without a reachable Secret Service every call fails; there is no
// plain-text fallback.
class LibsecretStore : public SecretStore {
public:
    int find(const QString& service, const QString& account, QByteArray* data) override;
    int remove(const QString& service, const QString& account) override;
    int store(const QString& service, const QString& account, const QByteArray& data) override;
    QString failureText() const override;
};
