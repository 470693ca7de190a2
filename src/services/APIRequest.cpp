#include "APIRequest.h"

#include "APIError.h"
#include "APIService.h"
#include "CancelToken.h"
#include "CancelledError.h"
#include "PlatformError.h"
#include "PrivateTempDir.h"

#include <QBuffer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryFile>
#include <memory>
#include <qcoro/qcoronetworkreply.h>
#include <sys/stat.h>

namespace {
constexpr int timeoutMs = 60000;

QUrl endpointURL(const QString& baseURL, const QByteArray& encodedPath) {
    // Strict parsing: a stored URL with blanks or without a host fails here,
    // before anything is sent, instead of being "repaired" by Qt.
    const QUrl base(baseURL, QUrl::StrictMode);
    const QString scheme = base.scheme().toLower();
    if (!base.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http")) ||
        base.host().isEmpty())
        throw APIError::networkError(QStringLiteral("Ungültige Server-URL"));
    const QUrl url = QUrl::fromEncoded(base.toEncoded() + encodedPath, QUrl::StrictMode);
    if (!url.isValid())
        throw APIError::networkError(QStringLiteral("Ungültige Server-URL"));
    return url;
}

std::optional<int> httpStatus(QNetworkReply* reply) {
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return std::nullopt;
    return status.toInt();
}

// Aborts the reply when the token fires; throws CancelledError afterwards.
struct CancelGuard {
    CancelGuard(QNetworkReply* reply, const QPointer<CancelToken>& token) : token(token) {
        if (token)
            connection = QObject::connect(token, &CancelToken::cancelled, reply, &QNetworkReply::abort);
    }
    ~CancelGuard() { QObject::disconnect(connection); }
    void throwIfCancelled() const {
        if (token && token->isCancelled())
            throw CancelledError();
    }
    QPointer<CancelToken> token;
    QMetaObject::Connection connection;
};

// A reply is never deleted at once: a cancellation resumes the coroutine from
// inside QNetworkReply::abort(), which still uses the reply after its
// finished() signal.
struct DeleteLater {
    void operator()(QObject* object) const { object->deleteLater(); }
};
using ReplyPointer = std::unique_ptr<QNetworkReply, DeleteLater>;

void throwTransportError(QNetworkReply* reply) {
    if (APIService::certificateChanged(reply))
        throw APIError::networkError(QStringLiteral("Zertifikat des Servers hat sich geändert"));
    throw PlatformError(reply->errorString());
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

APIRequest APIRequest::make(const QByteArray& encodedPath) {
    const QString base = APIService::baseURL(); // always first: no settings at all report the URL
    const QString key = APIService::apiKey();
    return make(base, key, encodedPath);
}

APIRequest APIRequest::make(const QString& baseURL, const QString& apiKey, const QByteArray& encodedPath) {
    QNetworkRequest request(endpointURL(baseURL, encodedPath));
    request.setTransferTimeout(timeoutMs);
    request.setRawHeader(QByteArrayLiteral("X-Api-Key"), apiKey.toUtf8());
    return APIRequest(std::move(request));
}

QCoro::Task<APIResponse> APIRequest::send(QByteArray method, QByteArray body, QByteArray contentType,
                                          QPointer<CancelToken> cancel) const {
    if (cancel && cancel->isCancelled())
        throw CancelledError();
    QNetworkRequest request = m_request;
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    QNetworkAccessManager& session = APIService::trustedSession();
    ReplyPointer reply;
    if (method == "GET")
        reply.reset(session.get(request));
    else if (method == "DELETE")
        reply.reset(session.deleteResource(request));
    else if (method == "POST")
        reply.reset(session.post(request, body));
    else
        reply.reset(session.sendCustomRequest(request, method, body));

    const CancelGuard guard(reply.get(), cancel);
    co_await reply.get();
    guard.throwIfCancelled();
    const std::optional<int> status = httpStatus(reply.get());
    if (!status && reply->error() != QNetworkReply::NoError)
        throwTransportError(reply.get());
    co_return APIResponse{status, reply->readAll(), {}};
}

QCoro::Task<APIResponse> APIRequest::download(QPointer<CancelToken> cancel) const {
    if (cancel && cancel->isCancelled())
        throw CancelledError();
    auto file = std::make_unique<QTemporaryFile>(PrivateTempDir::path() + QStringLiteral("/download-XXXXXX"));
    if (!file->open())
        throw PlatformError(file->errorString());

    ReplyPointer reply(APIService::trustedSession().get(m_request));
    bool writeFailed = false;
    QObject::connect(reply.get(), &QIODevice::readyRead, reply.get(), [&] {
        const QByteArray chunk = reply->readAll();
        if (!writeFailed && file->write(chunk) != chunk.size()) {
            writeFailed = true;
            reply->abort();
        }
    });
    const CancelGuard guard(reply.get(), cancel);
    co_await reply.get();
    guard.throwIfCancelled();
    if (writeFailed)
        throw PlatformError(file->errorString());
    const std::optional<int> status = httpStatus(reply.get());
    if (!status && reply->error() != QNetworkReply::NoError)
        throwTransportError(reply.get());
    const QByteArray rest = reply->readAll();
    if (file->write(rest) != rest.size() || !file->flush())
        throw PlatformError(file->errorString());
    // The file is moved into the user's folders next: give it the mode any file saved there gets,
    // not the owner-only one of a temporary file. Until then the private folder shields it.
    ::fchmod(file->handle(), newFileMode());
    file->setAutoRemove(false);
    co_return APIResponse{status, {}, file->fileName()};
}
