#pragma once

#include "services/SecretStore.h"

#include <QMap>
#include <QMutex>
#include <QStringList>
#include <QWaitCondition>
#include <atomic>
#include <utility>

// A secret store in memory for logic tests. It records every call and can be
// told to fail the next stores, or to hold every call as a locked keyring does
// while its unlock prompt is open.
class InMemorySecretStore : public SecretStore {
public:
    int find(const QString& service, const QString& account, QByteArray* data) override;
    int remove(const QString& service, const QString& account) override;
    int store(const QString& service, const QString& account, const QByteArray& data) override;

    // Calls wait until release(), for 20 s at most: a call on the thread that should release the
    // store then ends as a failed test instead of a hang.
    void hold();
    void release();
    // Calls made on the main thread, the one that must never wait for the store.
    int mainThreadCalls() const { return m_mainThreadCalls; }

    QMap<std::pair<QString, QString>, QByteArray> items;
    QStringList calls; // "find credentials", "remove FTP_HOST", …
    int failStoresWith = 0;
    int failFindsWith = 0; // a locked or absent store

private:
    // With m_mutex locked: waits while held, then records the call. The call's work runs under the
    // same lock, so a test that reads through this interface never races a worker.
    void enter(const QString& call);

    QMutex m_mutex;
    QWaitCondition m_released;
    bool m_held = false;
    std::atomic<int> m_mainThreadCalls = 0;
};
