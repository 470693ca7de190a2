#pragma once

#include "CancelToken.h"
#include "HttpRequest.h"
#include "HttpResponse.h"

#include <QHash>
#include <QObject>
#include <QPointer>
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

    struct Pending;

Q_SIGNALS:
    // A server's key was accepted on first contact but could not be written into `folder`: it is
    // held to only until the process ends. Once per server and process.
    void certificateNotSaved(const QString& folder);

private:
    HttpEngine();
    ~HttpEngine() override;

    QHash<quint64, Pending*> m_pending;
    quint64 m_nextId = 0;
    std::unique_ptr<TransferThread> m_thread;
};
