#include "StagingFolder.h"

#include "PlatformError.h"
#include "PrivateTempDir.h"

#include <QCoreApplication>
#include <QFile>
#include <QUuid>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
[[noreturn]] void fail(const QString& path, int error) {
    throw PlatformError(
        QCoreApplication::translate("StagingFolder", "Ordner „%1“ kann nicht angelegt werden: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(error))));
}
} // namespace

StagingFolder::StagingFolder() {
    const QString parent = PrivateTempDir::path();
    // Another process's clean-up may remove the folder between its making and its lock; it holds
    // the lock while it removes, so once ours is granted, a folder still linked is ours to keep.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QString path = parent + QStringLiteral("/zanvolt-run-") +
                             QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        const QByteArray native = QFile::encodeName(path);
        if (::mkdir(native.constData(), 0700) != 0)
            fail(path, errno);
        const int lock = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (lock < 0)
            continue;
        struct stat info {};
        if (::flock(lock, LOCK_EX) == 0 && ::fstat(lock, &info) == 0 && info.st_nlink > 0) {
            m_path = path;
            m_lock = lock;
            return;
        }
        ::close(lock);
    }
    fail(parent, EAGAIN);
}

StagingFolder::~StagingFolder() {
    PrivateTempDir::removeTree(m_path);
    ::close(m_lock);
}
