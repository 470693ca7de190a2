#pragma once

#include <QList>
#include <QString>

#include <optional>

// Lists the file entries of a stored ZIP archive from its central directory (Zip64 included),
// without extracting anything. Directory entries are left out.
class ZipCentralDirectory {
public:
    struct Entry {
        QString name;
        qint64 size = 0;
    };

    // nullopt when the file is not a readable ZIP archive.
    static std::optional<QList<Entry>> read(const QString& path);
};
