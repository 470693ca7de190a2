#include "models/IncomingFile.h"

#include "models/JsonFields.h"

IncomingFile IncomingFile::fromJson(const QJsonObject& object) {
    const JsonFields fields(object);
    return IncomingFile{fields.string(QStringLiteral("name")), fields.int64(QStringLiteral("size")),
                        fields.string(QStringLiteral("sizeFormatted"))};
}

OrderedJson IncomingFile::toJson() const {
    OrderedJson json = OrderedJson::object();
    json.insert(QStringLiteral("name"), name)
        .insert(QStringLiteral("size"), size)
        .insert(QStringLiteral("sizeFormatted"), sizeFormatted);
    return json;
}
