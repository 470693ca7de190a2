#pragma once

#include "OutgoingTransfer.h"
#include "PasswordAction.h"
#include "PasswordResponse.h"
#include "RenameResponse.h"

#include "KeychainService.h"

#include <QList>
#include <QString>
#include <qcoro/qcorotask.h>

// Sent transfers: the list, the password, renaming a file, deletion and
// fetching a file again. Transfers are addressed by their code.
namespace APIService {

// Any status but 200: "Fehler beim Laden der Transfers"; an undecodable list
// throws the decoding error.
QCoro::Task<QList<OutgoingTransfer>> fetchOutgoing(KeychainService::Credentials server);
QCoro::Task<PasswordResponse> revealOutgoingPassword(KeychainService::Credentials server, QString code);
QCoro::Task<PasswordResponse> updateOutgoingPassword(KeychainService::Credentials server, QString code,
                                                     PasswordAction action);
QCoro::Task<RenameResponse> renameOutgoingFile(KeychainService::Credentials server, QString code,
                                               QString oldName, QString newName);
// 200, 204 and 404 (already gone) count as deleted; else "Löschen fehlgeschlagen".
QCoro::Task<> deleteOutgoing(KeychainService::Credentials server, QString code);
// Streams the file into `folder` (see downloadInto) and returns where it was
// saved. On a status other than 200 nothing is left behind:
// "Download fehlgeschlagen (HTTP <status>)".
QCoro::Task<QString> downloadOutgoingFile(KeychainService::Credentials server, QString code, QString fileName,
                                          QString folder);

} // namespace APIService
