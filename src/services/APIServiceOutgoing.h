#pragma once

#include "models/OutgoingTransfer.h"
#include "models/PasswordAction.h"
#include "models/PasswordResponse.h"
#include "models/RenameResponse.h"

#include "services/ServerConnection.h"

#include <QList>
#include <QString>
#include <qcoro/qcorotask.h>

// Sent transfers: the list, the password, renaming a file, deletion and
// fetching a file again. Transfers are addressed by their code.
namespace APIService {

// Any status but 200: "Fehler beim Laden der Transfers"; an undecodable list
// throws the decoding error.
QCoro::Task<QList<OutgoingTransfer>> fetchOutgoing(ServerConnection server);
QCoro::Task<PasswordResponse> revealOutgoingPassword(ServerConnection server, QString code);
QCoro::Task<PasswordResponse> updateOutgoingPassword(ServerConnection server, QString code,
                                                     PasswordAction action);
QCoro::Task<RenameResponse> renameOutgoingFile(ServerConnection server, QString code, QString oldName,
                                               QString newName);
// 200, 204 and 404 (already gone) count as deleted; else "Löschen fehlgeschlagen".
QCoro::Task<> deleteOutgoing(ServerConnection server, QString code);
// Streams the file into `folder` (see downloadInto) and returns where it was
// saved. On a status other than 200 nothing is left behind:
// "Download fehlgeschlagen (HTTP <status>)".
QCoro::Task<QString> downloadOutgoingFile(ServerConnection server, QString code, QString fileName,
                                          QString folder);

} // namespace APIService
