#include "ServerExchange.h"

#include "ServerControls.h"
#include "ServerNames.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <algorithm>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

int portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return -1;
}

// httplib does not hand plain-HTTP handlers their socket; find it by its two ports.
int socketByPorts(int localPort, int remotePort) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int found = -1;
    while (dirent* entry = readdir(dir)) {
        const int fd = atoi(entry->d_name);
        if (fd <= 2 || fd == dirfd(dir))
            continue;
        sockaddr_storage local{}, peer{};
        socklen_t localLength = sizeof local, peerLength = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
            continue;
        if (portOf(local) == localPort && portOf(peer) == remotePort) {
            found = fd;
            break;
        }
    }
    closedir(dir);
    return found;
}

} // namespace

ServerExchange::ServerExchange(const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader* reader)
    : request_(request), response_(response), reader_(reader),
      method_(QString::fromStdString(request.method)) {
    const std::string& target = request.target;
    const size_t query = target.find('?');
    const QByteArray path =
        QByteArray::fromStdString(query == std::string::npos ? target : target.substr(0, query));
    rawPath_ = QString::fromUtf8(path);
    segments_ = path.split('/');
    if (!segments_.isEmpty() && segments_.first().isEmpty())
        segments_.removeFirst();
    if (segments_.size() == 1 && segments_.first().isEmpty())
        segments_.clear();
}

QString ServerExchange::decodedPath() const {
    return QString::fromUtf8(ServerNames::percentDecode(rawPath_.toUtf8()));
}

QByteArray ServerExchange::header(const char* name) const {
    return QByteArray::fromStdString(request_.get_header_value(name));
}

QMap<QString, QString> ServerExchange::headers() const {
    QMap<QString, QString> map;
    for (const auto& [name, value] : request_.headers) {
        const QString key = QString::fromStdString(name).toLower();
        // httplib files the connection's addresses among the headers; they were never sent.
        if (key == QStringLiteral("remote_addr") || key == QStringLiteral("remote_port") ||
            key == QStringLiteral("local_addr") || key == QStringLiteral("local_port"))
            continue;
        const QString text = QString::fromStdString(value);
        map.insert(key, map.contains(key) ? map.value(key) + QStringLiteral(", ") + text : text);
    }
    return map;
}

QByteArray ServerExchange::query(const char* name) const {
    return QByteArray::fromStdString(request_.get_param_value(name));
}

void ServerExchange::setRecorder(ServerControls* controls, qint64 id) {
    controls_ = controls;
    recordId_ = id;
    recordBody_ = controls && controls->recordsBodies();
}

bool ServerExchange::hasBody() const {
    // Reading a body that was never announced would wait for the client to close.
    return reader_ && (request_.has_header("Content-Length") || request_.has_header("Transfer-Encoding"));
}

bool ServerExchange::streamBody(const std::function<bool(const char*, size_t)>& receiver) {
    if (bodyRead_ || !hasBody()) {
        bodyRead_ = true;
        return true;
    }
    bodyRead_ = true;
    // httplib parses multipart bodies itself when asked for them as multipart; the raw bytes are
    // what the tests record and what our own parser wants, so the request is made to look opaque.
    // The request object is not const at its origin; only the handler's view of it is.
    auto& request = const_cast<httplib::Request&>(request_);
    if (request.is_multipart_form_data()) {
        request.headers.erase("Content-Type");
        request.headers.emplace("Content-Type", "application/octet-stream");
    }
    bool accepted = true;
    const bool complete = (*reader_)([&](const char* data, size_t size) {
        bodySize_ += qint64(size);
        if (recordBody_)
            controls_->appendBody(recordId_, data, size);
        if (accepted)
            accepted = receiver(data, size);
        return true;
    });
    return complete && accepted;
}

bool ServerExchange::readBody(QByteArray* body, qsizetype limit) {
    body->clear();
    bool tooLong = false;
    const bool ok = streamBody([&](const char* data, size_t size) {
        if (body->size() + qsizetype(size) > limit) {
            tooLong = true;
            return false;
        }
        body->append(data, qsizetype(size));
        return true;
    });
    return ok && !tooLong;
}

void ServerExchange::drain() {
    streamBody([](const char*, size_t) { return true; });
}

void ServerExchange::raw(int status, const QByteArray& body, const char* contentType) {
    drain();
    response_.status = status;
    response_.set_content(body.constData(), size_t(body.size()), contentType);
}

void ServerExchange::redirect(int status, const QByteArray& location) {
    raw(status, "<html><body>Moved</body></html>", "text/html; charset=utf-8");
    response_.set_header("Location", location.toStdString());
}

