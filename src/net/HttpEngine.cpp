#include "net/HttpEngine.h"

#include "models/CancelledError.h"
#include "models/UserText.h"
#include "net/CertificatePins.h"
#include "net/CurlThread.h"
#include "net/HttpError.h"
#include "net/ServerTrust.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <coroutine>
#include <curl/curl.h>
#include <optional>

struct HttpEngine::Pending {
    std::optional<CurlThread::Result> result;
    std::coroutine_handle<> waiter;
    ProgressHandler progress;
};

namespace {
struct ResultAwaiter {
    HttpEngine::Pending* pending;

    bool await_ready() const noexcept { return pending->result.has_value(); }
    void await_suspend(std::coroutine_handle<> waiter) noexcept { pending->waiter = waiter; }
    CurlThread::Result await_resume() { return std::move(*pending->result); }
};
} // namespace

HttpEngine::HttpEngine() : HttpEngine(Options()) {}

HttpEngine::HttpEngine(Options options, QObject* parent) : QObject(parent), m_options(std::move(options)) {
    // Tests of the command line run it as a process and cannot shorten the wait otherwise.
    bool ok = false;
    const int giveUpSeconds = qEnvironmentVariableIntValue("ZANVOLT_GIVE_UP_SECONDS", &ok);
    if (ok && giveUpSeconds >= 0)
        m_options.waitLimits.giveUpAfter = std::chrono::seconds(giveUpSeconds);
    if (m_options.pinsFolder.isEmpty())
        m_options.pinsFolder = QDir::homePath() + QStringLiteral("/.zanvolt");
}

CurlThread& HttpEngine::thread() {
    if (m_thread)
        return *m_thread;
    // Made with the first request, not with the engine: OpenSSL's set-up and the thread would
    // otherwise hold up the tray icon at start.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // The sinks run on the transfer thread and only post to this object's (the main) thread.
    m_thread = std::make_unique<CurlThread>(
        CurlThread::Settings{QFile::encodeName(m_options.caBundle), m_options.inactivitySeconds,
                             m_options.pinsFolder},
        [this](CurlThread::Result result) {
            QMetaObject::invokeMethod(
                this,
                [this, result = std::move(result)]() mutable {
                    if (result.pinNotSaved)
                        Q_EMIT certificateNotSaved(m_options.pinsFolder);
                    Pending* pending = m_pending.take(result.id);
                    if (!pending)
                        return;
                    pending->result = std::move(result);
                    if (pending->waiter)
                        pending->waiter.resume();
                },
                Qt::QueuedConnection);
        },
        [this](QList<CurlThread::Progress> progress) {
            QMetaObject::invokeMethod(
                this,
                [this, progress = std::move(progress)] {
                    for (const CurlThread::Progress& step : progress) {
                        Pending* pending = m_pending.value(step.id);
                        if (pending && pending->progress)
                            pending->progress(step.sent, step.received);
                    }
                },
                Qt::QueuedConnection);
        });
    return *m_thread;
}

// The thread goes first: its sinks post to this object.
HttpEngine::~HttpEngine() {
    m_thread.reset();
}

void HttpEngine::stop() {
    m_stopped = true;
    m_thread.reset();
    // Whoever still waits hears that the transfer was cancelled.
    const QList<Pending*> waiting = m_pending.values();
    m_pending.clear();
    for (Pending* pending : waiting) {
        CurlThread::Result result;
        result.cancelled = true;
        pending->result = std::move(result);
        if (pending->waiter)
            pending->waiter.resume();
    }
}

void HttpEngine::forgetServerKey(const QString& serverURL) {
    ServerTrust::forget(m_options.pinsFolder, serverURL);
}

QCoro::Task<HttpResponse> HttpEngine::send(HttpRequest request, QPointer<CancelToken> cancel,
                                           ProgressHandler progress) {
    if ((cancel && cancel->isCancelled()) || m_stopped)
        throw CancelledError();
    // CR or LF in a header would end it and start another one nobody set; libcurl sends them as given.
    const auto unsafe = [](const QByteArray& text) {
        return text.contains('\r') || text.contains('\n') || text.contains('\0');
    };
    for (const auto& [name, value] : request.headers)
        if (unsafe(name) || unsafe(value))
            throw HttpError(HttpError::Kind::Transport, UserText::unsafeHeader());
    const QUrl url = QUrl::fromEncoded(request.url, QUrl::StrictMode);
    const QString origin = CertificatePins::origin(url);
    const QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();

    Pending pending;
    pending.progress = std::move(progress);
    const quint64 id = ++m_nextId;
    m_pending.insert(id, &pending);
    QMetaObject::Connection cancelling;
    if (cancel)
        cancelling = connect(cancel, &CancelToken::cancelled, this, [this, id] {
            if (m_thread)
                m_thread->cancel(id);
        });
    thread().submit(id, std::move(request), origin, host);

    CurlThread::Result result = co_await ResultAwaiter{&pending};
    disconnect(cancelling);
    if (result.cancelled)
        throw CancelledError();
    if (result.error)
        throw *result.error;
    co_return HttpResponse{result.status, std::move(result.body), result.filePath};
}
