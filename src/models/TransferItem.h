#pragma once

#include "models/IsoDate.h"
#include "models/OrderedJson.h"

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>
#include <QUuid>
#include <optional>

// One file this client sent, as listed in the send tab and kept in the history.
struct TransferItem {
    QUuid id = QUuid::createUuid(); // local row identity, never sent to the server
    QString fileName;
    QString code;
    QString downloadURL;
    QDateTime uploadDate;
    QStringList originalFileNames;
    std::optional<QDateTime> downloadedAt;
    bool hasPassword = false;
    // Clear text, known only while the process runs: it has no JSON member.
    std::optional<QString> password;

    // Throws PlatformError when a required member is missing or of the wrong type.
    static TransferItem fromJson(const QJsonObject& object, IsoDate::Fraction dates);
    OrderedJson toJson() const;

    bool operator==(const TransferItem&) const = default;
};
