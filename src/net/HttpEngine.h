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

class CurlThread;

// The app's HTTP client, made once by whoever composes the app and handed to what sends. Requests
// run on its transfer thread; results and progress come back on the main thread, where the
// awaiting coroutine resumes. Connections and TLS sessions are reused across requests, proxies
// come from the usual environment variables, and redirects are not followed.
class HttpEngine : public QObject {
    Q_OBJECT
public:
    // (body bytes sent, body bytes received), at most every 50 ms.
    using ProgressHandler = std::function<void(qint64, qint64)>;

    // How a transfer waits through a network failure: pauses growing from `firstPause` to
    // `longestPause` between attempts, and failure once nothing got through for `giveUpAfter`.
    struct WaitLimits {
        std::chrono::milliseconds firstPause{1000};
        std::chrono::milliseconds longestPause{30'000};
        std::chrono::milliseconds giveUpAfter{std::chrono::minutes(15)};
    };
    // Every member has an initialiser, so that a designated initialiser may name only the ones it
    // changes without a missing-initialiser warning.
    struct Options {
        QString caBundle{};         // PEM bundle trusted instead of the system's CAs; empty: the system's
        int inactivitySeconds = 60; // without any byte moving before a request fails
        WaitLimits waitLimits{};
        QString pinsFolder{}; // where servers' keys are remembered (CertificatePins); empty: ~/.zanvolt
    };

    // Must be made on the main thread. Its end ends the transfer thread; requests still running
    // are dropped.
    HttpEngine();
    explicit HttpEngine(Options options, QObject* parent = nullptr);
    ~HttpEngine() override;

    // Sends the request and returns the complete answer of any status. Throws
    // HttpError when no complete answer came (a body shorter than announced
    // included), CancelledError at once when `cancel` fires.
    QCoro::Task<HttpResponse> send(HttpRequest request, QPointer<CancelToken> cancel = nullptr,
                                   ProgressHandler progress = {});

    // Ends every transfer and the transfer thread; later requests fail as cancelled.
    void stop();

    WaitLimits waitLimits() const { return m_options.waitLimits; }
    // Forgets the key remembered for the server at `serverURL`, so that the next connection
    // accepts its present certificate (ServerTrust::forget).
    void forgetServerKey(const QString& serverURL);
    // The desktop says the network is back (or the machine woke up): waiting transfers try at once.
    void notifyNetworkReturned() { Q_EMIT networkReturned(); }

    struct Pending;

Q_SIGNALS:
    void networkReturned();
    // A server's key was accepted on first contact but could not be written into `folder`: it is
    // held to only until the process ends. Once per server and process.
    void certificateNotSaved(const QString& folder);

private:
    CurlThread& thread();

    Options m_options;
    QHash<quint64, Pending*> m_pending;
    quint64 m_nextId = 0;
    std::unique_ptr<CurlThread> m_thread; // made by the first request
    bool m_stopped = false;
};
