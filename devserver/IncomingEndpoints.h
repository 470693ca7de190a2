#pragma once

#include "ServerStore.h"

#include <QJsonObject>

#include <functional>

class ServerExchange;

// Customer uploads: the staff's list, file download, "downloaded" mark and delete, and the
// customer's upload form at "/".
class IncomingEndpoints {
public:
    IncomingEndpoints(ServerStore& store, std::function<QString()> publicBaseURL);

    void list(ServerExchange& exchange);
    void file(ServerExchange& exchange, const QString& token, const QByteArray& encodedName);
    void markDownloaded(ServerExchange& exchange, const QString& token);
    void remove(ServerExchange& exchange, const QString& token);
    void form(ServerExchange& exchange);
    void submit(ServerExchange& exchange);

    // Moves already written files (name → path) into a new customer upload; returns its token.
    static QString create(ServerStore& store, ServerStore::Incoming upload,
                          const QList<std::pair<QString, QString>>& files);

private:
    QJsonObject uploadJson(const ServerStore::Incoming& upload) const;

    ServerStore& store_;
    std::function<QString()> publicBaseURL_;
};
