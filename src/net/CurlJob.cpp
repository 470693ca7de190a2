#include "net/CurlJob.h"

#include "models/UserText.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
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

CurlJob::~CurlJob() {
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

long CurlJob::status() const {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

bool CurlJob::bodyIsFile() const {
    if (!isDownload())
        return false;
    const long code = status();
    return code == 200 || (code == 206 && resumedFrom >= 0 && !rangeRefused);
}

bool CurlJob::reopenPart() {
    const QByteArray path = QFile::encodeName(request.resume->partPath);
    partFd = ::open(path.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (partFd < 0 || ::lseek(partFd, request.resume->size, SEEK_SET) < 0) {
        writeErrno = errno;
        ::unlink(path.constData());
        return false;
    }
    partPath = path;
    resumedFrom = written = request.resume->size;
    validator = request.resume->validator;
    return true;
}

namespace {
QByteArray headerValue(CURL* easy, const char* name) {
    curl_header* header = nullptr;
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header)
        return {};
    return QByteArray(header->value).trimmed();
}
} // namespace

bool CurlJob::startFileBody() {
    bodyStarted = true;
    if (status() == 206) {
        // Only the rest that was asked for ("bytes N-last/total") continues the file.
        const QByteArray range = headerValue(easy, "Content-Range");
        const qsizetype dash = range.indexOf('-');
        const qsizetype slash = range.indexOf('/');
        bool fromOk = false, lastOk = false, totalOk = false;
        const qint64 from =
            range.startsWith("bytes ") && dash > 6 ? range.mid(6, dash - 6).toLongLong(&fromOk) : -1;
        const qint64 last = slash > dash ? range.mid(dash + 1, slash - dash - 1).toLongLong(&lastOk) : -1;
        const qint64 total = slash > 0 ? range.mid(slash + 1).toLongLong(&totalOk) : -1;
        if (!fromOk || !lastOk || !totalOk || from != resumedFrom || last + 1 != total) {
            rangeRefused = true;
            return false;
        }
    } else if (resumedFrom > 0) {
        // The whole file again: what the cut-off attempt kept goes.
        if (::ftruncate(partFd, 0) != 0 || ::lseek(partFd, 0, SEEK_SET) != 0) {
            writeErrno = errno;
            return false;
        }
        written = 0;
        resumedFrom = 0;
    }
    validator = headerValue(easy, "ETag");
    if (validator.isEmpty())
        validator = headerValue(easy, "Last-Modified");
    return true;
}

std::optional<HttpRequest::Resume> CurlJob::takePartial() {
    // The file's body under way, or a resume that got no answer at all: the part holds the file.
    const bool holdsFile = bodyStarted ? bodyIsFile() : resumedFrom > 0;
    if (partFd < 0 || written <= 0 || validator.isEmpty() || !holdsFile)
        return std::nullopt;
    ::close(partFd);
    partFd = -1;
    return HttpRequest::Resume{takePart(), written, validator};
}

bool CurlJob::openPart() {
    // A backslash, which SafeFileName turns into "_" in every name from the server: no file saved
    // from a download can carry this name, so the clean-up at start never takes one for a leftover.
    QByteArray path = QFile::encodeName(request.downloadFolder) + "/.zanvolt\\XXXXXX.part";
    partFd = ::mkostemps(path.data(), 5, O_CLOEXEC);
    if (partFd < 0) {
        writeErrno = errno;
        return false;
    }
    partPath = path;
    return true;
}

size_t CurlJob::readBody(char* buffer, size_t size, size_t count, void* user) {
    auto* job = static_cast<CurlJob*>(user);
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
            step = ::pread(job->bodyFd, buffer + done, size_t(std::min(wanted - done, regionEnd - position)),
                           offset);
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

int CurlJob::seekBody(void* user, curl_off_t offset, int origin) {
    auto* job = static_cast<CurlJob*>(user);
    if (origin != SEEK_SET || offset < 0 || offset > job->bodySize)
        return CURL_SEEKFUNC_FAIL;
    job->readPosition = offset;
    return CURL_SEEKFUNC_OK;
}

size_t CurlJob::writeBody(char* data, size_t size, size_t count, void* user) {
    auto* job = static_cast<CurlJob*>(user);
    const size_t total = size * count;
    // Only a 200 answer (or the rest a resume asked for) is the file; any other body is the
    // server's explanation.
    if (job->bodyIsFile()) {
        if (job->partFd < 0 && !job->openPart())
            return 0;
        if (!job->bodyStarted && !job->startFileBody())
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

int CurlJob::progress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto* job = static_cast<CurlJob*>(user);
    if (sent != job->sent || received != job->received) {
        job->sent = sent;
        job->received = received;
        job->progressChanged = true;
    }
    return 0;
}

CURLcode CurlJob::sslContext(CURL*, void* context, void* user) {
    ServerTrust::install(context, static_cast<ServerTrust::Peer*>(user));
    return CURLE_OK;
}

int CurlJob::closePart() {
    // The file joins the user's: it gets the mode any new file of theirs gets.
    ::fchmod(partFd, newFileMode());
    const int result = ::close(partFd) == 0 ? 0 : errno;
    partFd = -1;
    return result;
}

QString CurlJob::takePart() {
    const QString path = QFile::decodeName(partPath);
    partPath.clear();
    return path;
}

QString CurlJob::incompleteText() const {
    curl_off_t announced = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    const qint64 got = bodyIsFile() ? written - std::max<qint64>(resumedFrom, 0) : body.size();
    return UserText::incompleteTransfer(got, qint64(announced));
}
