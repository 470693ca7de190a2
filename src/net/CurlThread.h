#pragma once

#include "net/HttpError.h"
#include "net/HttpRequest.h"

struct CurlJob;

#include <QList>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// The thread that moves every byte of the app's HTTP traffic: one libcurl
// multi handle driven by curl_multi_poll and woken by curl_multi_wakeup, so
// TLS, file reads and file writes never load the UI thread. It is handed
// requests and cancellations from any thread and reports through the sinks,
// which it calls on its own thread.
class CurlThread {
public:
    struct Result {
        quint64 id = 0;
        int status = 0;
        QByteArray body;
        QString filePath;
        std::optional<HttpError> error;
        bool cancelled = false;
        bool pinNotSaved = false; // see ServerTrust::Peer
    };
    struct Progress {
        quint64 id;
        qint64 sent;
        qint64 received;
    };
    using ResultSink = std::function<void(Result)>;
    using ProgressSink = std::function<void(QList<Progress>)>;
    // Fixed for the thread's life (see HttpEngine::Options).
    struct Settings {
        QByteArray caBundle;
        int inactivitySeconds = 60;
        QString pinsFolder;
    };

    CurlThread(Settings settings, ResultSink results, ProgressSink progress);
    ~CurlThread();
    CurlThread(const CurlThread&) = delete;
    CurlThread& operator=(const CurlThread&) = delete;

    // `origin` and `host` name the server for the certificate check.
    void submit(quint64 id, HttpRequest request, QString origin, QByteArray host);
    // The transfer ends at once with `cancelled` set; unknown or finished ids are ignored.
    void cancel(quint64 id);

private:
    void run();
    void takeCommands();
    void start(std::unique_ptr<CurlJob> job);
    void finish(CurlJob* job, int curlCode);
    void reportProgress();

    const Settings m_settings;
    ResultSink m_results;
    ProgressSink m_progress;
    void* m_multi;
    void* m_share;

    std::mutex m_mutex; // guards the commands
    std::vector<std::unique_ptr<CurlJob>> m_submitted;
    std::vector<quint64> m_cancelled;
    bool m_quit = false;

    std::vector<std::unique_ptr<CurlJob>> m_running; // the thread's own
    std::thread m_thread;
};
