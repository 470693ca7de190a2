#include "TransferThread.h"

#include "ServerTrust.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
// Progress reaches the main thread at most this often, however many transfers run.
constexpr auto progressInterval = std::chrono::milliseconds(50);

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// 0666 less the process's umask, read without changing it (umask() would, for every thread).
mode_t newFileMode() {
    mode_t mask = 022;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    mask = mode_t(value);
                break;
            }
        }
    }
    return 0666 & ~mask;
}
} // namespace

struct TransferThread::Job {
    quint64 id = 0;
    HttpRequest request;
    ServerTrust::Peer peer;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    char error[CURL_ERROR_SIZE] = {};

    int bodyFd = -1;
    qint64 bodySize = 0;
    qint64 readPosition = 0;
    int readErrno = 0;
    bool fileChanged = false;

    QByteArray body;
    int partFd = -1;
    QByteArray partPath; // removed with the job unless handed over
    qint64 written = 0;
    int writeErrno = 0;
    bool tooLarge = false;

    curl_off_t sent = 0;
    curl_off_t received = 0;
    bool progressChanged = false;

    ~Job() {
        if (bodyFd >= 0)
            ::close(bodyFd);
        if (partFd >= 0)
            ::close(partFd);
        if (!partPath.isEmpty())
            ::unlink(partPath.constData());
        if (headers)
            curl_slist_free_all(headers);
        if (easy)
            curl_easy_cleanup(easy);
    }

    bool isDownload() const { return !request.downloadFolder.isEmpty(); }

    long status() const {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    // Owner-only while it grows; the final mode is set when it is complete.
    bool openPart() {
        QByteArray path = QFile::encodeName(request.downloadFolder) + "/.zanvolt-XXXXXX.part";
        partFd = ::mkostemps(path.data(), 5, O_CLOEXEC);
        if (partFd < 0) {
            writeErrno = errno;
            return false;
        }
        partPath = path;
        return true;
    }

    static size_t readBody(char* buffer, size_t size, size_t count, void* user) {
        auto* job = static_cast<Job*>(user);
        const qint64 wanted = qint64(size * count);
        const QByteArray& head = job->request.body;
        const qint64 regionLength = job->request.bodyFile ? job->request.bodyFile->length : 0;
        const qint64 regionEnd = head.size() + regionLength;
        qint64 done = 0;
        while (done < wanted && job->readPosition < job->bodySize) {
            const qint64 position = job->readPosition;
            qint64 step = 0;
            if (position < head.size()) {
                step = std::min(wanted - done, head.size() - position);
                std::memcpy(buffer + done, head.constData() + position, size_t(step));
            } else if (position < regionEnd) {
                const qint64 offset = job->request.bodyFile->offset + (position - head.size());
                step = ::pread(job->bodyFd, buffer + done,
                               size_t(std::min(wanted - done, regionEnd - position)), offset);
                if (step < 0 && errno == EINTR)
                    continue;
                if (step < 0) {
                    job->readErrno = errno;
                    return CURL_READFUNC_ABORT;
                }
                if (step == 0) { // the file is shorter than when the upload began
                    job->fileChanged = true;
                    return CURL_READFUNC_ABORT;
                }
            } else {
                const QByteArray& tail = job->request.bodyTail;
                const qint64 at = position - regionEnd;
                step = std::min(wanted - done, tail.size() - at);
                std::memcpy(buffer + done, tail.constData() + at, size_t(step));
            }
            job->readPosition += step;
            done += step;
        }
        return size_t(done);
    }

    // A reused connection that turns out dead makes libcurl send the body again from the start.
    static int seekBody(void* user, curl_off_t offset, int origin) {
        auto* job = static_cast<Job*>(user);
        if (origin != SEEK_SET || offset < 0 || offset > job->bodySize)
            return CURL_SEEKFUNC_FAIL;
        job->readPosition = offset;
        return CURL_SEEKFUNC_OK;
    }

    static size_t writeBody(char* data, size_t size, size_t count, void* user) {
        auto* job = static_cast<Job*>(user);
        const size_t total = size * count;
        // Only a 200 answer is the file; any other body is the server's explanation.
        if (job->isDownload() && job->status() == 200) {
            if (job->partFd < 0 && !job->openPart())
                return 0;
            if (job->request.maxFileSize >= 0 && job->written + qint64(total) > job->request.maxFileSize) {
                job->tooLarge = true;
                return 0;
            }
            size_t done = 0;
            while (done < total) {
                const ssize_t step = ::write(job->partFd, data + done, total - done);
                if (step < 0 && errno == EINTR)
                    continue;
                if (step < 0) {
                    job->writeErrno = errno;
                    return 0;
                }
                done += size_t(step);
            }
            job->written += qint64(total);
            return total;
        }
        if (job->body.size() + qint64(total) > job->request.maxBodySize) {
            job->tooLarge = true;
            return 0;
        }
        job->body.append(data, qsizetype(total));
        return total;
    }

    static int progress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
        auto* job = static_cast<Job*>(user);
        if (sent != job->sent || received != job->received) {
            job->sent = sent;
            job->received = received;
            job->progressChanged = true;
        }
        return 0;
    }

