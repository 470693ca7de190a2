#include "ZipService.h"

#include "PlatformError.h"
#include "PrivateTempDir.h"

#include <QCoroFuture>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QUuid>
#include <QtConcurrent>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <exception>
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

// Each item is linked, not copied, into the staging folder: zip follows the links (files and folders
// alike, also while recursing), so the archive holds the same entries without the disk traffic of a
// copy. The link is renamed to the NFC name just as a copy would be.
void stageItem(const QUrl& url, const QString& staging) {
    const QString localPath = url.toLocalFile();
    const QString source = QFileInfo(QDir::cleanPath(localPath)).absoluteFilePath();
    const QString name = QFileInfo(source).fileName();
    if (localPath.isEmpty() || name.isEmpty())
        failPath(QStringLiteral("„%1“ kann nicht gepackt werden: %2"), url.toString(), ENOENT);
    // A link to nothing would be skipped by zip without complaint, where a copy fails.
    const QByteArray nativeSource = QFile::encodeName(source);
    struct stat info {};
    if (::stat(nativeSource.constData(), &info) != 0)
        failPath(QStringLiteral("„%1“ kann nicht gepackt werden: %2"), source, errno);

    const QString staged = staging + u'/' + name;
    if (::symlink(nativeSource.constData(), QFile::encodeName(staged).constData()) != 0)
        failPath(QStringLiteral("„%1“ kann nicht gepackt werden: %2"), source, errno);
    const QString composed = name.normalized(QString::NormalizationForm_C);
    if (composed != name)
        ::rename(QFile::encodeName(staged).constData(),
                 QFile::encodeName(staging + u'/' + composed).constData());
}

// The staging folder holds nothing but the links made above, so unlinking its entries never reaches
// into the user's files.
void removeStaging(const QString& staging) {
    const QStringList entries =
        QDir(staging).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries)
        ::unlink(QFile::encodeName(staging + u'/' + entry).constData());
    ::rmdir(QFile::encodeName(staging).constData());
}

void runZip(const QString& staging, const QString& archivePath) {
    QProcess zip;
    zip.setProgram(QStringLiteral("/usr/bin/zip"));
    zip.setArguments(
        {QStringLiteral("-r"), QStringLiteral("-X"), QStringLiteral("-q"), archivePath, QStringLiteral(".")});
    zip.setWorkingDirectory(staging);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
    zip.setProcessEnvironment(environment);
    zip.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    zip.start();
    if (!zip.waitForStarted(-1))
        throw PlatformError(zip.errorString());
    zip.waitForFinished(-1);
    if (zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0)
        throw ZipService::toolFailure(zip.readAllStandardError());
}

QString packBlocking(const QList<QUrl>& from, const QString& archiveName) {
    const QString tempDir = PrivateTempDir::path();
    const QString archivePath = tempDir + u'/' + archiveName;
    // zip would add to an archive already there instead of starting afresh.
    const QFileInfo existing(archivePath);
    if (existing.isDir() && !existing.isSymLink())
        QDir(archivePath).removeRecursively();
    else
        QFile::remove(archivePath);

    const QString staging = tempDir + QStringLiteral("/velmar-zip-") +
                            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (::mkdir(QFile::encodeName(staging).constData(), 0700) != 0)
        failPath(QStringLiteral("Ordner „%1“ kann nicht angelegt werden: %2"), staging, errno);
    const auto cleanup = qScopeGuard([&] { removeStaging(staging); });

    for (const QUrl& url : from)
        stageItem(url, staging);
    runZip(staging, archivePath);
    ZipService::setUtf8Flag(archivePath);
    return archivePath;
}

// QtConcurrent passes on only QException types, so the error travels back as an exception_ptr.
struct PackResult {
    QString archivePath;
    std::exception_ptr error;
};

} // namespace

QCoro::Task<QUrl> ZipService::createZip(QList<QUrl> from, std::optional<QString> customName) {
    if (from.isEmpty())
        throw ZipError::noFiles();
    const QString archiveName = customName.value_or(
        QStringLiteral("Zanvolt_") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss")) + QStringLiteral(".zip"));

    // A named future: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    QFuture<PackResult> packing = QtConcurrent::run([from, archiveName]() -> PackResult {
        try {
            return {packBlocking(from, archiveName), nullptr};
        } catch (...) {
            return {{}, std::current_exception()};
        }
    });
    const PackResult result = co_await packing;
    if (result.error)
        std::rethrow_exception(result.error);
    co_return QUrl::fromLocalFile(result.archivePath);
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
