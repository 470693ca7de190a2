#include "ZipService.h"

#include "CancelToken.h"
#include "CancelledError.h"
#include "Format.h"
#include "OffMainThread.h"
#include "PlatformError.h"
#include "PrivateTempDir.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QStringDecoder>
#include <QUuid>
#include <QtConcurrent>
#include <QtEndian>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 endRecordSize = 22;
constexpr qint64 maxEndRecordSearch = 65535 + endRecordSize;
constexpr qsizetype centralHeaderSize = 46;
constexpr char endSignature[] = "PK\x05\x06";
constexpr char centralSignature[] = "PK\x01\x02";
constexpr char localSignature[] = "PK\x03\x04";
constexpr char utf8FlagInSecondByte = 0x08;

ZipError noEndRecord() {
    return ZipError::zipFailed(QStringLiteral("ZIP-Struktur unlesbar (kein End-of-Central-Directory)"));
}

quint16 readUInt16(const QByteArray& data, qsizetype offset) {
    return qFromLittleEndian<quint16>(data.constData() + offset);
}

quint32 readUInt32(const QByteArray& data, qsizetype offset) {
    return qFromLittleEndian<quint32>(data.constData() + offset);
}

bool hasSignature(const char* bytes, const char* signature) {
    return std::memcmp(bytes, signature, 4) == 0;
}

[[noreturn]] void failFile(const QFile& file) {
    throw PlatformError(file.errorString());
}

void seekTo(QFile& file, qint64 offset) {
    if (!file.seek(offset))
        failFile(file);
}

// Returns how many bytes came back; fewer than asked for at the end of the file.
qint64 readInto(QFile& file, char* buffer, qint64 length) {
    const qint64 count = file.read(buffer, length);
    if (count < 0)
        failFile(file);
    return count;
}

QByteArray readBytes(QFile& file, qint64 length) {
    QByteArray bytes(length, Qt::Uninitialized);
    bytes.truncate(readInto(file, bytes.data(), length));
    return bytes;
}

// Writes only when the bit is missing, so a header already marked costs a 2-byte read and nothing else.
void patchUtf8Bit(QFile& file, qint64 offset) {
    seekTo(file, offset);
    char flag[2];
    if (readInto(file, flag, 2) < 2)
        return;
    const char patched = char(flag[1] | utf8FlagInSecondByte);
    if (patched == flag[1])
        return;
    flag[1] = patched;
    seekTo(file, offset);
    if (file.write(flag, 2) != 2)
        failFile(file);
}

[[noreturn]] void failPath(const QString& what, const QString& path, int error) {
    throw PlatformError(what.arg(path, QString::fromLocal8Bit(std::strerror(error))));
}

[[noreturn]] void failItem(const QString& path, int error) {
    failPath(QStringLiteral("„%1“ kann nicht gepackt werden: %2"), path, error);
}

// Deflating these gains next to nothing and costs most of the packing time.
constexpr const char* storedSuffixes[] = {
    "jpg", "jpeg", "png",  "gif",  "heic", "heif", "webp", "avif", "mp4",  "m4v", "mov", "mkv", "webm", "avi",
    "mp3", "m4a",  "aac",  "ogg",  "opus", "flac", "zip",  "7z",   "rar",  "gz",  "tgz", "bz2", "xz",   "zst",
    "lz4", "pdf",  "docx", "xlsx", "pptx", "odt",  "ods",  "odp",  "epub", "jar", "apk", "dmg"};

// zip compares its -n suffixes case-sensitively, so every spelling of each is listed (".JPG", ".Jpg" …).
QString storedSuffixList() {
    QStringList spellings;
    for (const char* suffix : storedSuffixes) {
        const QString lower = QString::fromLatin1(suffix);
        QList<qsizetype> letters;
        for (qsizetype i = 0; i < lower.size(); ++i) {
            if (lower[i].isLetter())
                letters.append(i);
        }
        for (int mask = 0; mask < (1 << letters.size()); ++mask) {
            QString spelling = lower;
            for (qsizetype bit = 0; bit < letters.size(); ++bit) {
                if (mask & (1 << bit))
                    spelling[letters[bit]] = spelling[letters[bit]].toUpper();
            }
            spellings.append(u'.' + spelling);
        }
    }
    return spellings.join(u':');
}

