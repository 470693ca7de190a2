#pragma once

#include "TransferServer.h"

#include <QStringList>

// "METHOD path" of every request the server saw whose path starts with the prefix, in order.
inline QStringList requestLines(const TransferServer& server, const QString& prefix = {}) {
    QStringList lines;
    for (const auto& request : server.requests())
        if (request.path.startsWith(prefix))
            lines << request.method + u' ' + request.path;
    return lines;
}

inline QList<TransferServer::RecordedRequest> requestsTo(const TransferServer& server, const QString& path) {
    QList<TransferServer::RecordedRequest> found;
    for (const auto& request : server.requests())
        if (request.path == path)
            found << request;
    return found;
}
