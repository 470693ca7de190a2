#pragma once

#include "services/APIResponse.h"
#include "services/KeychainService.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

class APIRequest;

// Every exchange with the transfer server. Stateless: each operation is handed the engine and the
// credentials its caller read (ServerAccount, the only reader of the secret store), so saved settings
// take effect with the next operation.
namespace APIService {

// The pair requests use: the stored server URL with one trailing "/" removed, and the API key.
// Throws APIError::noServerURL (also for nothing stored), then noAPIKey, then invalidAPIKey.
KeychainService::Credentials usableCredentials(const std::optional<KeychainService::Credentials>& stored);

// A file name, token or code as exactly one URL path segment: UTF-8,
// percent-encoded except for unreserved characters and "!$&'()*+,;=:@"; "/"
// is encoded, and so are the dot segments "." and "..".
QByteArray escapePathSegment(const QString& segment);

// The common check for JSON answers: status 200, then an empty body or one
// whose first byte is "{" or "[". Throws APIError otherwise.
void expectJSONOK(const APIResponse& response);
// The first `characters` user-perceived characters of a UTF-8 body (empty
// when it is not valid UTF-8), for error messages.
QString excerpt(const QByteArray& body, int characters);
// Parses a JSON document; throws PlatformError (a decoding error) when it is not JSON.
QJsonValue parseJSON(const QByteArray& body);
// Hands each element of a JSON array of objects to `take`, parsed one at a time: records built from
// thousands of them then lie together in memory instead of among a whole parsed document's freed
// pieces. False when `body` is not such an array (`take` may have had some elements by then, and
// what it throws passes through): then read it whole, which says what is wrong.
bool forEachListedObject(const QByteArray& body, const std::function<void(const QJsonObject&)>& take);

// Downloads the request's answer into `folder`, made when missing: a complete
// 200 body is saved under the safe form of `fileName` or, when that name is
// taken by anything, the first free one ("Bericht (2).pdf"); nothing is ever
// replaced, and no file system work runs on the main thread. The response's
// filePath says where. Another status comes back with its body, nothing saved.
QCoro::Task<APIResponse> downloadInto(const APIRequest& request, QString folder, QString fileName);
// Removes the ".part" files that downloads into `folder` left when the client
// was killed mid-way; a running client has none of its own there yet.
void removeUnfinishedDownloads(const QString& folder);

} // namespace APIService