// zip would follow a link anywhere inside a folder it packs, and a link to a parent folder never
// ends. With -y it stores links as links, but then it would also store the dropped items, which
// reach zip through links in the staging folder, as links. So packing takes two runs of zip:
// - "heads": the dropped files as links (followed: no -y, no recursion) and each dropped folder as
//   an empty folder of the same mode and time, for its own entry;
// - "trees": a link to each dropped folder; zip is given "folder/child" for every child, which
//   resolves the link in the path but stores links inside as links (-r -y).
struct Staging {
    QString run; // the run's own folder: the two below and zip's temporary file
    QString heads;
    QString trees;
    QStringList headNames;
    QStringList treeNames;
    qint64 bytes = 0;
    qint64 entries = 0;
};

// zip would leave out an unreadable file with a bare "Permission denied", and the contents of an
// unreadable folder without any complaint: the archive would then be sent short of them.
void checkReadable(const QString& path, int mode) {
    if (::access(QFile::encodeName(path).constData(), mode) != 0)
        failItem(path, errno);
}

// Counts what zip will read, without following links, so that a loop cannot run away here either.
void measureTree(const QString& folder, Staging& staging) {
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        ++staging.entries;
        if (info.isSymLink())
            continue;
        if (info.isDir())
            checkReadable(info.filePath(), R_OK | X_OK);
        else if (info.isFile()) {
            checkReadable(info.filePath(), R_OK);
            staging.bytes += info.size();
        }
    }
}

void stageItem(const QUrl& url, Staging& staging) {
    const QString localPath = url.toLocalFile();
    const QString source = QFileInfo(QDir::cleanPath(localPath)).absoluteFilePath();
    const QString name = QFileInfo(source).fileName();
    if (localPath.isEmpty() || name.isEmpty())
        failItem(url.toString(), ENOENT);
    // stat, not lstat: a dropped link stands for what it points at. A link to nothing would be
    // skipped by zip without complaint, where a copy fails.
    const QByteArray nativeSource = QFile::encodeName(source);
    struct stat info {};
    if (::stat(nativeSource.constData(), &info) != 0)
        failItem(source, errno);

    // Staged under the composed (NFC) name, so that decomposed umlauts arrive composed.
    const QString composed = name.normalized(QString::NormalizationForm_C);
    const QByteArray head = QFile::encodeName(staging.heads + u'/' + composed);
    staging.headNames.append(QStringLiteral("./") + composed);
    ++staging.entries;
    if (!S_ISDIR(info.st_mode)) {
        checkReadable(source, R_OK);
        if (::symlink(nativeSource.constData(), head.constData()) != 0)
            failItem(source, errno);
        staging.bytes += info.st_size;
        return;
    }

    if (::mkdir(head.constData(), 0700) != 0)
        failItem(source, errno);
    ::chmod(head.constData(), info.st_mode & 07777);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::utimensat(AT_FDCWD, head.constData(), times, 0);

    // An unreadable folder would otherwise look empty.
    checkReadable(source, R_OK | X_OK);
    const QStringList children =
        QDir(source).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (children.isEmpty())
        return;
    if (::symlink(nativeSource.constData(), QFile::encodeName(staging.trees + u'/' + composed).constData()) !=
        0)
        failItem(source, errno);
    for (const QString& child : children)
        staging.treeNames.append(QStringLiteral("./") + composed + u'/' + child);
    measureTree(source, staging);
}

std::mutex availableBytesMutex;
ZipService::AvailableBytes availableBytesOverride;

