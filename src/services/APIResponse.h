#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// What came back for one request. A transport failure is thrown instead, so a
// response always exists; `status` is absent only when the answer was not HTTP.
struct APIResponse {
    std::optional<int> status;
    QByteArray body;  // empty for downloads, which go to `filePath`
    QString filePath; // downloads only: where the body was streamed to

    bool isHttp(int code) const { return status && *status == code; }
};
