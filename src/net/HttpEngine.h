#pragma once

#include "net/CancelToken.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>

class TransferThread;

// The app's one HTTP client. Requests run on the transfer thread; results and
// progress come back on the main thread, where the awaiting coroutine
// resumes. Connections and TLS sessions are reused across requests, proxies
// come from the usual environment variables, and redirects are not followed.
class HttpEngine : public QObject {
    Q_OBJECT
public:
    // (body bytes sent, body bytes received), at most every 50 ms.
    using ProgressHandler = std::function<void(qint64, qint64)>;

    // Created on first use, which must be on the main thread; lives as long as the process.
    static HttpEngine& instance();

    // Sends the request and returns the complete answer of any status. Throws
    // HttpError when no complete answer came (a body shorter than announced
    // included), CancelledError at once when `cancel` fires.
    QCoro::Task<HttpResponse> send(HttpRequest request, QPointer<CancelToken> cancel = nullptr,
                                   ProgressHandler progress = {});

    // Ends every transfer and the transfer thread; later requests fail as
    // cancelled. The application object's end stops the thread by itself.
    void stop();

    // For tests: trust only the CAs in this PEM bundle instead of the system's.
    void setCaBundle(const QString& path);
    // For tests: seconds without any byte moving before a request fails (60 by default).
    void setInactivityLimit(int seconds);

    // How a transfer waits through a network failure: pauses growing from `firstPause` to
    // `longestPause` between attempts, and failure once nothing got through for `giveUpAfter`.
    struct WaitLimits {
        std::chrono::milliseconds firstPause{1000};
        std::chrono::milliseconds longestPause{30'000};
        std::chrono::milliseconds giveUpAfter{std::chrono::minutes(15)};
    };
    WaitLimits waitLimits() const { return m_waitLimits; }
    // For tests: shorter (or longer) waits.
    void setWaitLimits(WaitLimits limits) { m_waitLimits = limits; }
    // The desktop says the network is back (or the machine woke up): waiting transfers try at once.
    void notifyNetworkReturned() { Q_EMIT networkReturned(); }

    struct Pending;

Q_SIGNALS:
    void networkReturned();
    // A server's key was accepted on first contact but could not be written into `folder`: it is
    // held to only until the process ends. Once per server and process.
    void certificateNotSaved(const QString& folder);

private:
    HttpEngine();
    ~HttpEngine() override;

    QHash<quint64, Pending*> m_pending;
    quint64 m_nextId = 0;
    WaitLimits m_waitLimits;
    std::unique_ptr<TransferThread> m_thread;
};
