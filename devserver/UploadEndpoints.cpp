#include "UploadEndpoints.h"

#include "BufferedFileWriter.h"
#include "MultipartStreamParser.h"
#include "OutgoingEndpoints.h"
#include "ServerExchange.h"
#include "ServerNames.h"
#include "ServerStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint64 maxChunks = 10'000'000;

std::optional<qint64> decimal(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 12)
        return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    return text.toLongLong();
}

// In-kernel copy: assembling must stay quick, as the client waits for the answer.
bool appendFile(int target, const QString& sourcePath) {
    const int source = ::open(QFile::encodeName(sourcePath).constData(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return false;
    bool ok = true;
    for (;;) {
        const ssize_t n = ::copy_file_range(source, nullptr, target, nullptr, 1 << 30, 0);
        if (n == 0)
            break;
        if (n < 0 && errno != EINTR) {
            ok = false;
            break;
        }
    }
    ::close(source);
    return ok;
}

// A chunk folder's joined file is named after the number of chunks it holds: "joined-<n>".
struct Joined {
    QString path;
    qint64 chunks = 0;
};

Joined findJoined(const QString& dir) {
    const QStringList found = QDir(dir).entryList({QStringLiteral("joined-*")}, QDir::Files);
    if (found.isEmpty())
        return {};
    return {dir + u'/' + found.first(), found.first().mid(7).toLongLong()};
}

QString chunkPath(const QString& dir, qint64 index) {
    return dir + QStringLiteral("/%1.chunk").arg(index);
}

} // namespace

UploadEndpoints::UploadEndpoints(ServerStore& store, std::function<QString()> publicBaseURL)
    : store_(store), publicBaseURL_(std::move(publicBaseURL)) {}

QString UploadEndpoints::chunkDir(const QString& uploadDir, const QString& fileName) const {
    // Hashed, because the name is the client's and must not shape a path.
    return uploadDir + u'/' +
           QString::fromLatin1(
               QCryptographicHash::hash(fileName.toUtf8(), QCryptographicHash::Sha256).toHex());
}

void UploadEndpoints::createToken(ServerExchange& exchange) {
    const QString token = ServerNames::newToken();
    if (!QDir().mkpath(store_.uploadDir(token))) {
        exchange.error(500, QStringLiteral("Upload-Ordner lässt sich nicht anlegen"));
        return;
    }
    exchange.json(200, QJsonObject{{"token", token}});
}

void UploadEndpoints::uploadChunk(ServerExchange& exchange) {
    const QByteArray boundary = MultipartStreamParser::boundaryOf(exchange.header("Content-Type"));
    if (boundary.isEmpty()) {
        exchange.error(400, QStringLiteral("Erwartet wird multipart/form-data mit boundary"));
        return;
    }
    BufferedFileWriter writer;
    QMap<QByteArray, QByteArray> fields;
    QByteArray* field = nullptr;
    bool inChunk = false;
    bool sawChunk = false;
    bool writeFailed = false;
    MultipartStreamParser parser(
        boundary,
        [&](const MultipartStreamParser::PartHeader& part) {
            if (part.name == "chunk") {
                if (sawChunk)
                    return false;
                sawChunk = inChunk = true;
                writeFailed = !writer.open(store_.scratchFile());
                return !writeFailed;
            }
            inChunk = false;
            field = &fields[part.name];
            field->clear();
            return true;
        },
        [&](const char* data, size_t size) {
            if (inChunk) {
                writeFailed = !writer.write(data, size);
                return !writeFailed;
            }
            if (field->size() + qsizetype(size) > 4096)
                return false;
            field->append(data, qsizetype(size));
            return true;
        },
        [&] {
            if (inChunk) {
                inChunk = false;
                writeFailed = !writer.close();
                return !writeFailed;
            }
            return true;
        });
    const bool received =
        exchange.streamBody([&](const char* data, size_t size) { return parser.feed(data, size); });
    auto reject = [&](int status, const QString& message) {
        writer.discard();
        exchange.error(status, message);
    };
    if (writeFailed)
        return reject(500, QStringLiteral("Teil konnte nicht gespeichert werden"));
    if (!received || !parser.isComplete())
        return reject(400, QStringLiteral("Multipart-Inhalt unvollständig oder fehlerhaft"));
    for (const char* name : {"token", "filename", "chunkIndex", "totalChunks"}) {
        if (!fields.contains(name))
            return reject(400, QStringLiteral("Feld „%1“ fehlt").arg(QLatin1StringView(name)));
    }
    if (!sawChunk)
        return reject(400, QStringLiteral("Dateiteil „chunk“ fehlt"));
    const QString token = QString::fromUtf8(fields["token"]);
    const QString uploadDir = store_.uploadDir(token);
    if (!ServerNames::isSafeId(token) || !QFileInfo(uploadDir).isDir())
        return reject(400, QStringLiteral("Unbekannter Upload-Token"));
    const auto fileName = ServerNames::fileName(fields["filename"]);
    if (!fileName)
        return reject(400, QStringLiteral("Ungültiger Dateiname"));
    const auto index = decimal(fields["chunkIndex"]);
    const auto total = decimal(fields["totalChunks"]);
    if (!index || !total || *total < 1 || *total > maxChunks || *index >= *total)
        return reject(400, QStringLiteral("Ungültige Teilnummer"));
    const QString dir = chunkDir(uploadDir, *fileName);
    const QString target = chunkPath(dir, *index);
    if (!QDir().mkpath(dir) ||
        std::rename(QFile::encodeName(writer.path()).constData(), QFile::encodeName(target).constData()) != 0)
        return reject(500, QStringLiteral("Teil konnte nicht gespeichert werden"));
    {
        const std::lock_guard lock(joinMutex_);
        absorbChunks(dir, *total);
    }
    exchange.json(200, QJsonObject{{"status", "ok"}, {"chunkIndex", *index}});
}

void UploadEndpoints::absorbChunks(const QString& dir, qint64 totalChunks) {
    if (!QFileInfo(dir).isDir())
        return; // claimed by a completion meanwhile
    Joined joined = findJoined(dir);
    if (joined.path.isEmpty()) {
        if (!QFile::rename(chunkPath(dir, 0), dir + QStringLiteral("/joined-1")))
            return;
        joined = {dir + QStringLiteral("/joined-1"), 1};
    }
    if (joined.chunks >= totalChunks || !QFileInfo::exists(chunkPath(dir, joined.chunks)))
        return;
    // Not O_APPEND: copy_file_range refuses such targets; the offset is moved to the end instead.
    const int file = ::open(QFile::encodeName(joined.path).constData(), O_WRONLY | O_CLOEXEC);
    if (file < 0 || ::lseek(file, 0, SEEK_END) < 0) {
        if (file >= 0)
            ::close(file);
        return;
    }
    qint64 chunks = joined.chunks;
    for (; chunks < totalChunks && QFileInfo::exists(chunkPath(dir, chunks)); ++chunks) {
        const off_t before = ::lseek(file, 0, SEEK_CUR);
        if (!appendFile(file, chunkPath(dir, chunks))) {
            // Left as it was, so that the chunk can be joined later.
            [[maybe_unused]] const int ignored = ::ftruncate(file, before);
            break;
        }
        QFile::remove(chunkPath(dir, chunks));
    }
    ::close(file);
    QFile::rename(joined.path, dir + QStringLiteral("/joined-%1").arg(chunks));
}

void UploadEndpoints::complete(ServerExchange& exchange) {
    QByteArray body;
    if (!exchange.readBody(&body)) {
        exchange.error(413, QStringLiteral("Anfrage zu groß"));
        return;
    }
    const QJsonObject request = QJsonDocument::fromJson(body).object();
    const QString token = request["token"].toString();
    const QString uploadDir = store_.uploadDir(token);
    if (!ServerNames::isSafeId(token) || !QFileInfo(uploadDir).isDir()) {
        exchange.error(400, QStringLiteral("Unbekannter Upload-Token"));
        return;
    }
    if (request["direction"].toString() != QStringLiteral("outgoing")) {
        exchange.error(400, QStringLiteral("Ungültige Richtung"));
        return;
    }
    const QJsonValue passwordValue = request["password"];
    if (!passwordValue.isUndefined() && !passwordValue.isNull() && !passwordValue.isString()) {
        exchange.error(400, QStringLiteral("Ungültiges Passwort"));
        return;
    }
    struct Part {
        QString name;
        qint64 chunks;
    };
    QList<Part> parts;
    QSet<QString> names;
    for (const auto& value : request["files"].toArray()) {
        const QJsonObject file = value.toObject();
        const auto name = ServerNames::fileName(file["name"].toString().toUtf8());
        const double chunks = file["totalChunks"].toDouble(-1);
        if (!name || chunks < 1 || chunks > double(maxChunks) || std::floor(chunks) != chunks ||
            names.contains(*name)) {
            exchange.error(400, QStringLiteral("Ungültige Dateiangabe"));
            return;
        }
        names.insert(*name);
        parts.append({*name, qint64(chunks)});
    }
    if (parts.isEmpty()) {
        exchange.error(400, QStringLiteral("Keine Dateien angegeben"));
        return;
    }

    const std::lock_guard lock(joinMutex_);
    // Claimed by a rename, so that a second completion of the same token finds nothing.
    const QString claimed = store_.scratchFile();
    if (!QDir().rename(uploadDir, claimed)) {
        exchange.error(400, QStringLiteral("Unbekannter Upload-Token"));
        return;
    }
    QStringList joinedFiles;
    for (const auto& part : parts) {
        const QString dir = chunkDir(claimed, part.name);
        absorbChunks(dir, part.chunks);
        const Joined joined = findJoined(dir);
        if (joined.chunks != part.chunks) {
            QDir().rename(claimed, uploadDir);
            if (joined.chunks < part.chunks && !QFileInfo::exists(chunkPath(dir, joined.chunks)))
                exchange.error(400,
                               QStringLiteral("Teil %1 von „%2“ fehlt").arg(joined.chunks).arg(part.name));
            else if (joined.chunks > part.chunks)
                exchange.error(400, QStringLiteral("Ungültige Dateiangabe"));
            else
                exchange.error(500, QStringLiteral("Datei konnte nicht zusammengesetzt werden"));
            return;
        }
        joinedFiles << joined.path;
    }

    const QString code = store_.uniqueCode();
    const QString target = store_.transferDir(code);
    QDir().mkpath(target);
    ServerStore::Transfer transfer;
    transfer.code = code;
    transfer.name = request["name"].toString(parts.first().name);
    transfer.createdAt = QDateTime::currentDateTimeUtc();
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString path = target + u'/' + parts[i].name;
        if (!QFile::rename(joinedFiles[i], path)) {
            QDir(target).removeRecursively();
            QDir(claimed).removeRecursively();
            exchange.error(500, QStringLiteral("Datei konnte nicht zusammengesetzt werden"));
            return;
        }
        transfer.files.append(ServerStore::describe(path, parts[i].name));
    }
    QDir(claimed).removeRecursively();

    const QString given = passwordValue.toString();
    if (!given.isEmpty())
        transfer.password = given;
    else if (request["generatePassword"].toBool())
        transfer.password = ServerNames::newPassword();
    store_.addTransfer(transfer);

    QJsonObject answer{{"status", "success"},
                       {"code", code},
                       {"downloadURL", OutgoingEndpoints::downloadURL(publicBaseURL_(), code)},
                       {"files", OutgoingEndpoints::filesJson(transfer.files)},
                       {"hasPassword", !transfer.password.isEmpty()}};
    if (!transfer.password.isEmpty())
        answer.insert("password", transfer.password);
    exchange.json(200, answer);
}

void UploadEndpoints::sink(ServerExchange& exchange) {
    // Kept like a chunk (and removed at the next start), so that both pay the same for the disk.
    const QString dir = store_.dataDir() + QStringLiteral("/sink");
    BufferedFileWriter writer;
    if (!QDir().mkpath(dir) || !writer.open(dir + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces) +
                                            QStringLiteral(".bin"))) {
        exchange.error(500, QStringLiteral("Datei lässt sich nicht anlegen"));
        return;
    }
    const bool received =
        exchange.streamBody([&](const char* data, size_t size) { return writer.write(data, size); });
    if (!writer.close() || !received) {
        writer.discard();
        exchange.error(500, QStringLiteral("Empfang fehlgeschlagen"));
        return;
    }
    exchange.json(200, QJsonObject{});
}
