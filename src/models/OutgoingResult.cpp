#include "models/OutgoingResult.h"

#include "models/JsonFields.h"

namespace APIService {

OutgoingResult OutgoingResult::fromJson(const QJsonObject& object) {
    const JsonFields fields(object);
    OutgoingResult result;
    result.status = fields.string(QStringLiteral("status"));
    result.code = fields.string(QStringLiteral("code"));
    result.downloadURL = fields.string(QStringLiteral("downloadURL"));
    for (const QJsonValue& file : fields.array(QStringLiteral("files"))) {
        if (!file.isObject())
            JsonFields::throwWrongType(QStringLiteral("files"));
        result.files.append(OutgoingFileInfo::fromJson(file.toObject()));
    }
    result.hasPassword = fields.optionalBoolean(QStringLiteral("hasPassword"));
    result.password = fields.optionalString(QStringLiteral("password"));
    return result;
}

} // namespace APIService
