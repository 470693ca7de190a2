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

// The bytes free for the archive on the file system of `folder`.
using AvailableBytes = std::function<qint64(const QString& folder)>;

struct Options {
    // Empty: the file system's own figure. Tests stand in for a full disk with it.
    AvailableBytes availableBytes;
};

// Packs the items (files or folders) into one archive, each item at the top level under its NFC name,
// and marks every entry name that is UTF-8 as such; a name that is not keeps its bytes, unmarked. The
// archive goes into `folder` (a run's StagingFolder; empty: the private temporary folder). Returns the
// archive's URL (a local file); from then on the archive belongs to the caller. Without a custom name
// the archive is called "Zanvolt_<local yyyy-MM-dd_HHmmss>.zip". Already-compressed types (photos,
// videos, archives, office files) are stored, the rest deflated. Links inside folders are stored as
// links, never followed. Every file, folder and link below a dropped folder is in the archive, or
// packing fails naming the first one missing. Fails early with ZipError when the folder's file system
// has too little room. Cancelling ends the zip process at once and throws CancelledError; so does
// destroying the task. Throws ZipError, or PlatformError for file-system and process failures.
QCoro::Task<QUrl> createZip(QList<QUrl> from, std::optional<QString> customName = std::nullopt,
                            QPointer<CancelToken> cancel = nullptr, QString folder = {},
                            Options options = {});

// For benchmarks and tests; the app only calls createZip.

// Sets the UTF-8 name flag (bit 11) in every central-directory header whose name is valid UTF-8 and in
// the local header it points to, in place. Returns every entry's name. Blocks: call it off the main
// thread.
QList<QByteArray> setUtf8Flag(QString archivePath);

// The error for a tool run that ended unsuccessfully with this standard-error output.
ZipError toolFailure(QByteArray standardError);

} // namespace ZipService
