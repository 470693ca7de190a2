#include "SafeFileName.h"

#include "PlatformError.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h>

QString SafeFileName::forFolder(QString name) {
    for (QChar& c : name) {
        if (c == u'/' || c == u'\\' || c == QChar(0))
            c = u'_';
    }
    if (name.isEmpty())
        return QStringLiteral("_");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QString(name.size(), u'_');
    return name;
}

QString SafeFileName::numbered(const QString& name, int number) {
    const int dot = name.lastIndexOf(u'.');
    const QString suffix = QStringLiteral(" (%1)").arg(number);
    if (dot <= 0)
        return name + suffix;
    return name.left(dot) + suffix + name.mid(dot);
}

QString SafeFileName::moveNoReplace(const QString& source, const QString& folder, const QString& wantedName) {
    const QString name = forFolder(wantedName);
    for (int number = 1; number < 10000; ++number) {
        const QString target = folder + u'/' + (number == 1 ? name : numbered(name, number));
        if (::renameat2(AT_FDCWD, QFile::encodeName(source).constData(), AT_FDCWD,
                        QFile::encodeName(target).constData(), RENAME_NOREPLACE) == 0)
            return target;
        if (errno != EEXIST)
            throw PlatformError(qt_error_string(errno));
    }
    throw PlatformError(qt_error_string(EEXIST));
}
