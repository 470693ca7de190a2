#include "Format.h"

#include <QCoreApplication>
#include <charconv>
#include <cmath>
#include <limits>

namespace {
// Fixed notation with `decimals` places, rounded as printf rounds, never localised.
QString fixed(double value, int decimals, const char* unit) {
    char buffer[400]; // the longest double in fixed notation fits
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return QString::fromLatin1(buffer, result.ptr - buffer) + QLatin1Char(' ') + QLatin1String(unit);
}
} // namespace

namespace Format {

QString size(qint64 bytes) {
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    if (bytes < 1024 * 1024)
        return fixed(double(bytes) / 1024, 0, "KB");
    if (bytes < 1024LL * 1024 * 1024)
        return fixed(double(bytes) / 1048576, 1, "MB");
    return fixed(double(bytes) / 1073741824, 2, "GB");
}

QString speed(double bytesPerSecond) {
    if (bytesPerSecond <= 0)
        return QStringLiteral("...");
    if (bytesPerSecond < 1048576.0)
        return fixed(bytesPerSecond / 1024, 0, "KB/s");
    return fixed(bytesPerSecond / 1048576, 1, "MB/s");
}

QString remaining(double progress, double bytesPerSecond, qint64 totalSize) {
    if (!(progress > 0.01 && bytesPerSecond > 0))
        return QCoreApplication::translate("Format", "berechne...");
    const double seconds = std::trunc((1.0 - progress) * double(totalSize) / bytesPerSecond);
    // A tiny speed can give more seconds than a 64-bit integer holds; the
    // largest value keeps the text finite instead of converting out of range.
    const qint64 s =
        std::isfinite(seconds) && seconds < 9.2e18 ? qint64(seconds) : std::numeric_limits<qint64>::max();
    if (s > 3599)
        return QCoreApplication::translate("Format", "ca. %1h %2 Min.").arg(s / 3600).arg((s % 3600) / 60);
    if (s > 59)
        return QCoreApplication::translate("Format", "ca. %1 Min.").arg(s / 60);
    return QCoreApplication::translate("Format", "ca. %1s").arg(s);
}

QString dateTime(const QDateTime& when) {
    return when.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

QString downloadedAt(const QDateTime& when) {
    return when.toLocalTime().toString(QStringLiteral("dd.MM.yy - HH:mm"));
}

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F || c == 0x061C ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

QString shown(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (c == u'\n' || !isControl(c))
            result.append(QString::fromUcs4(&c, 1));
    }
    return result;
}

QString dayAndTime(const QDateTime& when) {
    return when.toLocalTime().toString(QStringLiteral("dd.MM. HH:mm"));
}

} // namespace Format
