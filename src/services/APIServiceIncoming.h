#pragma once

#include "models/IncomingUpload.h"

#include "services/ServerConnection.h"

#include <QList>
#include <QString>
#include <qcoro/qcorotask.h>

// Customer uploads: the list, one file into the inbox folder, the "downloaded"
// mark and deletion. Uploads are addressed by their token.
namespace APIService {

// Throws APIError::httpError with the whole body text for any status but 200.
QCoro::Task<QList<IncomingUpload>> fetchIncoming(ServerConnection server);
// Saves one file into "Zanvolt-Eingang" in the Downloads folder and returns
// its path: under its own name made safe, or the first free numbered name
// when that is taken; nothing there is ever replaced. A cut-off body is an
// error and leaves nothing behind.
QCoro::Task<QString> downloadFile(ServerConnection server, QString token, QString fileName);
// Only status 200 counts as marked.
QCoro::Task<> markAsDownloaded(ServerConnection server, QString token);
// 200, 204 and 404 (already gone) count as deleted.
QCoro::Task<> deleteIncoming(ServerConnection server, QString token);

// The inbox folder's path; it may not exist yet.
QString incomingFolder();

} // namespace APIService
