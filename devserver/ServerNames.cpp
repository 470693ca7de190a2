#include "ServerNames.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <QUuid>

#include <cstdio>

namespace {

QString randomText(int length, QLatin1StringView alphabet) {
    QString text;
    text.reserve(length);
    auto* random = QRandomGenerator::system();
    for (int i = 0; i < length; ++i)
        text.append(QChar(alphabet[random->bounded(int(alphabet.size()))]));
    return text;
}

// Without 0/O, 1/l/I, so a password read aloud or copied by hand survives.
constexpr QLatin1StringView unambiguous("ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789");

} // namespace

std::optional<QString> ServerNames::fileName(const QByteArray& utf8) {
    if (utf8.isEmpty() || utf8.size() > 255 || utf8 == "." || utf8 == "..")
        return std::nullopt;
    if (utf8.contains('/') || utf8.contains('\\') || utf8.contains('\0'))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString name = decoder(utf8);
    if (decoder.hasError())
        return std::nullopt;
    return name;
}

bool ServerNames::isValidFileName(const QString& name) {
    return fileName(name.toUtf8()).has_value();
}

bool ServerNames::isSafeId(const QString& id) {
    if (id.isEmpty() || id.size() > 64)
        return false;
    for (QChar c : id) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'_')
            return false;
    }
    return true;
}

QByteArray ServerNames::percentDecode(const QByteArray& encoded) {
    return QByteArray::fromPercentEncoding(encoded);
}

QByteArray ServerNames::percentEncodeSegment(const QString& segment) {
    return segment.toUtf8().toPercentEncoding();
}

QString ServerNames::newToken() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString ServerNames::newCode() {
    return randomText(8, unambiguous);
}

QString ServerNames::newPassword() {
    return randomText(14, unambiguous);
}

QString ServerNames::newApiKey() {
    return randomText(32, unambiguous);
}

QString ServerNames::formatSize(qint64 bytes) {
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    if (bytes == 1)
        return QStringLiteral("1 Byte");
    if (bytes < 1000)
        return QStringLiteral("%1 Bytes").arg(bytes);
    double value = double(bytes);
    int unit = -1;
    while (value >= 1000.0 && unit < 3) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return QString::fromLatin1(text).replace(u'.', u',') + u' ' + QLatin1StringView(units[unit]);
}
