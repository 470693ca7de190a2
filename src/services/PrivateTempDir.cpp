#include "PrivateTempDir.h"

#include "PlatformError.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString baseFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/zanvolt");
    return QDir::tempPath() + QStringLiteral("/zanvolt-%1").arg(::getuid());
}

[[noreturn]] void fail(const QString& path, const QString& reason) {
    throw PlatformError(QStringLiteral("Temporärer Ordner „%1“ nicht nutzbar: %2").arg(path, reason));
}
} // namespace

QString PrivateTempDir::path() {
    const QString path = baseFolder();
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        fail(path, QString::fromLocal8Bit(std::strerror(errno)));

    // lstat, so that a symlink planted at this path is refused, not followed.
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0)
        fail(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        fail(path, QStringLiteral("gehört nicht diesem Benutzer"));
    if ((info.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0)
        fail(path, QString::fromLocal8Bit(std::strerror(errno)));
    return path;
}
