#pragma once

#include "ZipError.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

namespace ZipService {

// Packs the items (files or folders) into one archive in the private temporary folder, each item at the
// top level under its NFC name, and marks every entry name as UTF-8. Returns the archive's URL (a local
// file); from then on the archive belongs to the caller. Without a custom name the archive is called
// "Zanvolt_<local yyyy-MM-dd_HHmmss>.zip". Throws ZipError, or PlatformError for file-system and process
// failures.
QCoro::Task<QUrl> createZip(QList<QUrl> from, std::optional<QString> customName = std::nullopt);

// For benchmarks and tests; the app only calls createZip.

// Sets the UTF-8 name flag (bit 11) in every central-directory header and in the local header each one
// points to, in place. Blocks: call it off the main thread.
void setUtf8Flag(QString archivePath);

// The error for a tool run that ended unsuccessfully with this standard-error output.
ZipError toolFailure(QByteArray standardError);

} // namespace ZipService