void ServerExchange::json(int status, const QJsonObject& object) {
    raw(status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json");
}

void ServerExchange::json(int status, const QJsonArray& array) {
    raw(status, QJsonDocument(array).toJson(QJsonDocument::Compact), "application/json");
}

void ServerExchange::error(int status, const QString& message) {
    json(status, QJsonObject{{"error", message}});
}

void ServerExchange::text(int status, const QString& text) {
    raw(status, text.toUtf8(), "text/plain; charset=utf-8");
}

void ServerExchange::html(int status, const QString& page) {
    raw(status, page.toUtf8(), "text/html; charset=utf-8");
}

bool ServerExchange::file(const QString& path, const QString& downloadName) {
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return false;
    drain();
    struct stat info {};
    ::fstat(file->handle(), &info);
    // Changes with any rewrite of the file, so a client never pieces two versions together.
    const QByteArray etag =
        '"' + QByteArray::number(qulonglong(info.st_ino), 16) + '-' +
        QByteArray::number(qint64(info.st_size), 16) + '-' +
        QByteArray::number(qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec, 16) + '"';
    const QByteArray lastModified = QLocale::c()
                                        .toString(QDateTime::fromSecsSinceEpoch(info.st_mtim.tv_sec, Qt::UTC),
                                                  QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"))
                                        .toLatin1();
    response_.status = 200;
    response_.set_header(
        "Content-Disposition",
        ("attachment; filename*=UTF-8''" + ServerNames::percentEncodeSegment(downloadName)).toStdString());
    response_.set_header("ETag", etag.toStdString());
    response_.set_header("Last-Modified", lastModified.toStdString());
    response_.set_header("Accept-Ranges", "bytes");
    const qint64 size = file->size();

    // One range "bytes=N-" or "bytes=N-M", honoured only while If-Range (when sent) still names this
    // file; anything else gets the whole file. httplib's own range handling would keep the 200.
    qint64 first = 0;
    qint64 last = size - 1;
    const QByteArray range = header("Range").trimmed();
    const QByteArray ifRange = header("If-Range").trimmed();
    auto& request = const_cast<httplib::Request&>(request_);
    request.ranges.clear();
    if (range.startsWith("bytes=") && !range.contains(',') &&
        (ifRange.isEmpty() || ifRange == etag || ifRange == lastModified)) {
        const QByteArray bounds = range.mid(6);
        const qsizetype dash = bounds.indexOf('-');
        bool firstOk = false;
        bool lastOk = true;
        const qint64 from = bounds.left(dash).toLongLong(&firstOk);
        const qint64 to = dash + 1 < bounds.size() ? bounds.mid(dash + 1).toLongLong(&lastOk) : size - 1;
        if (dash > 0 && firstOk && lastOk && from <= to) {
            if (from >= size) {
                response_.status = 416;
                response_.set_header("Content-Range", "bytes */" + std::to_string(size));
                response_.set_content("", "application/octet-stream");
                return true;
            }
            first = from;
            last = std::min(to, size - 1);
            response_.status = 206;
            response_.set_header("Content-Range", "bytes " + std::to_string(first) + '-' +
                                                      std::to_string(last) + '/' + std::to_string(size));
        }
    }
    if (size == 0) {
        response_.set_content("", "application/octet-stream");
        return true;
    }
    // The provider refusing to go on makes the server close the connection short of the length.
    const qint64 end = truncateAfter_ >= 0 ? qMin(first + truncateAfter_, last + 1) : last + 1;
    auto buffer = std::make_shared<QByteArray>(256 * 1024, Qt::Uninitialized);
    response_.set_content_provider(
        size_t(last + 1 - first), "application/octet-stream",
        [file, buffer, first, end, controls = controls_,
         stall = stallMilliseconds_](size_t offset, size_t length, httplib::DataSink& sink) {
            const qint64 at = first + qint64(offset);
            if (at >= end) {
                if (stall > 0 && controls)
                    controls->sleep(stall);
                return false;
            }
            if (!file->seek(at))
                return false;
            const qint64 wanted = std::min({qint64(length), qint64(buffer->size()), end - at});
            const qint64 n = file->read(buffer->data(), wanted);
            return n > 0 && sink.write(buffer->constData(), size_t(n));
        },
        [file](bool) { file->close(); });
    return true;
}

void ServerExchange::dropConnection() {
    int fd = -1;
    if (request_.ssl)
        fd = SSL_get_fd(request_.ssl);
    else
        fd = socketByPorts(request_.local_port, request_.remote_port);
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    bodyRead_ = true;
    response_.status = 500;
}
