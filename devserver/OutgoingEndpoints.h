#pragma once

#include "ServerStore.h"

#include <QJsonArray>
#include <QJsonObject>

#include <functional>

class ServerExchange;

// Sent transfers: the list, password, rename and delete, and the public download under /d/.
class OutgoingEndpoints {
public:
    OutgoingEndpoints(ServerStore& store, std::function<QString()> publicBaseURL);

    void list(ServerExchange& exchange);
    void password(ServerExchange& exchange, const QString& code);
    void rename(ServerExchange& exchange, const QString& code);
    void remove(ServerExchange& exchange, const QString& code);
    // /d/<code>/file/<name>: always with the API key, otherwise with the password when there is one.
    void publicFile(ServerExchange& exchange, const QString& code, const QByteArray& encodedName,
                    bool authorised);
    void publicPage(ServerExchange& exchange, const QString& code);

    static QString downloadURL(const QString& base, const QString& code);
    static QJsonArray filesJson(const QList<ServerStore::StoredFile>& files);

private:
    QJsonObject transferJson(const ServerStore::Transfer& transfer) const;
    void answerPassword(ServerExchange& exchange, const QString& code);

    ServerStore& store_;
    std::function<QString()> publicBaseURL_;
};
