#include "net/CurlThread.h"

#include "models/Logging.h"
#include "models/UserText.h"
#include "net/CurlJob.h"
#include "net/ServerTrust.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
// Progress reaches the main thread at most this often, however many transfers run.
constexpr auto progressInterval = std::chrono::milliseconds(50);

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Failures of the line between client and server, which a later attempt may not meet.
bool isNetworkCode(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_AGAIN:
        return true;
    default:
        return false;
    }
}

// The server as the user named it: host, and the port when the URL gives one.
QString serverName(const QByteArray& url) {
    const QUrl parsed = QUrl::fromEncoded(url);
    return parsed.port() < 0 ? parsed.host()
                             : parsed.host() + QLatin1Char(':') + QString::number(parsed.port());
}

// What libcurl's code means for the user: which part of the way failed. `detail` is the
// transport's own words.
HttpError transportError(const CurlJob& job, CURLcode code, const QString& detail, int inactivity) {
    using Transport = UserText::Transport;
    using Kind = HttpError::Kind;
    long connectStatus = 0; // the proxy's answer to the tunnel request, 0 before one
    curl_easy_getinfo(job.easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    long systemError = 0;
    curl_easy_getinfo(job.easy, CURLINFO_OS_ERRNO, &systemError);
    const QString server = serverName(job.request.url);
    const QString proxy = job.proxy.name();
    // An https request through a proxy first asks it for a tunnel; until the proxy answers, a
    // silence or a closed connection is the proxy's.
    const bool tunnelPending = job.proxy.isUsed() && connectStatus == 0 &&
                               QUrl::fromEncoded(job.request.url).scheme() == QLatin1String("https");
    const Kind kind = code == CURLE_OPERATION_TIMEDOUT ? Kind::Timeout
                      : isNetworkCode(code)            ? Kind::Network
                                                       : Kind::Transport;
    // The system's words are shorter and in the user's language where the C library has them.
    const QString words = systemError != 0 ? systemText(int(systemError)) : detail;
    const auto error = [&](Transport what, const QString& where, const QString& shown = {}) {
        return HttpError(kind, UserText::transport(what, where, shown.isEmpty() ? words : shown, server),
                         int(code), int(systemError));
    };
    if (job.proxy.isUsed() && connectStatus >= 300)
        return error(Transport::ProxyRefusedTunnel, proxy, QStringLiteral("HTTP %1").arg(connectStatus));
    switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
        return error(Transport::ProxyNameUnresolved, proxy);
    case CURLE_COULDNT_RESOLVE_HOST:
        return error(Transport::NameUnresolved, server);
    case CURLE_COULDNT_CONNECT:
        // Only the proxy is connected to when there is one.
        return job.proxy.isUsed() ? error(Transport::ProxyUnreachable, proxy)
                                  : error(Transport::ServerUnreachable, server);
    case CURLE_OPERATION_TIMEDOUT:
        if (tunnelPending)
            return error(Transport::ProxySilent, proxy);
        return HttpError(kind, UserText::serverSilent(inactivity), int(code));
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_AGAIN:
        return tunnelPending ? error(Transport::ProxySilent, proxy)
                             : error(Transport::ConnectionLost, server);
    case CURLE_SSL_CONNECT_ERROR:
        // OpenSSL's reason when the first bytes back were no TLS record, e.g. a plain HTTP answer;
        // the error queue is gone once libcurl returns, so its text is all there is.
        if (detail.contains(QLatin1String("wrong version number")) ||
            detail.contains(QLatin1String("packet length too long")))
            return error(Transport::NotHttps, server);
        return error(Transport::SecureConnectionFailed, server);
    default:
        return error(Transport::Other, server);
    }
}
} // namespace

CurlThread::CurlThread(Settings settings, ResultSink results, ProgressSink progress)
    : m_settings(std::move(settings)), m_results(std::move(results)), m_progress(std::move(progress)),
      m_multi(curl_multi_init()), m_share(curl_share_init()) {
    // Only this thread uses the handles, so the share needs no locks: a new
    // connection to a known server resumes its TLS session and skips the lookup.
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    m_thread = std::thread([this] { run(); });
}

CurlThread::~CurlThread() {
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    curl_multi_wakeup(m_multi);
    m_thread.join();
    for (auto& job : m_running)
        curl_multi_remove_handle(m_multi, job->easy);
    m_running.clear();
    curl_multi_cleanup(m_multi);
    curl_share_cleanup(m_share);
}

void CurlThread::submit(quint64 id, HttpRequest request, QString origin, QByteArray host) {
    auto job = std::make_unique<CurlJob>();
    job->id = id;
    job->request = std::move(request);
    job->peer.origin = std::move(origin);
    job->peer.host = std::move(host);
    job->peer.trustOnFirstUse = job->request.trustOnFirstUse;
    job->peer.pinsFolder = m_settings.pinsFolder;
    {
        const std::lock_guard lock(m_mutex);
        m_submitted.push_back(std::move(job));
    }
    curl_multi_wakeup(m_multi);
}

