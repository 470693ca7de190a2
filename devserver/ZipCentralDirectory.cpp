#include "ZipCentralDirectory.h"

#include <QFile>

namespace {

constexpr quint32 endOfDirectorySignature = 0x06054b50;
constexpr quint32 zip64LocatorSignature = 0x07064b50;
constexpr quint32 zip64EndSignature = 0x06064b50;
constexpr quint32 entrySignature = 0x02014b50;
constexpr qint64 maxDirectorySize = 64 << 20;

quint64 little(const char* p, int bytes) {
    quint64 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | quint8(p[i]);
    return value;
}

} // namespace

std::optional<QList<ZipCentralDirectory::Entry>> ZipCentralDirectory::read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 fileSize = file.size();
    // The end record is 22 bytes plus a comment of at most 65535.
    const qint64 tailSize = qMin<qint64>(fileSize, 22 + 65535);
    if (tailSize < 22 || !file.seek(fileSize - tailSize))
        return std::nullopt;
    const QByteArray tail = file.read(tailSize);
    if (tail.size() != tailSize)
        return std::nullopt;
    qsizetype end = -1;
    for (qsizetype i = tail.size() - 22; i >= 0; --i) {
        if (little(tail.constData() + i, 4) == endOfDirectorySignature) {
            end = i;
            break;
        }
    }
    if (end < 0)
        return std::nullopt;
    const char* record = tail.constData() + end;
    quint64 count = little(record + 10, 2);
    quint64 directorySize = little(record + 12, 4);
    quint64 directoryOffset = little(record + 16, 4);
    const qint64 endOffset = fileSize - tailSize + end;
    if (count == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
        if (endOffset < 20 || !file.seek(endOffset - 20))
            return std::nullopt;
        const QByteArray locator = file.read(20);
        if (locator.size() != 20 || little(locator.constData(), 4) != zip64LocatorSignature)
            return std::nullopt;
        if (!file.seek(qint64(little(locator.constData() + 8, 8))))
            return std::nullopt;
        const QByteArray zip64 = file.read(56);
        if (zip64.size() != 56 || little(zip64.constData(), 4) != zip64EndSignature)
            return std::nullopt;
        count = little(zip64.constData() + 32, 8);
        directorySize = little(zip64.constData() + 40, 8);
        directoryOffset = little(zip64.constData() + 48, 8);
    }
    if (directorySize > quint64(maxDirectorySize) || directoryOffset + directorySize > quint64(fileSize) ||
        !file.seek(qint64(directoryOffset)))
        return std::nullopt;
    const QByteArray directory = file.read(qint64(directorySize));
    if (quint64(directory.size()) != directorySize)
        return std::nullopt;

    QList<Entry> entries;
    qsizetype pos = 0;
    for (quint64 n = 0; n < count; ++n) {
        if (pos + 46 > directory.size())
            return std::nullopt;
        const char* header = directory.constData() + pos;
        if (little(header, 4) != entrySignature)
            return std::nullopt;
        quint64 size = little(header + 24, 4);
        const qsizetype nameLength = qsizetype(little(header + 28, 2));
        const qsizetype extraLength = qsizetype(little(header + 30, 2));
        const qsizetype commentLength = qsizetype(little(header + 32, 2));
        if (pos + 46 + nameLength + extraLength + commentLength > directory.size())
            return std::nullopt;
        const QString name = QString::fromUtf8(header + 46, nameLength);
        if (size == 0xFFFFFFFF) {
            // The Zip64 extra field holds the real size first, as it is the first field saturated.
            const char* extra = header + 46 + nameLength;
            for (qsizetype e = 0; e + 4 <= extraLength;) {
                const quint64 id = little(extra + e, 2);
                const qsizetype length = qsizetype(little(extra + e + 2, 2));
                if (id == 0x0001 && length >= 8 && e + 4 + 8 <= extraLength) {
                    size = little(extra + e + 4, 8);
                    break;
                }
                e += 4 + length;
            }
        }
        if (!name.endsWith(u'/'))
            entries.append({name, qint64(size)});
        pos += 46 + nameLength + extraLength + commentLength;
    }
    return entries;
}