// -1 when unknown: packing then goes ahead and zip reports a full disk itself.
qint64 currentAvailableBytes(const QString& folder) {
    {
        std::lock_guard lock(availableBytesMutex);
        if (availableBytesOverride)
            return availableBytesOverride(folder);
    }
    const QStorageInfo storage(folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

QString sizeText(qint64 bytes) {
    return Format::size(bytes);
}

// Room for the archive: the items stored uncompressed at worst, plus the headers of every entry
// and a little slack for zip's own temporary file handling.
void checkSpace(const QString& tempDir, const Staging& staging) {
    const qint64 needed = staging.bytes + staging.entries * 256 + (1 << 20);
    const qint64 available = currentAvailableBytes(tempDir);
    if (available >= 0 && available < needed)
        throw ZipError::notEnoughSpace(sizeText(needed), sizeText(available));
}

Staging prepare(const QList<QUrl>& from, const QString& tempDir, const QString& archivePath) {
    // zip would add to an archive already there instead of starting afresh.
    PrivateTempDir::removeTree(archivePath);

    Staging staging;
    staging.run = tempDir + QStringLiteral("/zanvolt-zip-") +
                  QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    staging.heads = staging.run + QStringLiteral("/heads");
    staging.trees = staging.run + QStringLiteral("/trees");
    for (const QString& folder : {staging.run, staging.heads, staging.trees}) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0)
            failPath(QStringLiteral("Ordner „%1“ kann nicht angelegt werden: %2"), folder, errno);
    }
    try {
        for (const QUrl& url : from)
            stageItem(url, staging);
        checkSpace(tempDir, staging);
    } catch (...) {
        PrivateTempDir::removeTree(staging.run);
        throw;
    }
    return staging;
}

// Above this, the names go to zip through its standard input instead of the command line.
constexpr qsizetype maxNamesOnCommandLine = 256 * 1024;

// Names go on the command line unless there are very many of them.
bool prepareZip(QProcess& zip, const QString& folder, QStringList arguments, const QStringList& names) {
    qsizetype nameBytes = 0;
    bool anyNewline = false;
    for (const QString& name : names) {
        nameBytes += name.size() + 1;
        anyNewline = anyNewline || name.contains(u'\n');
    }
    const bool namesOnInput = nameBytes > maxNamesOnCommandLine && !anyNewline;
    if (namesOnInput)
        arguments.append(QStringLiteral("-@"));
    else
        arguments.append(names);
    zip.setProgram(QStringLiteral("/usr/bin/zip"));
    zip.setArguments(arguments);
    zip.setWorkingDirectory(folder);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
    zip.setProcessEnvironment(environment);
    zip.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    const pid_t client = ::getpid();
    zip.setChildProcessModifier([client] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != client)
            ::_exit(127);
    });
    return namesOnInput;
}

QStringList zipArguments(const Staging& staging, const QString& archivePath, bool trees) {
    QStringList arguments;
    if (trees)
        arguments << QStringLiteral("-r") << QStringLiteral("-y");
    arguments << QStringLiteral("-X") << QStringLiteral("-q") << QStringLiteral("-n") << storedSuffixList()
              << QStringLiteral("-b") << staging.run << archivePath;
    return arguments;
}

// zip runs as a child of the main thread's event loop, not of a pool thread: a cancel or a destroyed
// task kills it (QProcess's destructor), and it dies with the client (PR_SET_PDEATHSIG).
QCoro::Task<> runZip(QString folder, QStringList arguments, QStringList names, QPointer<CancelToken> cancel) {
    if (cancel && cancel->isCancelled())
        throw CancelledError();
    bool cancelled = false; // declared before the process, which refers to it until destroyed
    QProcess zip;
    const bool namesOnInput = prepareZip(zip, folder, arguments, names);
    if (cancel) {
        QObject::connect(cancel, &CancelToken::cancelled, &zip, [&zip, &cancelled] {
            cancelled = true;
            zip.kill();
        });
    }
    zip.start(namesOnInput ? QIODevice::ReadWrite : QIODevice::ReadOnly);
    if (!zip.waitForStarted(-1))
        throw PlatformError(zip.errorString());
    if (namesOnInput) {
        zip.write(QFile::encodeName(names.join(u'\n')) + '\n');
        zip.closeWriteChannel();
    }
    if (zip.state() != QProcess::NotRunning)
        co_await qCoro(&zip, &QProcess::finished);
    if (cancelled)
        throw CancelledError();
    if (zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0)
        throw ZipService::toolFailure(zip.readAllStandardError());
}

} // namespace

