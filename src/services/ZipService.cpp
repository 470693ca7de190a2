#include "ZipService.h"

#include "CancelToken.h"
#include "CancelledError.h"
#include "Format.h"
#include "LocalPath.h"
#include "OffMainThread.h"
#include "PlatformError.h"
#include "PrivateTempDir.h"
#include "UserText.h"
#include "Utf8.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroSignal>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QStorageInfo>
#include <QStringDecoder>
#include <QUuid>
#include <QtConcurrent>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
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
constexpr qsizetype zip64LocatorSize = 20;
constexpr qsizetype zip64RecordSize = 56;
constexpr char zip64LocatorSignature[] = "PK\x06\x07";
constexpr char zip64RecordSignature[] = "PK\x06\x06";

ZipError noEndRecord() {
    return ZipError::zipFailed(
        QCoreApplication::translate("ZipService", "ZIP-Struktur unlesbar (kein End-of-Central-Directory)"));
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
    failPath(QCoreApplication::translate("ZipService", "„%1“ kann nicht gepackt werden: %2"), path, error);
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
// Names are bytes throughout: a name that is not UTF-8 must reach zip as it is on disk.
struct Staging {
    QString run; // the run's own folder: the two below and zip's temporary file
    QString heads;
    QString trees;
    QList<QByteArray> headNames;
    QList<QByteArray> treeNames;
    QList<QByteArray> expected; // every entry the archive must hold
    qint64 bytes = 0;
    qint64 entries = 0;
};

QString shown(const QByteArray& path) {
    return LocalPath::text(path);
}

[[noreturn]] void failItem(const QByteArray& path, int error) {
    failItem(shown(path), error);
}

// zip would leave out an unreadable file with a bare "Permission denied", and the contents of an
// unreadable folder without any complaint: the archive would then be sent short of them.
void checkReadable(const QByteArray& path, int mode) {
    if (::access(path.constData(), mode) != 0)
        failItem(path, errno);
}

QList<QByteArray> childrenOf(const QByteArray& folder) {
    DIR* entries = ::opendir(folder.constData());
    if (!entries)
        failItem(folder, errno);
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(entries)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(entry->d_name);
    }
    ::closedir(entries);
    std::sort(names.begin(), names.end());
    return names;
}

// Lists what zip must store below `folder` under `prefix`, without following links, so that a loop
// cannot run away here either. Pipes, sockets and devices are left out: zip skips them unread.
void enumerateTree(const QByteArray& folder, const QByteArray& prefix, Staging& staging) {
    for (const QByteArray& name : childrenOf(folder)) {
        const QByteArray path = folder + '/' + name;
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            failItem(path, errno);
        ++staging.entries;
        if (S_ISLNK(info.st_mode)) {
            staging.expected.append(prefix + name);
        } else if (S_ISDIR(info.st_mode)) {
            checkReadable(path, R_OK | X_OK);
            staging.expected.append(prefix + name + '/');
            enumerateTree(path, prefix + name + '/', staging);
        } else if (S_ISREG(info.st_mode)) {
            checkReadable(path, R_OK);
            staging.expected.append(prefix + name);
            staging.bytes += info.st_size;
        }
    }
}

// A name that is not UTF-8 has no composed form and keeps its bytes.
QByteArray composedName(const QByteArray& name) {
    const std::optional<QString> text = decodeUtf8Strict(name);
    return text ? text->normalized(QString::NormalizationForm_C).toUtf8() : name;
}

void stageItem(const QUrl& url, Staging& staging) {
    QByteArray source = LocalPath::bytes(url);
    while (source.size() > 1 && source.endsWith('/'))
        source.chop(1);
    const QByteArray name = source.mid(source.lastIndexOf('/') + 1);
    if (!url.isLocalFile() || !source.startsWith('/') || name.isEmpty() || name == "." || name == "..")
        failItem(url.toString(), ENOENT);
    // stat, not lstat: a dropped link stands for what it points at. A link to nothing would be
    // skipped by zip without complaint, where a copy fails.
    struct stat info {};
    if (::stat(source.constData(), &info) != 0)
        failItem(source, errno);

    // Staged under the composed (NFC) name, so that decomposed umlauts arrive composed.
    const QByteArray composed = composedName(name);
    const QByteArray head = QFile::encodeName(staging.heads) + '/' + composed;
    staging.headNames.append("./" + composed);
    ++staging.entries;
    if (!S_ISDIR(info.st_mode)) {
        checkReadable(source, R_OK);
        if (::symlink(source.constData(), head.constData()) != 0)
            failItem(source, errno);
        staging.expected.append(composed);
        staging.bytes += info.st_size;
        return;
    }

    if (::mkdir(head.constData(), 0700) != 0)
        failItem(source, errno);
    ::chmod(head.constData(), info.st_mode & 07777);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::utimensat(AT_FDCWD, head.constData(), times, 0);
    staging.expected.append(composed + '/');

    // An unreadable folder would otherwise look empty.
    checkReadable(source, R_OK | X_OK);
    const QList<QByteArray> children = childrenOf(source);
    if (children.isEmpty())
        return;
    if (::symlink(source.constData(), (QFile::encodeName(staging.trees) + '/' + composed).constData()) != 0)
        failItem(source, errno);
    for (const QByteArray& child : children)
        staging.treeNames.append("./" + composed + '/' + child);
    enumerateTree(source, composed + '/', staging);
}

