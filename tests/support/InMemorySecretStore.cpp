#include "InMemorySecretStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

void InMemorySecretStore::hold() {
    QMutexLocker locker(&m_mutex);
    m_held = true;
}

void InMemorySecretStore::release() {
    QMutexLocker locker(&m_mutex);
    m_held = false;
    m_released.wakeAll();
}

void InMemorySecretStore::enter(const QString& call) {
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        ++m_mainThreadCalls;
    const QDeadlineTimer deadline(20000);
    while (m_held && m_released.wait(&m_mutex, deadline)) {
    }
    calls << call;
}

int InMemorySecretStore::find(const QString& service, const QString& account, QByteArray* data) {
    QMutexLocker locker(&m_mutex);
    enter(QStringLiteral("find ") + account);
    if (failFindsWith != 0)
        return failFindsWith;
    const auto it = items.constFind({service, account});
    if (it == items.constEnd())
        return -25300;
    *data = *it;
    return 0;
}

int InMemorySecretStore::remove(const QString& service, const QString& account) {
    QMutexLocker locker(&m_mutex);
    enter(QStringLiteral("remove ") + account);
    return items.remove({service, account}) > 0 ? 0 : -25300;
}

int InMemorySecretStore::store(const QString& service, const QString& account, const QByteArray& data) {
    QMutexLocker locker(&m_mutex);
    enter(QStringLiteral("store ") + account);
    if (failStoresWith != 0)
        return failStoresWith;
    items[{service, account}] = data;
    return 0;
}
