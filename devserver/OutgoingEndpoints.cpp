#include "OutgoingEndpoints.h"

#include "ServerExchange.h"
#include "ServerNames.h"
#include "ServerPages.h"

#include <QFile>
#include <QJsonDocument>

namespace {

QByteArray givenPassword(const ServerExchange& exchange) {
    const QByteArray header = exchange.header("X-Transfer-Password");
    return header.isEmpty() ? exchange.query("password") : header;
}

} // namespace

OutgoingEndpoints::OutgoingEndpoints(ServerStore& store, std::function<QString()> publicBaseURL)
    : store_(store), publicBaseURL_(std::move(publicBaseURL)) {}

QString OutgoingEndpoints::downloadURL(const QString& base, const QString& code) {
    return base + QStringLiteral("/d/") + code;
}

QJsonArray OutgoingEndpoints::filesJson(const QList<ServerStore::StoredFile>& files) {
    QJsonArray array;
    for (const auto& file : files)
        array.append(QJsonObject{
            {"name", file.name}, {"size", file.size}, {"sizeFormatted", ServerNames::formatSize(file.size)}});
    return array;
}

QJsonObject OutgoingEndpoints::transferJson(const ServerStore::Transfer& transfer) const {
    QJsonObject object{{"code", transfer.code},
                       {"files", filesJson(transfer.files)},
                       {"downloadURL", downloadURL(publicBaseURL_(), transfer.code)},
                       {"createdAt", transfer.createdAt.toUTC().toString(Qt::ISODateWithMs)},
                       {"isDownloaded", transfer.downloadedAt.isValid()},
                       {"totalSize", transfer.totalSize()},
                       {"totalSizeFormatted", ServerNames::formatSize(transfer.totalSize())},
                       {"hasPassword", !transfer.password.isEmpty()}};
    if (transfer.downloadedAt.isValid())
        object.insert("downloadedAt", transfer.downloadedAt.toUTC().toString(Qt::ISODateWithMs));
    QJsonObject zipEntries;
    for (const auto& file : transfer.files) {
        if (!file.zipEntries)
            continue;
        QJsonArray entries;
        for (const auto& entry : *file.zipEntries)
            entries.append(QJsonObject{{"name", entry.name}, {"size", entry.size}});
        zipEntries.insert(file.name, entries);
    }
    if (!zipEntries.isEmpty())
        object.insert("zipEntries", zipEntries);
    return object;
}

void OutgoingEndpoints::list(ServerExchange& exchange) {
    QJsonArray array;
    for (const auto& transfer : store_.transfers())
        array.append(transferJson(transfer));
    exchange.json(200, array);
}

void OutgoingEndpoints::answerPassword(ServerExchange& exchange, const QString& code) {
    const auto transfer = store_.transfer(code);
    if (!transfer) {
        exchange.error(404, QStringLiteral("Transfer nicht gefunden"));
        return;
    }
    QJsonObject answer{{"code", code}, {"hasPassword", !transfer->password.isEmpty()}};
    if (!transfer->password.isEmpty())
        answer.insert("password", transfer->password);
    exchange.json(200, answer);
}

void OutgoingEndpoints::password(ServerExchange& exchange, const QString& code) {
    if (exchange.method() == QStringLiteral("GET"))
        return answerPassword(exchange, code);
    QByteArray body;
    if (!exchange.readBody(&body))
        return exchange.error(413, QStringLiteral("Anfrage zu groß"));
    const QJsonObject request = QJsonDocument::fromJson(body).object();
    std::optional<QString> next;
    if (request["generate"] == QJsonValue(true)) {
        next = ServerNames::newPassword();
    } else if (request.contains("password") && request["password"].isNull()) {
        next = QString();
    } else if (request["password"].isString()) {
        next = request["password"].toString();
    }
    if (!next)
        return exchange.error(400, QStringLiteral("Erwartet: generate, oder password als Text oder null"));
    const int status = store_.updateTransfer(code, [&](ServerStore::Transfer& transfer) {
        transfer.password = *next;
        return 200;
    });
    if (status != 200)
        return exchange.error(404, QStringLiteral("Transfer nicht gefunden"));
    answerPassword(exchange, code);
}

