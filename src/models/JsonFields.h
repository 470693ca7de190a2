#pragma once

#include "models/IsoDate.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QUuid>
#include <optional>

// Strict typed access to the members of a decoded JSON object. A required
// member that is missing, or any member of the wrong type, throws a
// PlatformError (a decoding error); a null optional member counts as absent.
class JsonFields {
public:
    explicit JsonFields(QJsonObject object) : m_object(std::move(object)) {}
    static JsonFields fromValue(const QJsonValue& value);

    QString string(const QString& key) const;
    std::optional<QString> optionalString(const QString& key) const;
    qint64 int64(const QString& key) const;
    std::optional<qint64> optionalInt64(const QString& key) const;
    bool boolean(const QString& key) const;
    std::optional<bool> optionalBoolean(const QString& key) const;
    QDateTime date(const QString& key, IsoDate::Fraction fraction) const;
    std::optional<QDateTime> optionalDate(const QString& key, IsoDate::Fraction fraction) const;
    std::optional<QUuid> optionalUuid(const QString& key) const;
    QJsonArray array(const QString& key) const;
    std::optional<QJsonArray> optionalArray(const QString& key) const;
    std::optional<QJsonObject> optionalObject(const QString& key) const;
    std::optional<QStringList> optionalStringList(const QString& key) const;

    [[noreturn]] static void throwMissing(const QString& key);
    [[noreturn]] static void throwWrongType(const QString& key);

private:
    std::optional<QJsonValue> present(const QString& key) const;

    QJsonObject m_object;
};
