#include "models/IsoDate.h"

namespace {
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

bool digitsAt(const QString& text, qsizetype from, qsizetype count) {
    for (qsizetype i = from; i < from + count; ++i)
        if (!isDigit(text[i]))
            return false;
    return true;
}
} // namespace

std::optional<QDateTime> IsoDate::parse(const QString& text, Fraction fraction) {
    // The shape "yyyy-MM-ddTHH:mm:ss[.f…](Z|±hh:mm)", checked by hand: lists of thousands of records
    // each hold a date or two. Hours end at 23: Qt would take "T24:00:00" as the next day's midnight.
    const qsizetype size = text.size();
    if (size < 20 || !digitsAt(text, 0, 4) || text[4] != u'-' || !digitsAt(text, 5, 2) || text[7] != u'-' ||
        !digitsAt(text, 8, 2) || text[10] != u'T' || !digitsAt(text, 11, 2) || text[13] != u':' ||
        !digitsAt(text, 14, 2) || text[16] != u':' || !digitsAt(text, 17, 2))
        return std::nullopt;
    if (text[11] > u'2' || (text[11] == u'2' && text[12] > u'3'))
        return std::nullopt;
    qsizetype at = 19;
    qsizetype fractionDigits = 0;
    if (text[at] == u'.') {
        while (++at < size && isDigit(text[at]))
            ++fractionDigits;
        if (fractionDigits == 0)
            return std::nullopt;
    }
    const bool zulu = at == size - 1 && text[at] == u'Z';
    const bool offset = at == size - 6 && (text[at] == u'+' || text[at] == u'-') &&
                        digitsAt(text, at + 1, 2) && text[at + 3] == u':' && digitsAt(text, at + 4, 2);
    if (!zulu && !offset)
        return std::nullopt;
    if (fraction == Fraction::Forbidden && fractionDigits > 0)
        return std::nullopt;
    // Qt rounds a longer fraction to milliseconds, which turns 23:59:59.9999 into the next day (and
    // year); cut it to milliseconds instead, so the second the text writes is kept.
    QString converted = text;
    if (fractionDigits > 3)
        converted.remove(20 + 3, fractionDigits - 3);
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
