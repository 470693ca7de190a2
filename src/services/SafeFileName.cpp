#include "services/SafeFileName.h"

#include "models/Format.h"
#include "models/PlatformError.h"

#include <QFile>
#include <QTextBoundaryFinder>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qsizetype maxNameBytes = 255;
// A longer "extension" is more likely part of the name; it is shortened with the rest.
constexpr qsizetype maxExtensionBytes = 32;

qsizetype utf8Size(QStringView text) {
    return text.toUtf8().size();
}

// The stem and the extension with its dot; a leading dot (".bashrc") is part of the stem, and
// ".tar" stays with the compression suffix after it.
std::pair<QString, QString> split(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return {name, {}};
    qsizetype start = dot;
    static const QStringList compressions{QStringLiteral(".gz"), QStringLiteral(".bz2"),
                                          QStringLiteral(".xz"), QStringLiteral(".zst")};
    if (compressions.contains(name.mid(dot).toLower()) && dot > 4 &&
        name.mid(dot - 4, 4).compare(QLatin1String(".tar"), Qt::CaseInsensitive) == 0)
        start = dot - 4;
    if (utf8Size(QStringView(name).mid(start)) > maxExtensionBytes)
        return {name, {}};
    return {name.left(start), name.mid(start)};
}

// stem + tail, the stem cut at a character boundary (graphemes, so an accent stays on its letter)
// until the whole fits in 255 bytes.
QString fitted(const QString& stem, const QString& tail) {
    const qsizetype room = maxNameBytes - utf8Size(tail);
    if (utf8Size(stem) <= room)
        return stem + tail;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, stem);
    qsizetype cut = 0;
    qsizetype bytes = 0;
    for (qsizetype next = graphemes.toNextBoundary(); next > 0; next = graphemes.toNextBoundary()) {
        bytes += utf8Size(QStringView(stem).mid(cut, next - cut));
        if (bytes > room)
            break;
        cut = next;
    }
    return stem.left(cut) + tail;
}

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// 0 when moved, EEXIST when the name is taken, another errno on failure.
int moveWithoutReplacing(const QByteArray& source, const QByteArray& target) {
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // The file system cannot rename without replacing; link() never replaces either.
    if (::link(source.constData(), target.constData()) != 0)
        return errno;
    ::unlink(source.constData());
    return 0;
}

} // namespace

QString SafeFileName::forFolder(QString name) {
    QString cleaned;
    cleaned.reserve(name.size());
    for (const char32_t c : name.toUcs4()) {
        if (c == u'/' || c == u'\\' || c == 0)
            cleaned.append(u'_');
        else if (!Format::isControl(c))
            cleaned.append(QString::fromUcs4(&c, 1));
    }
    if (cleaned.isEmpty())
        return QStringLiteral("_");
    if (cleaned == QLatin1String(".") || cleaned == QLatin1String(".."))
        return QString(cleaned.size(), u'_');
    const auto [stem, extension] = split(cleaned);
    return fitted(stem, extension);
}

QString SafeFileName::numbered(const QString& name, int n) {
    const auto [stem, extension] = split(name);
    return fitted(stem, QStringLiteral(" (%1)").arg(n) + extension);
}

QString SafeFileName::moveNoReplace(const QString& source, const QString& folder, const QString& wantedName) {
    const QString safe = forFolder(wantedName);
    const QByteArray nativeSource = QFile::encodeName(source);
    for (int n = 1; n < 100000; ++n) {
        const QString target = folder + u'/' + (n == 1 ? safe : numbered(safe, n));
        const int error = moveWithoutReplacing(nativeSource, QFile::encodeName(target));
        if (error == 0)
            return target;
        if (error != EEXIST)
            throw PlatformError(systemText(error));
    }
    throw PlatformError(systemText(EEXIST));
}
