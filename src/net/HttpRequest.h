#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

// One HTTP request as it goes on the wire. The URL is sent exactly as
// encoded: no "//" merged, no dot segment resolved.
struct HttpRequest {
    // A region of a local file that is read while the body is sent, so a
    // large body is never held in memory.
    struct FileRegion {
        QString path;
        qint64 offset = 0;
        qint64 length = 0;
    };

    // The ".part" file of a download cut off earlier, continued with a range request when the
    // server's file still matches `validator` (its ETag or Last-Modified), else written anew.
    struct Resume {
        QString partPath;
        qint64 size = 0;
        QByteArray validator;
    };

    QByteArray method = QByteArrayLiteral("GET");
    QByteArray url;
    QList<std::pair<QByteArray, QByteArray>> headers;
    // The body: `body`, then the file region when there is one, then `bodyTail`.
    QByteArray body;
    std::optional<FileRegion> bodyFile;
    QByteArray bodyTail;
    // When set, a 200 answer's body goes into a new ".part" file in this
    // folder instead of memory.
    QString downloadFolder;
    std::optional<Resume> resume;
    // Bodies kept in memory are refused beyond this size; no answer the app
    // reads is anywhere near it.
    qint64 maxBodySize = 64'000'000;
    // The same for a download's file; negative: no limit.
    qint64 maxFileSize = -1;
    // A certificate the system does not trust is taken on first contact and
    // pinned (company servers); without this it is simply refused.
    bool trustOnFirstUse = true;

    qint64 bodySize() const { return body.size() + (bodyFile ? bodyFile->length : 0) + bodyTail.size(); }
};