    static CURLcode sslContext(CURL*, void* context, void* user) {
        ServerTrust::install(context, static_cast<ServerTrust::Peer*>(user));
        return CURLE_OK;
    }
};

TransferThread::TransferThread(ResultSink results, ProgressSink progress)
    : m_results(std::move(results)), m_progress(std::move(progress)), m_multi(curl_multi_init()),
      m_share(curl_share_init()) {
    // Only this thread uses the handles, so the share needs no locks: a new
    // connection to a known server resumes its TLS session and skips the lookup.
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    m_thread = std::thread([this] { run(); });
}

TransferThread::~TransferThread() {
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

void TransferThread::submit(quint64 id, HttpRequest request, QString origin, QByteArray host) {
    auto job = std::make_unique<Job>();
    job->id = id;
    job->request = std::move(request);
    job->peer.origin = std::move(origin);
    job->peer.host = std::move(host);
    job->peer.trustOnFirstUse = job->request.trustOnFirstUse;
    {
        const std::lock_guard lock(m_mutex);
        m_submitted.push_back(std::move(job));
    }
    curl_multi_wakeup(m_multi);
}

void TransferThread::cancel(quint64 id) {
    {
        const std::lock_guard lock(m_mutex);
        m_cancelled.push_back(id);
    }
    curl_multi_wakeup(m_multi);
}

void TransferThread::setCaBundle(const QByteArray& path) {
    const std::lock_guard lock(m_mutex);
    m_caBundle = path;
}

void TransferThread::setInactivityLimit(int seconds) {
    const std::lock_guard lock(m_mutex);
    m_inactivitySeconds = seconds;
}

void TransferThread::run() {
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
            Job* job = nullptr;
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

void TransferThread::takeCommands() {
    std::vector<std::unique_ptr<Job>> submitted;
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

void TransferThread::start(std::unique_ptr<Job> job) {
    int inactivity = 60;
    QByteArray caBundle;
    {
        const std::lock_guard lock(m_mutex);
        inactivity = m_inactivitySeconds;
        caBundle = m_caBundle;
    }
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
    // An inactivity limit, never a total time: a large upload over a slow line may take hours.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, long(inactivity));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(inactivity));
    curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 512L * 1024);

    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    // The CA bundle alone, without the hashed folder Debian's libcurl also names: only then does
    // libcurl keep the parsed store for later connections instead of parsing every certificate
    // again for each new one (~27 ms of CPU, four times per upload).
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L); // ServerTrust checks the name itself
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Job::sslContext);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &job->peer);
    if (!caBundle.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, caBundle.constData());

    bool hasContentType = false;
    for (const auto& [name, value] : request.headers) {
        hasContentType = hasContentType || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
        job->headers = curl_slist_append(job->headers, (name + ": " + value).constData());
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
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Job::readBody);
        curl_easy_setopt(easy, CURLOPT_READDATA, job.get());
        curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Job::seekBody);
        curl_easy_setopt(easy, CURLOPT_SEEKDATA, job.get());
        if (request.method != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.constData());
    }
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Job::writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, job.get());
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Job::progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, job.get());

    curl_multi_add_handle(m_multi, easy);
    m_running.push_back(std::move(job));
}

