#pragma once

#include "models/OutgoingFileInfo.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace APIService {

// The server's answer to a completed upload: the new transfer's code and link.
struct OutgoingResult {
    QString status; // not interpreted
    QString code;
    QString downloadURL;
    QList<OutgoingFileInfo> files;
    std::optional<bool> hasPassword;
    std::optional<QString> password; // the given or the generated one

    // Throws PlatformError when a member is missing or of the wrong type.
    static OutgoingResult fromJson(const QJsonObject& object);

    bool operator==(const OutgoingResult&) const = default;
};

} // namespace APIService
