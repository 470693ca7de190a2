#include "ControlEndpoints.h"

#include "DevServer.h"
#include "ServerExchange.h"

#include <QJsonDocument>

namespace {

QList<DevServer::SeedFile> seedFiles(const QJsonArray& array) {
    QList<DevServer::SeedFile> files;
    for (const auto& value : array) {
        const QJsonObject file = value.toObject();
        files.append({file["name"].toString(),
                      file.contains("contentBase64")
                          ? QByteArray::fromBase64(file["contentBase64"].toString().toLatin1())
                          : file["content"].toString().toUtf8()});
    }
    return files;
}

} // namespace

ControlEndpoints::ControlEndpoints(DevServer& server) : server_(server) {}

void ControlEndpoints::handle(ServerExchange& exchange) {
    const QByteArray action = exchange.segments().value(1);
    if (exchange.method() == QStringLiteral("GET") && action == "requests") {
        QJsonArray list;
        for (const auto& request : server_.requests()) {
            QJsonObject headers;
            for (auto it = request.headers.begin(); it != request.headers.end(); ++it)
                headers.insert(it.key(), it.value());
            list.append(QJsonObject{{"method", request.method},
                                    {"path", request.path},
                                    {"headers", headers},
                                    {"bodySize", request.bodySize},
                                    {"bodyBase64", QString::fromLatin1(request.body.toBase64())},
                                    {"at", request.at.toString(Qt::ISODateWithMs)}});
        }
        return exchange.json(200, list);
    }
    if (exchange.method() == QStringLiteral("GET") && action == "max-in-flight") {
        const QString path = QString::fromUtf8(exchange.query("path"));
        return exchange.json(200, QJsonObject{{"path", path}, {"maxInFlight", server_.maxInFlight(path)}});
    }
    if (exchange.method() == QStringLiteral("DELETE") && action == "requests") {
        server_.clearRequests();
        return exchange.json(200, QJsonObject{});
    }
    if (exchange.method() != QStringLiteral("POST"))
        return exchange.error(404, QStringLiteral("Unbekannte Steuerung"));
    if (action == "outage") {
        bool ok = false;
        const double seconds = exchange.query("seconds").toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 86400)
            return exchange.error(400, QStringLiteral("Ungültige Dauer"));
        exchange.drain();
        server_.outage(int(seconds * 1000), exchange.remotePort());
        return exchange.json(200, QJsonObject{{"seconds", seconds}});
    }

    QByteArray body;
    if (!exchange.readBody(&body, 256 << 20))
        return exchange.error(413, QStringLiteral("Anfrage zu groß"));
    const QJsonObject o = QJsonDocument::fromJson(body).object();
    const QString path = o["path"].toString();
    const int count = o["count"].toInt(1);
    if (action == "fail") {
        server_.failNext(path, count, o["status"].toInt(500), o["body"].toString().toUtf8());
    } else if (action == "delay") {
        server_.delayNext(path, count, o["milliseconds"].toInt());
    } else if (action == "garble") {
        server_.garbleNext(path, count);
    } else if (action == "drop") {
        server_.dropNext(path, count);
    } else if (action == "truncate") {
        server_.truncateNext(path, count, qint64(o["bytes"].toDouble()));
    } else if (action == "record-bodies") {
        server_.setRecordBodies(o["record"].toBool());
    } else if (action == "seed-transfer") {
        const QString code =
            server_.seedTransfer(seedFiles(o["files"].toArray()), o["password"].toString(),
                                 QDateTime::fromString(o["createdAt"].toString(), Qt::ISODateWithMs));
        if (code.isEmpty())
            return exchange.error(400, QStringLiteral("Ungültige Dateien"));
        return exchange.json(200, QJsonObject{{"code", code}});
    } else if (action == "seed-incoming") {
        const QString token = server_.seedIncoming(
            o["customerName"].toString(), seedFiles(o["files"].toArray()), o["auftragsnummer"].toString(),
            o["nachricht"].toString(), o["withCodeAndLink"].toBool(true),
            QDateTime::fromString(o["uploadDate"].toString(), Qt::ISODateWithMs));
        if (token.isEmpty())
            return exchange.error(400, QStringLiteral("Ungültige Dateien"));
        return exchange.json(200, QJsonObject{{"token", token}});
    } else {
        return exchange.error(404, QStringLiteral("Unbekannte Steuerung"));
    }
    exchange.json(200, QJsonObject{});
}