QCoro::Task<QUrl> ZipService::createZip(QList<QUrl> from, std::optional<QString> customName,
                                        QPointer<CancelToken> cancel) {
    if (from.isEmpty())
        throw ZipError::noFiles();
    const QString archiveName = customName.value_or(
        QStringLiteral("Zanvolt_") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss")) + QStringLiteral(".zip"));

    // Named tasks and functions: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    std::function<Staging()> staged = [from, archiveName] {
        const QString tempDir = PrivateTempDir::path();
        return prepare(from, tempDir, tempDir + u'/' + archiveName);
    };
    const Staging staging = co_await offMainThread<Staging>(std::move(staged));
    const QString archivePath = QFileInfo(staging.run).path() + u'/' + archiveName;
    // Holds nothing but links, empty folders and zip's temporary file, so removing it is quick and
    // can happen here even when the task is destroyed.
    auto cleanup = qScopeGuard([run = staging.run] { PrivateTempDir::removeTree(run); });
    bool done = false;
    auto removeArchive = qScopeGuard([&done, archivePath] {
        if (!done)
            PrivateTempDir::removeTree(archivePath);
    });

    co_await runZip(staging.heads, zipArguments(staging, archivePath, false), staging.headNames, cancel);
    if (!staging.treeNames.isEmpty())
        co_await runZip(staging.trees, zipArguments(staging, archivePath, true), staging.treeNames, cancel);
    std::function<bool()> patch = [archivePath] {
        ZipService::setUtf8Flag(archivePath);
        return true;
    };
    co_await offMainThread<bool>(std::move(patch));
    done = true;
    co_return QUrl::fromLocalFile(archivePath);
}

void ZipService::setUtf8Flag(QString archivePath) {
    // Unbuffered: the patch reads a few bytes per header, and a buffered QFile would read ahead 16 KiB
    // at every seek. QFile closes the handle on every path and ignores errors while closing.
    QFile file(archivePath);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered))
        failFile(file);

    const qint64 size = file.size();
    if (size < endRecordSize)
        return;
    const qint64 tailLength = qMin(size, maxEndRecordSearch);
    seekTo(file, size - tailLength);
    const QByteArray tail = readBytes(file, tailLength);
    if (tail.size() < endRecordSize)
        throw noEndRecord();
    qsizetype end = tail.size() - endRecordSize;
    while (end >= 0 && !hasSignature(tail.constData() + end, endSignature))
        --end;
    if (end < 0)
        throw noEndRecord();

    const quint16 entryCount = readUInt16(tail, end + 10);
    const quint32 directorySize = readUInt32(tail, end + 12);
    const quint32 directoryOffset = readUInt32(tail, end + 16);
    if (entryCount == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF)
        return;

    // Checked before reading so that a damaged size cannot make us allocate gigabytes.
    if (qint64(directoryOffset) + directorySize > size)
        throw ZipError::zipFailed(QStringLiteral("Central Directory unvollständig"));
    seekTo(file, directoryOffset);
    const QByteArray directory = readBytes(file, directorySize);
    if (directory.size() < qsizetype(directorySize))
        throw ZipError::zipFailed(QStringLiteral("Central Directory unvollständig"));

    qsizetype position = 0;
    for (int entry = 0; entry < entryCount; ++entry) {
        if (directory.size() - position < centralHeaderSize ||
            !hasSignature(directory.constData() + position, centralSignature))
            throw ZipError::zipFailed(QStringLiteral("Ungültiger Central-Directory-Header"));
        patchUtf8Bit(file, qint64(directoryOffset) + position + 8);

        const qint64 localOffset = readUInt32(directory, position + 42);
        seekTo(file, localOffset);
        char signature[4];
        if (readInto(file, signature, 4) == 4 && hasSignature(signature, localSignature))
            patchUtf8Bit(file, localOffset + 6);

        position += centralHeaderSize + readUInt16(directory, position + 28) +
                    readUInt16(directory, position + 30) + readUInt16(directory, position + 32);
    }
}

ZipError ZipService::toolFailure(QByteArray standardError) {
    // Stateless, so that a sequence cut off at the end counts as an error too.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(standardError);
    return ZipError::zipFailed(decoder.hasError() ? QStringLiteral("Unbekannter Fehler") : text);
}

void ZipService::setAvailableBytes(AvailableBytes function) {
    std::lock_guard lock(availableBytesMutex);
    availableBytesOverride = std::move(function);
}
