#include "services/APIRequest.h"

#include "models/APIError.h"
#include "models/UserText.h"
#include "net/HttpError.h"

#include <QUrl>

namespace {
QByteArray endpointURL(const QString& baseURL, const QByteArray& encodedPath) {
    // Strict parsing: a stored URL with blanks or without a host fails here,
    // before anything is sent, instead of being "repaired" by Qt.
    const QUrl base(baseURL, QUrl::StrictMode);
    const QString scheme = base.scheme().toLower();
    if (!base.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http")) ||
        base.host().isEmpty() || base.hasQuery() || base.hasFragment())
        throw APIError::networkError(UserText::invalidServerURL());
    const QByteArray url = base.toEncoded() + encodedPath;
    if (!QUrl::fromEncoded(url, QUrl::StrictMode).isValid())
        throw APIError::networkError(UserText::invalidServerURL());
    return url;
}
} // namespace

APIRequest APIRequest::make(const ServerConnection& server, const QByteArray& encodedPath) {
    if (!server.credentials.hasValidAPIKey())
        throw APIError::invalidAPIKey();
    HttpRequest request;
    request.url = endpointURL(server.credentials.serverURL, encodedPath);
    request.headers.append({QByteArrayLiteral("X-Api-Key"), server.credentials.apiKey.toUtf8()});
    return APIRequest(server.http, std::move(request));
}

QCoro::Task<APIResponse> APIRequest::run(HttpEngine* http, HttpRequest request, QPointer<CancelToken> cancel,
                                         HttpEngine::ProgressHandler progress) {
    try {
        HttpResponse response = co_await http->send(std::move(request), cancel, std::move(progress));
        co_return APIResponse{response.status, std::move(response.body), response.filePath};
    } catch (const HttpError& error) {
        if (error.kind() == HttpError::Kind::CertificateChanged)
            throw APIError::networkError(error.message());
        throw;
    }
}

QCoro::Task<APIResponse> APIRequest::send(QByteArray method, QByteArray body, QByteArray contentType,
                                          QPointer<CancelToken> cancel) const {
    HttpRequest request = m_request;
    request.method = method;
    request.body = std::move(body);
    if (!contentType.isEmpty())
        request.headers.append({QByteArrayLiteral("Content-Type"), contentType});
    return run(m_http, std::move(request), cancel);
}

QCoro::Task<APIResponse> APIRequest::postFileRegion(QByteArray head, HttpRequest::FileRegion region,
                                                    QByteArray tail, QByteArray contentType,
                                                    QPointer<CancelToken> cancel,
                                                    HttpEngine::ProgressHandler progress) const {
    HttpRequest request = m_request;
    request.method = QByteArrayLiteral("POST");
    request.body = std::move(head);
    request.bodyFile = std::move(region);
    request.bodyTail = std::move(tail);
    request.headers.append({QByteArrayLiteral("Content-Type"), contentType});
    return run(m_http, std::move(request), cancel, std::move(progress));
}

QCoro::Task<APIResponse> APIRequest::download(QString folder, QPointer<CancelToken> cancel,
                                              std::optional<HttpRequest::Resume> resume) const {
    HttpRequest request = m_request;
    request.downloadFolder = std::move(folder);
    request.resume = std::move(resume);
    return run(m_http, std::move(request), cancel);
}
