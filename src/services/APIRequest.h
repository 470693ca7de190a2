#pragma once

#include "APIResponse.h"
#include "CancelToken.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QPointer>
#include <qcoro/qcorotask.h>

// One authenticated request to the transfer server: base URL + path, the
// "X-Api-Key" header, a 60 s inactivity timeout, "Content-Type" only with a body.
class APIRequest {
public:
    // Reads the base URL, then the API key, afresh from the secret store
    // (APIError::noServerURL / noAPIKey). `encodedPath` must already be
    // percent-encoded (see APIService::escapePathSegment).
    static APIRequest make(const QByteArray& encodedPath);
    // For operations that read the configuration once and send many requests.
    static APIRequest make(const QString& baseURL, const QString& apiKey, const QByteArray& encodedPath);

    QUrl url() const { return m_request.url(); }

    // Sends the request through the client's one network session. Transport
    // failures throw PlatformError with the platform's own text; a cancelled
    // token aborts the request at once and throws CancelledError.
    QCoro::Task<APIResponse> send(QByteArray method, QByteArray body = {}, QByteArray contentType = {},
                                  QPointer<CancelToken> cancel = nullptr) const;
    // Streams the response body into a new private temporary file (never held
    // in memory). The caller owns the file; a transport failure removes it.
    QCoro::Task<APIResponse> download(QPointer<CancelToken> cancel = nullptr) const;

private:
    explicit APIRequest(QNetworkRequest request) : m_request(std::move(request)) {}

    QNetworkRequest m_request;
};