void CurlThread::cancel(quint64 id) {
    {
        const std::lock_guard lock(m_mutex);
        m_cancelled.push_back(id);
    }
    curl_multi_wakeup(m_multi);
}

void CurlThread::run() {
    auto lastProgress = Clock::now();
    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_quit)
                return;
        }
        takeCommands();
        int running = 0;
        curl_multi_perform(m_multi, &running);
        while (true) {
            int left = 0;
            CURLMsg* message = curl_multi_info_read(m_multi, &left);
            if (!message)
                break;
            if (message->msg != CURLMSG_DONE)
                continue;
            // The message is gone once its handle is removed: take what is needed first.
            const CURLcode code = message->data.result;
            CurlJob* job = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &job);
            finish(job, code);
        }
        if (Clock::now() - lastProgress >= progressInterval) {
            reportProgress();
            lastProgress = Clock::now();
        }
        curl_multi_poll(m_multi, nullptr, 0, m_running.empty() ? 1000 : int(progressInterval.count()),
                        nullptr);
    }
}

void CurlThread::takeCommands() {
    std::vector<std::unique_ptr<CurlJob>> submitted;
    std::vector<quint64> cancelled;
    {
        const std::lock_guard lock(m_mutex);
        submitted.swap(m_submitted);
        cancelled.swap(m_cancelled);
    }
    for (auto& job : submitted)
        start(std::move(job));
    for (const quint64 id : cancelled) {
        for (auto it = m_running.begin(); it != m_running.end(); ++it) {
            if ((*it)->id != id)
                continue;
            curl_multi_remove_handle(m_multi, (*it)->easy);
            Result result;
            result.id = id;
            result.cancelled = true;
            m_running.erase(it); // removes a half-written download
            m_results(std::move(result));
            break;
        }
    }
}

void CurlThread::start(std::unique_ptr<CurlJob> job) {
    const int inactivity = m_settings.inactivitySeconds;
    const QByteArray& caBundle = m_settings.caBundle;
    const HttpRequest& request = job->request;
    if (request.bodyFile) {
        job->bodyFd = ::open(QFile::encodeName(request.bodyFile->path).constData(), O_RDONLY | O_CLOEXEC);
        if (job->bodyFd < 0) {
            Result result;
            result.id = job->id;
            result.error = HttpError(HttpError::Kind::FileSystem, systemText(errno));
            m_results(std::move(result));
            return;
        }
    }
    job->bodySize = request.bodySize();
    if (request.resume && !job->reopenPart()) {
        Result result;
        result.id = job->id;
        result.error = HttpError(HttpError::Kind::FileSystem,
                                 UserText::cannotSave(request.downloadFolder, systemText(job->writeErrno)));
        m_results(std::move(result));
        return;
    }

    CURL* easy = curl_easy_init();
    job->easy = easy;
    curl_easy_setopt(easy, CURLOPT_PRIVATE, job.get());
    curl_easy_setopt(easy, CURLOPT_SHARE, m_share);
    curl_easy_setopt(easy, CURLOPT_URL, request.url.constData());
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L); // no dot segments resolved, nothing merged
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // HTTP/1.1 over one connection per request: the chunks of an upload travel
    // side by side, and curl 7.88 can stall on HTTP/2 when a server answers
    // before it read the whole body.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    // A redirect would carry the API key to wherever it points.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, job->error);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Zanvolt/" ZANVOLT_VERSION);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    // The client picks the proxy (none: an empty one), so a failure can name it; libcurl then
    // reads no proxy variable itself.
    job->proxy = ProxyChoice::forUrl(request.url);
    curl_easy_setopt(easy, CURLOPT_PROXY, job->proxy.proxy().constData());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    // An inactivity limit, never a total time: a large upload over a slow line may take hours.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, long(inactivity));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(inactivity));
    curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 512L * 1024);

    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    // The system's hashed CA folder alone, where libcurl was built with one: OpenSSL then reads
    // only the certificates a chain needs, when it needs them. The bundle would be parsed whole
    // (~27 ms of CPU) and kept for the process's life (~1.2 MiB); both together are parsed again
    // for every new connection.
    static const char* const systemFolder = [] {
        const char* folder = curl_version_info(CURLVERSION_NOW)->capath;
        return folder && QFileInfo(QFile::decodeName(folder)).isDir() ? folder : nullptr;
    }();
    if (caBundle.isEmpty() && systemFolder)
        curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
    else
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L); // ServerTrust checks the name itself
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &CurlJob::sslContext);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &job->peer);
    if (!caBundle.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, caBundle.constData());

    bool hasContentType = false;
    for (const auto& [name, value] : request.headers) {
        hasContentType = hasContentType || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
        job->headers = curl_slist_append(job->headers, (name + ": " + value).constData());
    }
    if (request.resume) {
        job->headers =
            curl_slist_append(job->headers, "Range: bytes=" + QByteArray::number(request.resume->size) + '-');
        job->headers = curl_slist_append(job->headers, "If-Range: " + request.resume->validator);
    }
    // No "Expect: 100-continue" round trip before a chunk, and no content
    // type the caller did not set.
    job->headers = curl_slist_append(job->headers, "Expect:");
    if (!hasContentType)
        job->headers = curl_slist_append(job->headers, "Content-Type:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, job->headers);

    if (request.method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (job->bodySize == 0 && request.method != "POST") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.constData());
    } else {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(job->bodySize));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CurlJob::readBody);
        curl_easy_setopt(easy, CURLOPT_READDATA, job.get());
        curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &CurlJob::seekBody);
        curl_easy_setopt(easy, CURLOPT_SEEKDATA, job.get());
        if (request.method != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.constData());
    }
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlJob::writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, job.get());
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CurlJob::progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, job.get());

    curl_multi_add_handle(m_multi, easy);
    m_running.push_back(std::move(job));
}

