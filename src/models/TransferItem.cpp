#include "models/TransferItem.h"

#include "models/JsonFields.h"

TransferItem TransferItem::fromJson(const QJsonObject& object, IsoDate::Fraction dates) {
    const JsonFields fields(object);
    // A stored id is taken as it is; only an entry without one is given a new one.
    const std::optional<QUuid> storedId = fields.optionalUuid(QStringLiteral("id"));
    TransferItem item{
        .id = storedId ? *storedId : QUuid::createUuid(),
        .fileName = fields.string(QStringLiteral("fileName")),
        .code = fields.string(QStringLiteral("code")),
        .downloadURL = fields.string(QStringLiteral("downloadURL")),
        .uploadDate = fields.date(QStringLiteral("uploadDate"), dates),
        .originalFileNames =
            fields.optionalStringList(QStringLiteral("originalFileNames")).value_or(QStringList()),
        .downloadedAt = fields.optionalDate(QStringLiteral("downloadedAt"), dates),
        .hasPassword = fields.optionalBoolean(QStringLiteral("hasPassword")).value_or(false),
        .password = std::nullopt,
    };
    return item;
}

OrderedJson TransferItem::toJson() const {
    OrderedJson names = OrderedJson::array();
    for (const QString& name : originalFileNames)
        names.append(name);
    OrderedJson json = OrderedJson::object();
    json.insert(QStringLiteral("id"), id.toString(QUuid::WithoutBraces).toUpper())
        .insert(QStringLiteral("fileName"), fileName)
        .insert(QStringLiteral("code"), code)
        .insert(QStringLiteral("downloadURL"), downloadURL)
        .insert(QStringLiteral("uploadDate"), IsoDate::format(uploadDate))
        .insert(QStringLiteral("originalFileNames"), std::move(names));
    if (downloadedAt)
        json.insert(QStringLiteral("downloadedAt"), IsoDate::format(*downloadedAt));
    json.insert(QStringLiteral("hasPassword"), hasPassword);
    return json;
}
