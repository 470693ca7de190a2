#include "models/ZipEntry.h"

#include "models/JsonFields.h"

namespace APIService {

ZipEntry ZipEntry::fromJson(const QJsonObject& object) {
    const JsonFields fields(object);
    return ZipEntry{fields.string(QStringLiteral("name")), fields.int64(QStringLiteral("size"))};
}

} // namespace APIService
