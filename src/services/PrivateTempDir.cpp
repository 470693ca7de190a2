#include "PrivateTempDir.h"

#include "PlatformError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
[[noreturn]] void fail(const QString& path, const QString& reason) {
    throw PlatformError(
        QCoreApplication::translate("PrivateTempDir", "Temporärer Ordner „%1“ nicht nutzbar: %2")
            .arg(path, reason));
}

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

void removeAt(int parent, const char* name, bool keepSockets);

// The names in the open folder; the descriptor stays open.
QList<QByteArray> entryNames(int folder) {
    QList<QByteArray> names;
    const int reading = ::dup(folder);
    DIR* entries = reading < 0 ? nullptr : ::fdopendir(reading);
    if (!entries) {
        if (reading >= 0)
            ::close(reading);
        return names;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(entry->d_name);
    }
    ::closedir(entries);
    return names;
}

// Empties the open folder; the descriptor stays open.
void removeChildren(int folder, bool keepSockets) {
    for (const QByteArray& name : entryNames(folder))
        removeAt(folder, name.constData(), keepSockets);
}

// Removes the entry `name` of the folder `parent`. Folders are opened with O_NOFOLLOW relative to
// their parent, so a folder swapped for a link meanwhile is not entered.
void removeAt(int parent, const char* name, bool keepSockets) {
    struct stat info {};
    if (::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (keepSockets && S_ISSOCK(info.st_mode))
        return;
    if (!S_ISDIR(info.st_mode)) {
        ::unlinkat(parent, name, 0);
        return;
    }
    const int folder = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return;
    removeChildren(folder, false);
    ::close(folder);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}
} // namespace

QString PrivateTempDir::path() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        fail(QStringLiteral("~/.cache/zanvolt"),
             QCoreApplication::translate("PrivateTempDir", "kein Cache-Ordner"));
    const QString path = cache + QStringLiteral("/zanvolt");
    QDir().mkpath(cache);
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        fail(path, systemText(errno));

    // lstat, so that a symlink planted at this path is refused, not followed.
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0)
        fail(path, systemText(errno));
    if (S_ISLNK(info.st_mode))
        fail(path, QCoreApplication::translate("PrivateTempDir", "ist ein symbolischer Link"));
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        fail(path, QCoreApplication::translate("PrivateTempDir", "gehört nicht diesem Benutzer"));
    if ((info.st_mode & 07777) != 0700 && ::chmod(native.constData(), 0700) != 0)
        fail(path, systemText(errno));
    return path;
}

void PrivateTempDir::removeLeftovers() {
    // A folder that cannot be made (read-only, full disk) holds nothing to clear, and is no reason
    // to stop the client: packing says what is wrong when it needs the folder.
    QByteArray native;
    try {
        native = QFile::encodeName(path());
    } catch (const PlatformError&) {
        return;
    }
    const int folder = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return;
    for (const QByteArray& name : entryNames(folder)) {
        // A folder another Zanvolt process works in is locked by it (flock on the folder itself, see
        // StagingFolder) and stays. The lock is held while removing, so that a run that has just made
        // the folder and waits for its lock finds it gone and makes another.
        const int child = ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child >= 0 && ::flock(child, LOCK_EX | LOCK_NB) != 0) {
            ::close(child);
            continue;
        }
        removeAt(folder, name.constData(), true);
        if (child >= 0)
            ::close(child);
    }
    ::close(folder);
}

void PrivateTempDir::removeTree(const QString& path) {
    removeAt(AT_FDCWD, QFile::encodeName(path).constData(), false);
}
