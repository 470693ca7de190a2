#include "models/OutgoingFileInfo.h"

#include "models/JsonFields.h"

namespace APIService {

OutgoingFileInfo OutgoingFileInfo::fromJson(const QJsonObject& object) {
    const JsonFields fields(object);
    return OutgoingFileInfo{fields.string(QStringLiteral("name")), fields.int64(QStringLiteral("size")),
                            fields.string(QStringLiteral("sizeFormatted"))};
}

} // namespace APIService
