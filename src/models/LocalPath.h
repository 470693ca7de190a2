#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// File names are bytes on Linux and need not be UTF-8 (a Latin-1 name from an old file server or a
// USB stick). QString, and so QUrl::toLocalFile(), turns such bytes into U+FFFD and can never open
// the file again; a URL keeps them percent-encoded ("%FC"). These helpers carry the bytes through.
namespace LocalPath {

// The path of a local URL as the file system's bytes.
QByteArray bytes(const QUrl& url);

// A local URL that keeps these bytes exactly.
QUrl url(const QByteArray& path);

// The bytes as text: valid UTF-8 as it is, each invalid byte replaced by U+FFFD.
QString text(const QByteArray& bytes);

} // namespace LocalPath
