#pragma once

#include "models/IsoDate.h"
#include "models/OutgoingFileInfo.h"
#include "models/ZipEntry.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

// One sent transfer as the server lists it, identified by its code.
struct OutgoingTransfer {
    using ZipContents = std::pair<QString, QList<APIService::ZipEntry>>; // stored file name, its entries

    QString code;
    QList<APIService::OutgoingFileInfo> files;
    QString downloadURL;
    QDateTime createdAt;
    bool isDownloaded = false;
    std::optional<QDateTime> downloadedAt;
    std::optional<qint64> totalSize;
    std::optional<QString> totalSizeFormatted;
    std::optional<bool> hasPassword;
    std::optional<QList<ZipContents>> zipEntries;

    // Dates with or without fractional seconds. Throws PlatformError when a
    // required member is missing, any member has the wrong type or a date is
    // not an internet date-time ("Ungültiges Datum: …").
    static OutgoingTransfer fromJson(const QJsonObject& object);

    // The ZIP entries to show: those of the first listed file that has some,
    // else those of the first stored archive, else none.
    QList<APIService::ZipEntry> primaryZipEntries() const;

    bool operator==(const OutgoingTransfer&) const = default;
};
