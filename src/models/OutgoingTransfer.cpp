#include "models/OutgoingTransfer.h"

#include "models/JsonFields.h"

#include <QJsonArray>

namespace {
// An array element that must be an object; anything else fails like a record would.
QJsonObject objectOf(const QJsonValue& value) {
    if (!value.isObject())
        JsonFields::fromValue(value);
    return value.toObject();
}

QList<APIService::ZipEntry> zipEntryList(const QJsonValue& value, const QString& key) {
    if (!value.isArray())
        JsonFields::throwWrongType(key);
    QList<APIService::ZipEntry> entries;
    for (const QJsonValue& element : value.toArray())
        entries.append(APIService::ZipEntry::fromJson(objectOf(element)));
    return entries;
}
} // namespace

OutgoingTransfer OutgoingTransfer::fromJson(const QJsonObject& object) {
    const JsonFields fields(object);
    constexpr auto dates = IsoDate::Fraction::Optional;
    OutgoingTransfer transfer;
    transfer.code = fields.string(QStringLiteral("code"));
    for (const QJsonValue& file : fields.array(QStringLiteral("files")))
        transfer.files.append(APIService::OutgoingFileInfo::fromJson(objectOf(file)));
    transfer.downloadURL = fields.string(QStringLiteral("downloadURL"));
    transfer.createdAt = fields.date(QStringLiteral("createdAt"), dates);
    transfer.isDownloaded = fields.boolean(QStringLiteral("isDownloaded"));
    transfer.downloadedAt = fields.optionalDate(QStringLiteral("downloadedAt"), dates);
    transfer.totalSize = fields.optionalInt64(QStringLiteral("totalSize"));
    transfer.totalSizeFormatted = fields.optionalString(QStringLiteral("totalSizeFormatted"));
    transfer.hasPassword = fields.optionalBoolean(QStringLiteral("hasPassword"));
    if (const auto map = fields.optionalObject(QStringLiteral("zipEntries"))) {
        QList<ZipContents> contents;
        for (auto it = map->constBegin(); it != map->constEnd(); ++it)
            contents.append({it.key(), zipEntryList(it.value(), QStringLiteral("zipEntries"))});
        transfer.zipEntries = std::move(contents);
    }
    return transfer;
}

QList<APIService::ZipEntry> OutgoingTransfer::primaryZipEntries() const {
    if (!zipEntries)
        return {};
    for (const auto& file : files) {
        for (const auto& [name, entries] : *zipEntries) {
            if (name == file.name)
                return entries;
        }
    }
    return zipEntries->isEmpty() ? QList<APIService::ZipEntry>() : zipEntries->first().second;
}
