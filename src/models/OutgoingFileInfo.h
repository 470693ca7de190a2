#pragma once

#include <QJsonObject>
#include <QString>

namespace APIService {

// One stored file of a sent transfer, as the server describes it.
struct OutgoingFileInfo {
    QString name;
    qint64 size = 0;
    QString sizeFormatted; // the server's own rendering of the size

    // Throws PlatformError when a member is missing or of the wrong type.
    static OutgoingFileInfo fromJson(const QJsonObject& object);

    bool operator==(const OutgoingFileInfo&) const = default;
};

} // namespace APIService
