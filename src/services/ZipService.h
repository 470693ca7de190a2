#pragma once

#include "CancelToken.h"
#include "ZipError.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

namespace ZipService {

// Packs the items (files or folders) into one archive in the private temporary folder, each item at the
// top level under its NFC name, and marks every entry name as UTF-8. Returns the archive's URL (a local
// file); from then on the archive belongs to the caller. Without a custom name the archive is called
// "Zanvolt_<local yyyy-MM-dd_HHmmss>.zip". Already-compressed types (photos, videos, archives, office
// files) are stored, the rest deflated. Links inside folders are stored as links, never followed.
// Fails early with ZipError when the temporary folder's file system has too little room. Cancelling
// ends the zip process at once and throws CancelledError; so does destroying the task. Throws
// ZipError, or PlatformError for file-system and process failures.
QCoro::Task<QUrl> createZip(QList<QUrl> from, std::optional<QString> customName = std::nullopt,
                            QPointer<CancelToken> cancel = nullptr);

// For benchmarks and tests; the app only calls createZip.

// The bytes free for the archive on the file system of `folder`. Replaceable so that tests can stand
// in for a full disk; an empty function restores the real figure.
using AvailableBytes = std::function<qint64(const QString& folder)>;
void setAvailableBytes(AvailableBytes function);

// Sets the UTF-8 name flag (bit 11) in every central-directory header and in the local header each one
// points to, in place. Blocks: call it off the main thread.
void setUtf8Flag(QString archivePath);

// The error for a tool run that ended unsuccessfully with this standard-error output.
ZipError toolFailure(QByteArray standardError);

} // namespace ZipService
