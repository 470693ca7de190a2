#include "models/RenameResponse.h"

#include "models/JsonFields.h"

namespace APIService {

RenameResponse RenameResponse::fromJson(const QJsonObject& object) {
    const JsonFields fields(object);
    return RenameResponse{fields.optionalString(QStringLiteral("status")),
                          fields.optionalString(QStringLiteral("oldName")),
                          fields.optionalString(QStringLiteral("newName"))};
}

} // namespace APIService
