#pragma once

#include "models/OrderedJson.h"

#include <QJsonObject>
#include <QString>

// One file inside a customer upload.
struct IncomingFile {
    QString name;
    qint64 size = 0;
    QString sizeFormatted;

    // Throws PlatformError when a member is missing or of the wrong type.
    static IncomingFile fromJson(const QJsonObject& object);
    OrderedJson toJson() const;

    bool operator==(const IncomingFile&) const = default;
};
