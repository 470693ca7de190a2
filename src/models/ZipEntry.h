#pragma once

#include <QJsonObject>
#include <QString>

namespace APIService {

// One file inside a stored ZIP archive, as the server lists it.
struct ZipEntry {
    QString name; // path inside the archive
    qint64 size = 0;

    // Throws PlatformError when a member is missing or of the wrong type.
    static ZipEntry fromJson(const QJsonObject& object);

    bool operator==(const ZipEntry&) const = default;
};

} // namespace APIService
