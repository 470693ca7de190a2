#include "models/IsoDate.h"

#include <QRegularExpression>

std::optional<QDateTime> IsoDate::parse(const QString& text, Fraction fraction) {
    // Hours end at 23: Qt would take "T24:00:00" as the next day's midnight.
    static const QRegularExpression shape(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T(?:[01]\d|2[0-3]):\d{2}:\d{2}(\.\d+)?(Z|[+-]\d{2}:\d{2})$)"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    if (fraction == Fraction::Forbidden && match.capturedLength(1) > 0)
        return std::nullopt;
    // Qt rounds a longer fraction to milliseconds, which turns 23:59:59.9999 into the next day (and
    // year); cut it to milliseconds instead, so the second the text writes is kept.
    QString converted = text;
    if (match.capturedLength(1) > 4)
        converted.remove(match.capturedStart(1) + 4, match.capturedLength(1) - 4);
    const QDateTime date = QDateTime::fromString(converted, Qt::ISODateWithMs);
    if (!date.isValid())
        return std::nullopt;
    // format() writes UTC with a four-digit year: an instant outside it, such as
    // 9999-12-31T23:59:59-05:30, would be written as a date that is never read back.
    const int utcYear = date.toUTC().date().year();
    if (utcYear < 1 || utcYear > 9999)
        return std::nullopt;
    return date;
}

QString IsoDate::format(const QDateTime& date) {
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}