// -1 when unknown: packing then goes ahead and zip reports a full disk itself.
qint64 currentAvailableBytes(const QString& folder, const ZipService::Options& options) {
    if (options.availableBytes)
        return options.availableBytes(folder);
    const QStorageInfo storage(folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

QString sizeText(qint64 bytes) {
    return Format::size(bytes);
}

// Room for the archive: the items stored uncompressed at worst, plus the headers of every entry
// and a little slack for zip's own temporary file handling.
void checkSpace(const QString& tempDir, const Staging& staging, const ZipService::Options& options) {
    const qint64 needed = staging.bytes + staging.entries * 256 + (1 << 20);
    const qint64 available = currentAvailableBytes(tempDir, options);
    if (available >= 0 && available < needed)
        throw ZipError::notEnoughSpace(sizeText(needed), sizeText(available));
}

Staging prepare(const QList<QUrl>& from, const QString& tempDir, const QString& archivePath,
                const ZipService::Options& options) {
    // zip would add to an archive already there instead of starting afresh.
    PrivateTempDir::removeTree(archivePath);

    Staging staging;
    staging.run = tempDir + QStringLiteral("/zanvolt-zip-") +
                  QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    staging.heads = staging.run + QStringLiteral("/heads");
    staging.trees = staging.run + QStringLiteral("/trees");
    for (const QString& folder : {staging.run, staging.heads, staging.trees}) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0)
            failPath(QCoreApplication::translate("ZipService", "Ordner „%1“ kann nicht angelegt werden: %2"),
                     folder, errno);
    }
    try {
        for (const QUrl& url : from)
            stageItem(url, staging);
        checkSpace(tempDir, staging, options);
    } catch (...) {
        PrivateTempDir::removeTree(staging.run);
        throw;
    }
    return staging;
}

// Names go to zip through its standard input, one a line, as bytes; zip cuts a line at a carriage
// return or line feed, so a name holding one goes on the command line instead.
QList<QByteArray> prepareZip(QProcess& zip, const QString& folder, QStringList arguments,
                             const QList<QByteArray>& names) {
    QList<QByteArray> lines;
    for (const QByteArray& name : names) {
        if (name.contains('\n') || name.contains('\r'))
            arguments.append(QFile::decodeName(name));
        else
            lines.append(name);
    }
    if (!lines.isEmpty())
        arguments.append(QStringLiteral("-@"));
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
    return lines;
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
QCoro::Task<> runZip(QString folder, QStringList arguments, QList<QByteArray> names,
                     QPointer<CancelToken> cancel) {
    if (cancel && cancel->isCancelled())
        throw CancelledError();
    bool cancelled = false; // declared before the process, which refers to it until destroyed
    QProcess zip;
    const QList<QByteArray> lines = prepareZip(zip, folder, arguments, names);
    const bool namesOnInput = !lines.isEmpty();
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
        QByteArray input;
        for (const QByteArray& line : lines)
            input += line + '\n';
        zip.write(input);
        zip.closeWriteChannel();
    }
    if (zip.state() != QProcess::NotRunning)
        co_await qCoro(&zip, &QProcess::finished);
    if (cancelled)
        throw CancelledError();
    if (zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0)
        throw ZipService::toolFailure(zip.readAllStandardError());
}

// Every enumerated entry must be in the archive: a name zip could not take in would otherwise be
// left out without a word.
void checkComplete(const QList<QByteArray>& expected, const QList<QByteArray>& stored) {
    const QSet<QByteArray> present(stored.begin(), stored.end());
    for (const QByteArray& name : expected) {
        if (!present.contains(name))
            throw ZipError::zipFailed(
                QCoreApplication::translate("ZipService", "„%1“ fehlt im Archiv").arg(shown(name)));
    }
}

} // namespace

