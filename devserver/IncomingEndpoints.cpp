#include "IncomingEndpoints.h"

#include "BufferedFileWriter.h"
#include "MultipartStreamParser.h"
#include "OutgoingEndpoints.h"
#include "ServerExchange.h"
#include "ServerNames.h"
#include "ServerPages.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSet>

IncomingEndpoints::IncomingEndpoints(ServerStore& store, std::function<QString()> publicBaseURL)
    : store_(store), publicBaseURL_(std::move(publicBaseURL)) {}

QJsonObject IncomingEndpoints::uploadJson(const ServerStore::Incoming& upload) const {
    QJsonObject object{{"token", upload.token},
                       {"customerName", upload.customerName},
                       {"files", OutgoingEndpoints::filesJson(upload.files)},
                       {"uploadDate", upload.uploadDate.toUTC().toString(Qt::ISODate)},
                       {"isDownloaded", upload.isDownloaded},
                       {"totalSize", upload.totalSize()},
                       {"totalSizeFormatted", ServerNames::formatSize(upload.totalSize())}};
    if (!upload.code.isEmpty())
        object.insert("code", upload.code);
    if (!upload.auftragsnummer.isEmpty())
        object.insert("auftragsnummer", upload.auftragsnummer);
    if (!upload.nachricht.isEmpty())
        object.insert("nachricht", upload.nachricht);
    if (upload.hasLink)
        object.insert("downloadURL",
                      OutgoingEndpoints::downloadURL(publicBaseURL_(),
                                                     upload.code.isEmpty() ? upload.token : upload.code));
    return object;
}

void IncomingEndpoints::list(ServerExchange& exchange) {
    QJsonArray array;
    for (const auto& upload : store_.incoming())
        array.append(uploadJson(upload));
    exchange.json(200, array);
}

void IncomingEndpoints::file(ServerExchange& exchange, const QString& token, const QByteArray& encodedName) {
    const auto name = ServerNames::fileName(ServerNames::percentDecode(encodedName));
    if (!name)
        return exchange.error(400, QStringLiteral("Ungültiger Dateiname"));
    const auto upload = store_.incomingUpload(token);
    const bool listed =
        upload && std::any_of(upload->files.begin(), upload->files.end(),
                              [&](const ServerStore::StoredFile& f) { return f.name == *name; });
    if (!listed || !exchange.file(store_.incomingDir(token) + u'/' + *name, *name))
        exchange.error(404, QStringLiteral("Datei nicht gefunden"));
}

void IncomingEndpoints::markDownloaded(ServerExchange& exchange, const QString& token) {
    const int status = store_.updateIncoming(token, [](ServerStore::Incoming& upload) {
        upload.isDownloaded = true;
        return 200;
    });
    if (status != 200)
        return exchange.error(404, QStringLiteral("Upload nicht gefunden"));
    exchange.json(200, QJsonObject{{"status", "ok"}});
}

void IncomingEndpoints::remove(ServerExchange& exchange, const QString& token) {
    if (!store_.removeIncoming(token))
        return exchange.error(404, QStringLiteral("Upload nicht gefunden"));
    exchange.json(200, QJsonObject{{"status", "deleted"}, {"token", token}});
}

QString IncomingEndpoints::create(ServerStore& store, ServerStore::Incoming upload,
                                  const QList<std::pair<QString, QString>>& files) {
    upload.token = ServerNames::newToken();
    const QString dir = store.incomingDir(upload.token);
    if (!QDir().mkpath(dir))
        return {};
    for (const auto& [name, path] : files) {
        if (!QFile::rename(path, dir + u'/' + name)) {
            QDir(dir).removeRecursively();
            return {};
        }
        upload.files.append(ServerStore::describe(dir + u'/' + name, name));
    }
    store.addIncoming(upload);
    return upload.token;
}

void IncomingEndpoints::form(ServerExchange& exchange) {
    exchange.html(200, ServerPages::uploadForm());
}

void IncomingEndpoints::submit(ServerExchange& exchange) {
    const QByteArray boundary = MultipartStreamParser::boundaryOf(exchange.header("Content-Type"));
    if (boundary.isEmpty())
        return exchange.html(400,
                             ServerPages::uploadForm(QStringLiteral("Das Formular kam unvollständig an.")));
    QMap<QByteArray, QByteArray> fields;
    QList<std::pair<QByteArray, QString>> written; // raw name, scratch path
    BufferedFileWriter writer;
    QByteArray* field = nullptr;
    bool inFile = false;
    bool writeFailed = false;
    MultipartStreamParser parser(
        boundary,
        [&](const MultipartStreamParser::PartHeader& part) {
            inFile = part.hasFileName;
            if (!inFile) {
                field = &fields[part.name];
                field->clear();
                return true;
            }
            if (written.size() >= 1000)
                return false;
            const QString path = store_.scratchFile();
            written.append({part.fileName, path});
            writeFailed = !writer.open(path);
            return !writeFailed;
        },
        [&](const char* data, size_t size) {
            if (inFile) {
                writeFailed = !writer.write(data, size);
                return !writeFailed;
            }
            if (field->size() + qsizetype(size) > 64 * 1024)
                return false;
            field->append(data, qsizetype(size));
            return true;
        },
        [&] {
            if (inFile)
                writeFailed = !writer.close();
            return !writeFailed;
        });
    const bool received =
        exchange.streamBody([&](const char* data, size_t size) { return parser.feed(data, size); });
    writer.close();
    auto cleanUp = [&] {
        for (const auto& file : written)
            QFile::remove(file.second);
    };
    auto reject = [&](const QString& problem) {
        cleanUp();
        exchange.html(400, ServerPages::uploadForm(problem));
    };
    if (!received || !parser.isComplete() || writeFailed)
        return reject(QStringLiteral("Das Formular kam unvollständig an. Bitte versuchen Sie es erneut."));
    ServerStore::Incoming upload;
    upload.customerName = QString::fromUtf8(fields.value("customerName")).trimmed();
    upload.auftragsnummer = QString::fromUtf8(fields.value("auftragsnummer")).trimmed();
    upload.nachricht = QString::fromUtf8(fields.value("nachricht")).trimmed();
    upload.uploadDate = QDateTime::currentDateTimeUtc();
    upload.code = store_.uniqueCode();
    if (upload.customerName.isEmpty())
        return reject(QStringLiteral("Bitte geben Sie Ihren Namen an."));
    QList<std::pair<QString, QString>> files;
    QSet<QString> names;
    for (const auto& [rawName, path] : written) {
        // A file input left empty still sends a part, with no name and no content.
        if (rawName.isEmpty())
            continue;
        const auto name = ServerNames::fileName(rawName);
        if (!name || names.contains(*name))
            return reject(
                QStringLiteral("Der Dateiname „%1“ ist nicht zulässig.").arg(QString::fromUtf8(rawName)));
        names.insert(*name);
        files.append({*name, path});
    }
    if (files.isEmpty())
        return reject(QStringLiteral("Bitte wählen Sie mindestens eine Datei aus."));
    if (create(store_, upload, files).isEmpty())
        return reject(QStringLiteral("Die Dateien konnten nicht gespeichert werden."));
    cleanUp();
    exchange.html(200, ServerPages::uploadDone(upload.customerName, int(files.size())));
}
