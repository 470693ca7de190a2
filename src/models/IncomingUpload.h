#pragma once

#include "models/IncomingFile.h"
#include "models/IsoDate.h"

#include <QDateTime>
#include <QList>
#include <optional>

// One upload a customer sent through the server's web page, identified by its token.
struct IncomingUpload {
    QString token;
    std::optional<QString> code;
    QString customerName;
    std::optional<QString> auftragsnummer;
    std::optional<QString> nachricht;
    QList<IncomingFile> files;
    QDateTime uploadDate;
    bool isDownloaded = false;
    std::optional<qint64> totalSize;
    std::optional<QString> totalSizeFormatted;
    std::optional<QString> downloadURL;

    // Throws PlatformError when a required member is missing or any member has the wrong type.
    static IncomingUpload fromJson(const QJsonObject& object, IsoDate::Fraction dates);
    OrderedJson toJson() const;

    bool operator==(const IncomingUpload&) const = default;
};
