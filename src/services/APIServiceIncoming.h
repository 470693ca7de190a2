#pragma once

#include "IncomingUpload.h"

#include <QList>
#include <QString>
#include <qcoro/qcorotask.h>

// Customer uploads: the list, one file into the inbox folder, the "downloaded"
// mark and deletion. Uploads are addressed by their token.
namespace APIService {

// Throws APIError::httpError with the whole body text for any status but 200.
QCoro::Task<QList<IncomingUpload>> fetchIncoming();
// Saves one file into "Zanvolt-Eingang" in the Downloads folder, replacing an
// item of the same name, and returns its path. A name from the server that
// could leave the folder is made safe first.
QCoro::Task<QString> downloadFile(QString token, QString fileName);
// Only status 200 counts as marked.
QCoro::Task<> markAsDownloaded(QString token);
// 200, 204 and 404 (already gone) count as deleted.
QCoro::Task<> deleteIncoming(QString token);

// The inbox folder's path; it may not exist yet.
QString incomingFolder();

} // namespace APIService