void CurlThread::finish(CurlJob* job, int curlCode) {
    curl_multi_remove_handle(m_multi, job->easy);
    Result result;
    result.id = job->id;
    result.pinNotSaved = job->peer.pinNotSaved;
    const CURLcode code = CURLcode(curlCode);
    const int inactivity = m_settings.inactivitySeconds;
    using Kind = HttpError::Kind;
    const auto saveFailed = [&](int error) {
        return HttpError(Kind::FileSystem,
                         UserText::cannotSave(job->request.downloadFolder, systemText(error)), curlCode,
                         error);
    };
    if (code == CURLE_OK) {
        result.status = int(job->status());
        curl_off_t announced = -1;
        curl_easy_getinfo(job->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        const bool toFile = job->bodyIsFile();
        if (toFile && job->partFd < 0 && !job->openPart()) {
            result.error = saveFailed(job->writeErrno);
        } else if (toFile && !job->bodyStarted && !job->startFileBody()) {
            result.error = job->rangeRefused ? HttpError(Kind::Network, UserText::rangeRefused())
                                             : saveFailed(job->writeErrno);
        } else if (const qint64 got =
                       toFile ? job->written - std::max<qint64>(job->resumedFrom, 0) : job->body.size();
                   announced >= 0 && got != qint64(announced)) {
            result.error = HttpError(Kind::Network, UserText::incompleteTransfer(got, qint64(announced)));
        } else if (toFile) {
            if (const int error = job->closePart(); error != 0)
                result.error = saveFailed(error);
            else
                result.filePath = job->takePart();
            result.status = 200; // a resumed file is whole now, as after one answer
        } else {
            result.body = std::move(job->body);
        }
    } else if (job->peer.certificateChanged) {
        result.error = HttpError(Kind::CertificateChanged, UserText::certificateChanged(), curlCode);
    } else if (job->tooLarge) {
        result.error = HttpError(Kind::ResponseTooLarge,
                                 UserText::responseTooLarge(job->request.maxBodySize / 1'000'000), curlCode);
    } else if (job->rangeRefused) {
        result.error = HttpError(Kind::Network, UserText::rangeRefused(), curlCode);
    } else if (job->writeErrno == ENOSPC || job->writeErrno == EDQUOT) {
        result.error = HttpError(Kind::FileSystem, UserText::diskFull(), curlCode, job->writeErrno);
    } else if (job->writeErrno != 0) {
        result.error = saveFailed(job->writeErrno);
    } else if (job->fileChanged) {
        result.error = HttpError(Kind::FileChanged, UserText::fileChangedDuringUpload(), curlCode);
    } else if (job->readErrno != 0) {
        result.error = HttpError(Kind::FileSystem, systemText(job->readErrno), curlCode, job->readErrno);
    } else if (code == CURLE_PARTIAL_FILE) {
        result.error = HttpError(Kind::Network, job->incompleteText(), curlCode);
    } else {
        const QString buffer = QString::fromUtf8(job->error).trimmed();
        const QString detail = buffer.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : buffer;
        qCInfo(lcNet) << "transport failure, libcurl code" << curlCode << detail;
        result.error = transportError(*job, code, detail, inactivity);
    }
    if (result.error && result.error->isNetworkFailure())
        result.error->partial = job->takePartial();
    for (auto it = m_running.begin(); it != m_running.end(); ++it) {
        if (it->get() == job) {
            m_running.erase(it);
            break;
        }
    }
    m_results(std::move(result));
}

void CurlThread::reportProgress() {
    QList<Progress> changed;
    for (auto& job : m_running) {
        if (!job->progressChanged)
            continue;
        job->progressChanged = false;
        changed.append({job->id, qint64(job->sent), qint64(job->received)});
    }
    if (!changed.isEmpty())
        m_progress(std::move(changed));
}
