#include "net/NetworkWait.h"

#include "models/Logging.h"
#include "net/HttpEngine.h"

#include <QCoroSignal>
#include <algorithm>

using Clock = std::chrono::steady_clock;

NetworkWait::NetworkWait(HttpEngine& http, QPointer<CancelToken> cancel, QObject* parent)
    : QObject(parent), m_http(http), m_cancel(std::move(cancel)), m_lastContact(Clock::now()) {
    m_pause.setSingleShot(true);
    m_pause.setTimerType(Qt::PreciseTimer);
    connect(&m_pause, &QTimer::timeout, this, &NetworkWait::release);
    connect(&m_http, &HttpEngine::networkReturned, this, [this] {
        if (m_pausing)
            release();
    });
    if (m_cancel)
        connect(m_cancel, &CancelToken::cancelled, this, &NetworkWait::release);
}

void NetworkWait::reached() {
    m_lastContact = Clock::now();
    m_round = 0;
    if (m_waiting) {
        qCDebug(lcNet) << "network reached again";
        m_waiting = false;
        Q_EMIT waitingChanged(false);
    }
}

void NetworkWait::release() {
    m_pause.stop();
    m_pausing = false;
    Q_EMIT tryAgain();
}

QCoro::Task<> NetworkWait::waitAfter(HttpError failure) {
    if (m_cancel)
        m_cancel->throwIfCancelled();
    const HttpEngine::WaitLimits limits = m_http.waitLimits();
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_lastContact);
    qCDebug(lcNet) << "network failure after" << waited.count() << "ms without contact:" << failure.what();
    if (waited >= limits.giveUpAfter)
        throw failure;
    if (!m_pausing) {
        // One pause per round, however many requests failed in it; the last try comes at the limit.
        const std::chrono::milliseconds grown = limits.firstPause * (1L << std::min(m_round, 20));
        const std::chrono::milliseconds pause =
            std::min({grown, limits.longestPause, limits.giveUpAfter - waited});
        ++m_round;
        qCDebug(lcNet) << "next try in" << pause.count() << "ms";
        m_pausing = true;
        m_pause.start(pause);
        if (!m_waiting) {
            m_waiting = true;
            m_hasWaited = true;
            Q_EMIT waitingChanged(true);
        }
    }
    QPointer<NetworkWait> self(this);
    co_await qCoro(this, &NetworkWait::tryAgain);
    if (!self)
        co_return;
    if (m_cancel)
        m_cancel->throwIfCancelled();
}