QCoro::Task<QUrl> ZipService::createZip(QList<QUrl> from, std::optional<QString> customName,
                                        QPointer<CancelToken> cancel, QString folder, Options options) {
    if (from.isEmpty())
        throw ZipError::noFiles();
    const QString archiveName = customName.value_or(
        QStringLiteral("Zanvolt_") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss")) + QStringLiteral(".zip"));

    // Named tasks and functions: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    std::function<Staging()> staged = [from, archiveName, folder, options] {
        const QString tempDir = folder.isEmpty() ? PrivateTempDir::path() : folder;
        return prepare(from, tempDir, tempDir + u'/' + archiveName, options);
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
    std::function<bool()> patch = [archivePath, expected = staging.expected] {
        checkComplete(expected, ZipService::setUtf8Flag(archivePath));
        return true;
    };
    co_await offMainThread<bool>(std::move(patch));
    done = true;
    co_return QUrl::fromLocalFile(archivePath);
}

namespace {
struct Directory {
    qint64 entries = 0;
    qint64 size = 0;
    qint64 offset = 0;
};

// The central directory as the end record gives it, or the ZIP64 end record when that one is marked as
// too small; nothing when a ZIP64 mark has no ZIP64 record to go with it.
std::optional<Directory> findDirectory(QFile& file, qint64 size) {
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

    Directory directory{readUInt16(tail, end + 10), readUInt32(tail, end + 12), readUInt32(tail, end + 16)};
    if (directory.entries != 0xFFFF && directory.size != 0xFFFFFFFF && directory.offset != 0xFFFFFFFF)
        return directory;
    const qsizetype locator = end - zip64LocatorSize;
    if (locator < 0 || !hasSignature(tail.constData() + locator, zip64LocatorSignature))
        return std::nullopt;
    const qint64 recordOffset = qint64(qFromLittleEndian<quint64>(tail.constData() + locator + 8));
    if (recordOffset < 0 || recordOffset > size - zip64RecordSize)
        return std::nullopt;
    seekTo(file, recordOffset);
    const QByteArray record = readBytes(file, zip64RecordSize);
    if (record.size() < zip64RecordSize || !hasSignature(record.constData(), zip64RecordSignature))
        return std::nullopt;
    return Directory{qint64(qFromLittleEndian<quint64>(record.constData() + 32)),
                     qint64(qFromLittleEndian<quint64>(record.constData() + 40)),
                     qint64(qFromLittleEndian<quint64>(record.constData() + 48))};
}

// A local header's offset beyond 4 GiB is in the entry's ZIP64 extra field, after the sizes that are
// marked as too large for their own fields.
qint64 localOffset(const QByteArray& directory, qsizetype header) {
    const quint32 offset = readUInt32(directory, header + 42);
    if (offset != 0xFFFFFFFF)
        return offset;
    qsizetype extra = header + centralHeaderSize + readUInt16(directory, header + 28);
    const qsizetype extraEnd = extra + readUInt16(directory, header + 30);
    while (extra + 4 <= extraEnd && extraEnd <= directory.size()) {
        const quint16 id = readUInt16(directory, extra);
        const quint16 length = readUInt16(directory, extra + 2);
        if (id == 0x0001) {
            qsizetype field = extra + 4;
            field += readUInt32(directory, header + 24) == 0xFFFFFFFF ? 8 : 0;
            field += readUInt32(directory, header + 20) == 0xFFFFFFFF ? 8 : 0;
            if (field + 8 <= extra + 4 + length && field + 8 <= directory.size())
                return qint64(qFromLittleEndian<quint64>(directory.constData() + field));
            return -1;
        }
        extra += 4 + length;
    }
    return -1;
}
} // namespace

QList<QByteArray> ZipService::setUtf8Flag(QString archivePath) {
    // Unbuffered: the patch reads a few bytes per header, and a buffered QFile would read ahead 16 KiB
    // at every seek. QFile closes the handle on every path and ignores errors while closing.
    QFile file(archivePath);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered))
        failFile(file);

    QList<QByteArray> names;
    const qint64 size = file.size();
    if (size < endRecordSize)
        return names;
    const std::optional<Directory> found = findDirectory(file, size);
    if (!found)
        return names;
    const Directory& where = *found;

    // Checked before reading so that a damaged size cannot make us allocate gigabytes.
    if (where.offset < 0 || where.size < 0 || where.offset > size || where.size > size - where.offset)
        throw ZipError::zipFailed(
            QCoreApplication::translate("ZipService", "Central Directory unvollständig"));
    seekTo(file, where.offset);
    const QByteArray directory = readBytes(file, where.size);
    if (directory.size() < where.size)
        throw ZipError::zipFailed(
            QCoreApplication::translate("ZipService", "Central Directory unvollständig"));

    qsizetype position = 0;
    for (qint64 entry = 0; entry < where.entries; ++entry) {
        if (directory.size() - position < centralHeaderSize ||
            !hasSignature(directory.constData() + position, centralSignature))
            throw ZipError::zipFailed(
                QCoreApplication::translate("ZipService", "Ungültiger Central-Directory-Header"));
        const quint16 nameLength = readUInt16(directory, position + 28);
        const QByteArray name = directory.mid(position + centralHeaderSize, nameLength);
        names.append(name);
        // A name that is not UTF-8 keeps its bytes without the flag: a reader that trusted the flag
        // would refuse the whole archive.
        if (decodeUtf8Strict(name)) {
            patchUtf8Bit(file, where.offset + position + 8);
            const qint64 local = localOffset(directory, position);
            char signature[4];
            if (local >= 0 && local < size) {
                seekTo(file, local);
                if (readInto(file, signature, 4) == 4 && hasSignature(signature, localSignature))
                    patchUtf8Bit(file, local + 6);
            }
        }
        position += centralHeaderSize + nameLength + readUInt16(directory, position + 30) +
                    readUInt16(directory, position + 32);
    }
    return names;
}

ZipError ZipService::toolFailure(QByteArray standardError) {
    // Stateless, so that a sequence cut off at the end counts as an error too.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(standardError);
    return ZipError::zipFailed(decoder.hasError() ? UserText::unknownError() : text);
}
