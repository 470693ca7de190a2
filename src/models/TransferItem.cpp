#include "models/TransferItem.h"

#include "models/JsonFields.h"

TransferItem TransferItem::fromJson(const QJsonObject& object, IsoDate::Fraction dates) {
    const JsonFields fields(object);
    TransferItem item;
    item.id = fields.optionalUuid(QStringLiteral("id")).value_or(QUuid::createUuid());
    item.fileName = fields.string(QStringLiteral("fileName"));
    item.code = fields.string(QStringLiteral("code"));
    item.downloadURL = fields.string(QStringLiteral("downloadURL"));
    item.uploadDate = fields.date(QStringLiteral("uploadDate"), dates);
    item.originalFileNames =
        fields.optionalStringList(QStringLiteral("originalFileNames")).value_or(QStringList());
    item.downloadedAt = fields.optionalDate(QStringLiteral("downloadedAt"), dates);
    item.hasPassword = fields.optionalBoolean(QStringLiteral("hasPassword")).value_or(false);
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
