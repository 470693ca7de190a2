#include "models/JsonFields.h"

#include "models/PlatformError.h"
#include "models/UserText.h"

#include <QCoreApplication>
#include <cmath>

namespace {
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" of hex digits, bare or in braces.
bool isUuidShape(QStringView text) {
    if (text.size() == 38 && text.front() == u'{' && text.back() == u'}')
        text = text.mid(1, 36);
    if (text.size() != 36)
        return false;
    for (qsizetype i = 0; i < 36; ++i) {
        const char16_t c = text[i].unicode();
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (dash ? c != u'-' : !hex)
            return false;
    }
    return true;
}
} // namespace

JsonFields JsonFields::fromValue(const QJsonValue& value) {
    if (!value.isObject())
        throw PlatformError(UserText::unreadableData());
    return JsonFields(value.toObject());
}

void JsonFields::throwMissing(const QString& key) {
    throw PlatformError(
        QCoreApplication::translate("JsonFields", "Die Daten konnten nicht gelesen werden, weil „%1“ fehlt.")
            .arg(key));
}

void JsonFields::throwWrongType(const QString& key) {
    throw PlatformError(
        QCoreApplication::translate("JsonFields",
                                    "Die Daten konnten nicht gelesen werden, weil „%1“ den falschen Typ hat.")
            .arg(key));
}

std::optional<QJsonValue> JsonFields::present(const QString& key) const {
    const auto it = m_object.constFind(key);
    if (it == m_object.constEnd() || it->isNull())
        return std::nullopt;
    return *it;
}

QString JsonFields::string(const QString& key) const {
    const auto value = optionalString(key);
    if (!value)
        throwMissing(key);
    return *value;
}

std::optional<QString> JsonFields::optionalString(const QString& key) const {
    const auto value = present(key);
    if (!value)
        return std::nullopt;
    if (!value->isString())
        throwWrongType(key);
    return value->toString();
}

qint64 JsonFields::int64(const QString& key) const {
    const auto value = optionalInt64(key);
    if (!value)
        throwMissing(key);
    return *value;
}

std::optional<qint64> JsonFields::optionalInt64(const QString& key) const {
    const auto value = present(key);
    if (!value)
        return std::nullopt;
    if (!value->isDouble())
        throwWrongType(key);
    const double number = value->toDouble();
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (std::trunc(number) != number || std::fabs(number) >= 9223372036854775808.0)
        throwWrongType(key);
    return value->toInteger();
}

bool JsonFields::boolean(const QString& key) const {
    const auto value = optionalBoolean(key);
    if (!value)
        throwMissing(key);
    return *value;
}

std::optional<bool> JsonFields::optionalBoolean(const QString& key) const {
    const auto value = present(key);
    if (!value)
        return std::nullopt;
    if (!value->isBool())
        throwWrongType(key);
    return value->toBool();
}

QDateTime JsonFields::date(const QString& key, IsoDate::Fraction fraction) const {
    const auto value = optionalDate(key, fraction);
    if (!value)
        throwMissing(key);
    return *value;
}

std::optional<QDateTime> JsonFields::optionalDate(const QString& key, IsoDate::Fraction fraction) const {
    const auto text = optionalString(key);
    if (!text)
        return std::nullopt;
    const auto date = IsoDate::parse(*text, fraction);
    if (!date)
        throw PlatformError(QCoreApplication::translate("JsonFields", "Ungültiges Datum: ") + *text);
    return date;
}

std::optional<QUuid> JsonFields::optionalUuid(const QString& key) const {
    const auto text = optionalString(key);
    if (!text)
        return std::nullopt;
    // The shape is checked rather than QUuid::isNull(): fromString() returns the null UUID both for
    // garbage and for the valid all-zero UUID. By hand, as history files hold thousands of ids.
    if (!isUuidShape(*text))
        throwWrongType(key);
    return QUuid::fromString(*text);
}

QJsonArray JsonFields::array(const QString& key) const {
    const auto value = optionalArray(key);
    if (!value)
        throwMissing(key);
    return *value;
}

std::optional<QJsonArray> JsonFields::optionalArray(const QString& key) const {
    const auto value = present(key);
    if (!value)
        return std::nullopt;
    if (!value->isArray())
        throwWrongType(key);
    return value->toArray();
}

std::optional<QJsonObject> JsonFields::optionalObject(const QString& key) const {
    const auto value = present(key);
    if (!value)
        return std::nullopt;
    if (!value->isObject())
        throwWrongType(key);
    return value->toObject();
}

std::optional<QStringList> JsonFields::optionalStringList(const QString& key) const {
    const auto array = optionalArray(key);
    if (!array)
        return std::nullopt;
    QStringList list;
    for (const QJsonValue& element : *array) {
        if (!element.isString())
            throwWrongType(key);
        list.append(element.toString());
    }
    return list;
}
