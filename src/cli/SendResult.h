#pragma once

#include "cli/ExitCode.h"
#include "models/ErrorText.h"
#include "transfers/ServerAccount.h"
#include "transfers/UploadJob.h"

#include <QJsonObject>
#include <QString>
#include <optional>

// How one `zanvolt send` ended, whether it ran in this process or in the running client, which
// reports it over the instance socket in this JSON shape.
struct SendResult {
    bool succeeded = false;
    ErrorKind errorKind = ErrorKind::Unknown;
    QString errorText;
    QString fileName;
    QString code;
    QString downloadURL;
    std::optional<QString> password;

    static SendResult fromUpload(const UploadJob::Result& result);
    // "Server-URL nicht konfiguriert", "API-Key nicht konfiguriert" or why the key cannot be used
    // when the read found the account unusable, or the store's failure when it could not be read;
    // nothing when both are stored.
    static std::optional<SendResult> missingConfiguration(const ServerAccount::Reading& reading);
    static SendResult failure(ErrorKind kind, const QString& text);

    QJsonObject toJson() const;
    // Anything unreadable is a failure of the running client.
    static SendResult fromJson(const QJsonObject& object);
    ExitCode exitCode() const;
};