void OutgoingEndpoints::rename(ServerExchange& exchange, const QString& code) {
    QByteArray body;
    if (!exchange.readBody(&body))
        return exchange.error(413, QStringLiteral("Anfrage zu groß"));
    const QJsonObject request = QJsonDocument::fromJson(body).object();
    if (!request["oldName"].isString() || !request["newName"].isString())
        return exchange.error(400, QStringLiteral("Erwartet: oldName und newName"));
    const QString oldName = request["oldName"].toString();
    const auto newName = ServerNames::fileName(request["newName"].toString().toUtf8());
    if (!newName)
        return exchange.error(400, QStringLiteral("Ungültiger Dateiname"));
    bool knownCode = false;
    const int status = store_.updateTransfer(code, [&](ServerStore::Transfer& transfer) {
        knownCode = true;
        const auto named = [&](const QString& name) {
            return std::find_if(transfer.files.begin(), transfer.files.end(),
                                [&](const ServerStore::StoredFile& f) { return f.name == name; });
        };
        const auto file = named(oldName);
        if (file == transfer.files.end())
            return 404;
        if (*newName == oldName)
            return 200;
        if (named(*newName) != transfer.files.end())
            return 409;
        const QString dir = store_.transferDir(code) + u'/';
        if (!QFile::rename(dir + oldName, dir + *newName))
            return 500;
        *file = ServerStore::describe(dir + *newName, *newName);
        return 200;
    });
    switch (status) {
    case 200:
        return exchange.json(200,
                             QJsonObject{{"status", "renamed"}, {"oldName", oldName}, {"newName", *newName}});
    case 404:
        return exchange.error(404, knownCode ? QStringLiteral("Datei nicht gefunden")
                                             : QStringLiteral("Transfer nicht gefunden"));
    case 409:
        return exchange.error(409, QStringLiteral("Dateiname bereits vergeben"));
    default:
        return exchange.error(500, QStringLiteral("Umbenennen fehlgeschlagen"));
    }
}

void OutgoingEndpoints::remove(ServerExchange& exchange, const QString& code) {
    if (!store_.removeTransfer(code))
        return exchange.error(404, QStringLiteral("Transfer nicht gefunden"));
    exchange.json(200, QJsonObject{{"status", "deleted"}, {"code", code}});
}

void OutgoingEndpoints::publicFile(ServerExchange& exchange, const QString& code,
                                   const QByteArray& encodedName, bool authorised) {
    const auto name = ServerNames::fileName(ServerNames::percentDecode(encodedName));
    if (!name)
        return exchange.text(400, QStringLiteral("Ungültiger Dateiname"));
    if (const auto transfer = store_.transfer(code)) {
        if (!authorised && !transfer->password.isEmpty() &&
            givenPassword(exchange) != transfer->password.toUtf8())
            return exchange.text(403, QStringLiteral("Passwort erforderlich oder falsch"));
        const bool listed = std::any_of(transfer->files.begin(), transfer->files.end(),
                                        [&](const ServerStore::StoredFile& f) { return f.name == *name; });
        if (!listed || !exchange.file(store_.transferDir(code) + u'/' + *name, *name))
            return exchange.text(404, QStringLiteral("Datei nicht gefunden"));
        store_.updateTransfer(code, [](ServerStore::Transfer& t) {
            if (t.downloadedAt.isValid())
                return 0;
            t.downloadedAt = QDateTime::currentDateTimeUtc();
            return 200;
        });
        return;
    }
    if (const auto upload = store_.incomingByLink(code)) {
        const bool listed = std::any_of(upload->files.begin(), upload->files.end(),
                                        [&](const ServerStore::StoredFile& f) { return f.name == *name; });
        if (listed && exchange.file(store_.incomingDir(upload->token) + u'/' + *name, *name))
            return;
    }
    exchange.text(404, QStringLiteral("Datei nicht gefunden"));
}

void OutgoingEndpoints::publicPage(ServerExchange& exchange, const QString& code) {
    const QString fileBase = QStringLiteral("/d/") +
                             QString::fromLatin1(ServerNames::percentEncodeSegment(code)) +
                             QStringLiteral("/file/");
    QList<ServerPages::Link> links;
    if (const auto transfer = store_.transfer(code)) {
        QString suffix;
        if (!transfer->password.isEmpty()) {
            const QByteArray given = givenPassword(exchange);
            if (given != transfer->password.toUtf8())
                return exchange.html(given.isEmpty() ? 200 : 403,
                                     ServerPages::passwordPage(code, !given.isEmpty()));
            suffix = QStringLiteral("?password=") + QString::fromLatin1(given.toPercentEncoding());
        }
        for (const auto& file : transfer->files)
            links.append(
                {file.name, file.size,
                 fileBase + QString::fromLatin1(ServerNames::percentEncodeSegment(file.name)) + suffix});
        return exchange.html(200, ServerPages::downloadPage(QStringLiteral("Ihr Download"), links));
    }
    if (const auto upload = store_.incomingByLink(code)) {
        for (const auto& file : upload->files)
            links.append({file.name, file.size,
                          fileBase + QString::fromLatin1(ServerNames::percentEncodeSegment(file.name))});
        return exchange.html(
            200, ServerPages::downloadPage(QStringLiteral("Upload von %1").arg(upload->customerName), links));
    }
    exchange.html(404,
                  ServerPages::message(QStringLiteral("Nicht gefunden"),
                                       QStringLiteral("Diesen Download gibt es nicht oder nicht mehr.")));
}
