#pragma once

#include <QDateTime>
#include <QString>

// The texts for sizes, speeds, remaining times and dates the panel shows. Numbers are written
// without the C library's locale (the desktop's German locale would turn "1.0 MB" into "1,0 MB")
// and round exact halves to even, as printf does ("%.0f" of 2.5 is "2").
namespace Format {

// "512 B", "2 KB", "1.5 MB", "1.00 GB" (units of 1024).
QString size(qint64 bytes);
// "..." while unknown, then "12 KB/s" or "1.2 MB/s".
QString speed(double bytesPerSecond);
// "berechne..." until 1 % is done, then "ca. 42s", "ca. 12 Min." or "ca. 1h 5 Min.".
QString remaining(double progress, double bytesPerSecond, qint64 totalSize);

// A sent transfer's upload date: "31.12.2024 23:59" (local time); also the build date.
QString dateTime(const QDateTime& when);
// When a sent transfer was downloaded: "31.12.24 - 23:59".
QString downloadedAt(const QDateTime& when);
// A customer upload's date: "31.12. 23:59".
QString dayAndTime(const QDateTime& when);

// Control characters (C0, DEL, C1) and the bidirectional controls that reorder what follows them.
bool isControl(char32_t c);
// Text from the server or a customer as the panel shows it: without control characters but line
// breaks, so that "rechnung\u202Efdp.exe" cannot pass for "rechnungexe.pdf".
QString shown(const QString& text);

} // namespace Format