QString TransferThread::incompleteText(const Job& job) {
    curl_off_t announced = -1;
    curl_easy_getinfo(job.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    const qint64 got = job.partFd >= 0 ? job.written : job.body.size();
    return QStringLiteral("Übertragung unvollständig: %1 von %2 Bytes erhalten")
        .arg(got)
        .arg(qint64(announced));
}

void TransferThread::finish(Job* job, int curlCode) {
    curl_multi_remove_handle(m_multi, job->easy);
    Result result;
    result.id = job->id;
    const CURLcode code = CURLcode(curlCode);
    int inactivity = 60;
    {
        const std::lock_guard lock(m_mutex);
        inactivity = m_inactivitySeconds;
    }
    using Kind = HttpError::Kind;
    if (code == CURLE_OK) {
        result.status = int(job->status());
        curl_off_t announced = -1;
        curl_easy_getinfo(job->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        const bool toFile = job->isDownload() && result.status == 200;
        const qint64 got = toFile ? job->written : job->body.size();
        if (toFile && job->partFd < 0 && !job->openPart()) {
            result.error = HttpError(Kind::FileSystem, systemText(job->writeErrno));
        } else if (announced >= 0 && got != qint64(announced)) {
            result.error = HttpError(
                Kind::Transport,
                QStringLiteral("Übertragung unvollständig: %1 von %2 Bytes").arg(got).arg(qint64(announced)));
        } else if (toFile) {
            // The file joins the user's: it gets the mode any new file of theirs gets.
            ::fchmod(job->partFd, newFileMode());
            if (::close(job->partFd) != 0) {
                result.error = HttpError(Kind::FileSystem, systemText(errno));
            } else {
                result.filePath = QFile::decodeName(job->partPath);
                job->partPath.clear(); // handed over
            }
            job->partFd = -1;
        } else {
            result.body = std::move(job->body);
        }
    } else if (job->peer.certificateChanged) {
        result.error =
            HttpError(Kind::CertificateChanged, QStringLiteral("Zertifikat des Servers hat sich geändert"));
    } else if (job->tooLarge) {
        result.error =
            HttpError(Kind::ResponseTooLarge, QStringLiteral("Antwort des Servers zu groß (über %1 MB)")
                                                  .arg(job->request.maxBodySize / 1'000'000));
    } else if (job->writeErrno == ENOSPC || job->writeErrno == EDQUOT) {
        result.error =
            HttpError(Kind::FileSystem, QStringLiteral("Nicht genug Speicherplatz für den Download"));
    } else if (job->writeErrno != 0) {
        result.error = HttpError(Kind::FileSystem, systemText(job->writeErrno));
    } else if (job->fileChanged) {
        result.error =
            HttpError(Kind::FileChanged, QStringLiteral("Die Datei wurde während des Uploads verändert"));
    } else if (job->readErrno != 0) {
        result.error = HttpError(Kind::FileSystem, systemText(job->readErrno));
    } else if (code == CURLE_PARTIAL_FILE) {
        result.error = HttpError(Kind::Transport, incompleteText(*job));
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        result.error =
            HttpError(Kind::Timeout,
                      QStringLiteral("Der Server antwortet nicht (%1 Sekunden ohne Daten)").arg(inactivity));
    } else {
        const QString text = QString::fromUtf8(job->error).trimmed();
        result.error =
            HttpError(Kind::Transport, text.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : text);
    }
    for (auto it = m_running.begin(); it != m_running.end(); ++it) {
        if (it->get() == job) {
            m_running.erase(it);
            break;
        }
    }
    m_results(std::move(result));
}

void TransferThread::reportProgress() {
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
