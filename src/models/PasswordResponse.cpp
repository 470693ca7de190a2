#include "models/PasswordResponse.h"

#include "models/JsonFields.h"

namespace APIService {

PasswordResponse PasswordResponse::fromJson(const QJsonObject& object) {
    const JsonFields fields(object);
    return PasswordResponse{fields.string(QStringLiteral("code")),
                            fields.boolean(QStringLiteral("hasPassword")),
                            fields.optionalString(QStringLiteral("password"))};
}

} // namespace APIService
