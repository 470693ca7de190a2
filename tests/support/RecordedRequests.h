#pragma once

#include "DevServer.h"

#include <QStringList>

// "METHOD path" of every request the server saw whose path starts with the prefix, in order.
inline QStringList requestLines(const DevServer& server, const QString& prefix = {}) {
    QStringList lines;
    for (const auto& request : server.requests())
        if (request.path.startsWith(prefix))
            lines << request.method + u' ' + request.path;
    return lines;
}

inline QList<DevServer::RecordedRequest> requestsTo(const DevServer& server, const QString& path) {
    QList<DevServer::RecordedRequest> found;
    for (const auto& request : server.requests())
        if (request.path == path)
            found << request;
    return found;
}
