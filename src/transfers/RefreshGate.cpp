#include "transfers/RefreshGate.h"

#include <QPointer>
#include <exception>
#include <qcoro/qcorosignal.h>

QCoro::Task<> RefreshGate::run(std::function<QCoro::Task<>()> refresh) {
    if (m_running) {
        m_again = true;
        co_await qCoro(this, &RefreshGate::idle);
        co_return;
    }
    QPointer<RefreshGate> self(this);
    m_running = true;
    std::exception_ptr failure;
    do {
        m_again = false;
        try {
            co_await refresh();
        } catch (...) {
            failure = std::current_exception();
        }
    } while (self && m_again && !failure);
    if (!self)
        co_return;
    m_running = false;
    m_again = false;
    Q_EMIT idle();
    if (failure)
        std::rethrow_exception(failure);
}
