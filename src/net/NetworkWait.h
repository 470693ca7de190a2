#pragma once

#include "net/CancelToken.h"
#include "net/HttpError.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <qcoro/qcorotask.h>

class HttpEngine;

// The waiting of one transfer whose requests meet a network failure: every request that failed
// for a network reason waits here for the same next try, after a pause that grows with each
// round (or at once when the network comes back), until nothing got through for the give-up
// limit. An answer of any status counts as getting through.
class NetworkWait : public QObject {
    Q_OBJECT
public:
    // With `http`'s wait limits, and at once when it hears that the network returned.
    NetworkWait(HttpEngine& http, QPointer<CancelToken> cancel, QObject* parent = nullptr);

    // A request got an answer: the waiting ends and the pauses start short again.
    void reached();
    // After a network failure: returns when the next try is due; throws `failure` once the
    // give-up limit has passed, CancelledError when the transfer is cancelled.
    QCoro::Task<> waitAfter(HttpError failure);

    bool isWaiting() const { return m_waiting; }
    // Whether this transfer ever waited: the server may have dropped what it had of it meanwhile.
    bool hasWaited() const { return m_hasWaited; }

Q_SIGNALS:
    void waitingChanged(bool waiting);
    void tryAgain();

private:
    void release();

    HttpEngine& m_http;
    QPointer<CancelToken> m_cancel;
    QTimer m_pause;
    std::chrono::steady_clock::time_point m_lastContact;
    int m_round = 0;
    bool m_pausing = false;
    bool m_waiting = false;
    bool m_hasWaited = false;
};
