#pragma once

#include "net/CancelToken.h"
#include "net/HttpEngine.h"
#include "net/HttpRequest.h"
#include "services/APIResponse.h"
#include "services/ServerConnection.h"

#include <QByteArray>
#include <QPointer>
#include <qcoro/qcorotask.h>

// One authenticated request to the transfer server: base URL + path, the
// "X-Api-Key" header, a 60 s inactivity limit, "Content-Type" only with a body.
class APIRequest {
public:
    // To the server of `server` with its key, through its engine. `encodedPath` must already be
    // percent-encoded (see APIService::escapePathSegment); it is sent exactly so. Throws APIError for
    // a key that cannot travel in a header or a URL that is not one.
    static APIRequest make(const ServerConnection& server, const QByteArray& encodedPath);

    QByteArray url() const { return m_request.url; }
    HttpEngine& http() const { return *m_http; }

    // Transport failures throw PlatformError with the transport's own text; a
    // server whose key changed throws APIError::networkError; a cancelled
    // token ends the request at once with CancelledError.
    QCoro::Task<APIResponse> send(QByteArray method, QByteArray body = {}, QByteArray contentType = {},
                                  QPointer<CancelToken> cancel = nullptr) const;
    // POSTs `head`, the file region and `tail` as one body, reading the file
    // while sending. `progress` gets the body bytes sent so far.
    QCoro::Task<APIResponse> postFileRegion(QByteArray head, HttpRequest::FileRegion region, QByteArray tail,
                                            QByteArray contentType, QPointer<CancelToken> cancel,
                                            HttpEngine::ProgressHandler progress) const;
    // GETs into a new ".part" file in `folder`: only a complete 200 body is
    // kept (the caller owns the file then); any other body comes in memory.
    // With `resume`, asks only for the rest of a cut-off download (HttpRequest::Resume).
    QCoro::Task<APIResponse> download(QString folder, QPointer<CancelToken> cancel = nullptr,
                                      std::optional<HttpRequest::Resume> resume = std::nullopt) const;

private:
    APIRequest(HttpEngine* http, HttpRequest request) : m_http(http), m_request(std::move(request)) {}
    static QCoro::Task<APIResponse> run(HttpEngine* http, HttpRequest request, QPointer<CancelToken> cancel,
                                        HttpEngine::ProgressHandler progress = {});

    HttpEngine* m_http;
    HttpRequest m_request;
};
