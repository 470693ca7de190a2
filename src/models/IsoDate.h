#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// Internet date-times (RFC 3339): "2024-05-01T12:30:45Z", "…45.123+02:00".
// Qt's ISODate parser also takes a bare date, a missing zone or a blank for
// "T"; the shape is therefore checked before Qt converts.
class IsoDate {
public:
    enum class Fraction { Forbidden, Optional };

    static std::optional<QDateTime> parse(const QString& text, Fraction fraction);
    // UTC without fractional seconds, the history file's form.
    static QString format(const QDateTime& date);
};
