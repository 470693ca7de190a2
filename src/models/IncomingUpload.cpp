#include "models/IncomingUpload.h"

#include "models/JsonFields.h"

IncomingUpload IncomingUpload::fromJson(const QJsonObject& object, IsoDate::Fraction dates) {
    const JsonFields fields(object);
    IncomingUpload upload;
    upload.token = fields.string(QStringLiteral("token"));
    upload.code = fields.optionalString(QStringLiteral("code"));
    upload.customerName = fields.string(QStringLiteral("customerName"));
    upload.auftragsnummer = fields.optionalString(QStringLiteral("auftragsnummer"));
    upload.nachricht = fields.optionalString(QStringLiteral("nachricht"));
    for (const QJsonValue& file : fields.array(QStringLiteral("files"))) {
        if (!file.isObject())
            JsonFields::throwWrongType(QStringLiteral("files"));
        upload.files.append(IncomingFile::fromJson(file.toObject()));
    }
    upload.uploadDate = fields.date(QStringLiteral("uploadDate"), dates);
    upload.isDownloaded = fields.boolean(QStringLiteral("isDownloaded"));
    upload.totalSize = fields.optionalInt64(QStringLiteral("totalSize"));
    upload.totalSizeFormatted = fields.optionalString(QStringLiteral("totalSizeFormatted"));
    upload.downloadURL = fields.optionalString(QStringLiteral("downloadURL"));
    return upload;
}

OrderedJson IncomingUpload::toJson() const {
    OrderedJson list = OrderedJson::array();
    for (const IncomingFile& file : files)
        list.append(file.toJson());
    OrderedJson json = OrderedJson::object();
    json.insert(QStringLiteral("token"), token);
    if (code)
        json.insert(QStringLiteral("code"), *code);
    json.insert(QStringLiteral("customerName"), customerName);
    if (auftragsnummer)
        json.insert(QStringLiteral("auftragsnummer"), *auftragsnummer);
    if (nachricht)
        json.insert(QStringLiteral("nachricht"), *nachricht);
    json.insert(QStringLiteral("files"), std::move(list))
        .insert(QStringLiteral("uploadDate"), IsoDate::format(uploadDate))
        .insert(QStringLiteral("isDownloaded"), isDownloaded);
    if (totalSize)
        json.insert(QStringLiteral("totalSize"), *totalSize);
    if (totalSizeFormatted)
        json.insert(QStringLiteral("totalSizeFormatted"), *totalSizeFormatted);
    if (downloadURL)
        json.insert(QStringLiteral("downloadURL"), *downloadURL);
    return json;
}
