#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>

// The whole file, or "<missing>" when it cannot be read, so that a missing file never equals
// the content a test expects.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<missing>");
}

// Writes the bytes, making the folders on the way; a test cannot go on without its file.
inline QUrl writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return QUrl::fromLocalFile(path);
}

// Every entry of the folder, hidden ones included, so that a left-over ".part" file shows.
inline QStringList entriesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Bytes from a fixed seed, so that a block taken from the wrong offset shows.
inline QByteArray randomBytes(qsizetype size, quint32 seed = 1) {
    QByteArray bytes((size + 3) / 4 * 4, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    bytes.truncate(size);
    return bytes;
}
