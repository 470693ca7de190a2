#include "ServerStore.h"

#include "ServerNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUuid>

#include <algorithm>

namespace {

QString dateText(const QDateTime& date) {
    return date.isValid() ? date.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime dateFrom(const QJsonValue& value) {
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

QJsonArray filesToJson(const QList<ServerStore::StoredFile>& files) {
    QJsonArray array;
    for (const auto& file : files) {
        QJsonObject object{{"name", file.name}, {"size", file.size}};
        if (file.zipEntries) {
            QJsonArray entries;
            for (const auto& entry : *file.zipEntries)
                entries.append(QJsonObject{{"name", entry.name}, {"size", entry.size}});
            object.insert("zipEntries", entries);
        }
        array.append(object);
    }
    return array;
}

QList<ServerStore::StoredFile> filesFromJson(const QJsonArray& array) {
    QList<ServerStore::StoredFile> files;
    for (const auto& value : array) {
        const QJsonObject object = value.toObject();
        ServerStore::StoredFile file{object["name"].toString(), object["size"].toInteger(), std::nullopt};
        if (object.contains("zipEntries")) {
            QList<ZipCentralDirectory::Entry> entries;
            for (const auto& value : object["zipEntries"].toArray()) {
                const QJsonObject entry = value.toObject();
                entries.append({entry["name"].toString(), entry["size"].toInteger()});
            }
            file.zipEntries = entries;
        }
        files.append(file);
    }
    return files;
}

qint64 sumOf(const QList<ServerStore::StoredFile>& files) {
    qint64 total = 0;
    for (const auto& file : files)
        total += file.size;
    return total;
}

} // namespace

qint64 ServerStore::Transfer::totalSize() const {
    return sumOf(files);
}

qint64 ServerStore::Incoming::totalSize() const {
    return sumOf(files);
}

ServerStore::ServerStore(const QString& dataDir) : dataDir_(dataDir) {}

QString ServerStore::transferDir(const QString& code) const {
    return dataDir_ + QStringLiteral("/transfers/") + code;
}

QString ServerStore::incomingDir(const QString& token) const {
    return dataDir_ + QStringLiteral("/incoming/") + token;
}

QString ServerStore::uploadDir(const QString& token) const {
    return dataDir_ + QStringLiteral("/uploads/") + token;
}

QString ServerStore::scratchFile() const {
    return dataDir_ + QStringLiteral("/scratch/") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

bool ServerStore::load(QString* error) {
    QDir dir(dataDir_);
    for (const char* sub : {"transfers", "incoming", "uploads", "scratch"}) {
        if (!dir.mkpath(QLatin1StringView(sub))) {
            *error = QStringLiteral("Ordner %1 lässt sich nicht anlegen")
                         .arg(dir.filePath(QLatin1StringView(sub)));
            return false;
        }
    }
    // Bodies of requests cut off by a previous stop are of no use, nor are benchmark bodies.
    QDir(dir.filePath(QStringLiteral("scratch"))).removeRecursively();
    QDir(dir.filePath(QStringLiteral("sink"))).removeRecursively();
    dir.mkpath(QStringLiteral("scratch"));

    std::lock_guard lock(mutex_);
    transfers_.clear();
    incoming_.clear();
    QFile file(dir.filePath(QStringLiteral("index.json")));
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("index.json: %1").arg(parseError.errorString());
        return false;
    }
    for (const auto& value : document["transfers"].toArray()) {
        const QJsonObject o = value.toObject();
        transfers_.append({o["code"].toString(), o["name"].toString(), dateFrom(o["createdAt"]),
                           filesFromJson(o["files"].toArray()), o["password"].toString(),
                           dateFrom(o["downloadedAt"])});
    }
    for (const auto& value : document["incoming"].toArray()) {
        const QJsonObject o = value.toObject();
        incoming_.append({o["token"].toString(), o["code"].toString(), o["customerName"].toString(),
                          o["auftragsnummer"].toString(), o["nachricht"].toString(),
                          filesFromJson(o["files"].toArray()), dateFrom(o["uploadDate"]),
                          o["isDownloaded"].toBool(), o["hasLink"].toBool()});
    }
    return true;
}

bool ServerStore::saveLocked() {
    // Passwords are kept in clear text: the server must be able to show them again.
    QJsonArray transfers;
    for (const auto& t : transfers_) {
        transfers.append(QJsonObject{{"code", t.code},
                                     {"name", t.name},
                                     {"createdAt", dateText(t.createdAt)},
                                     {"files", filesToJson(t.files)},
                                     {"password", t.password},
                                     {"downloadedAt", dateText(t.downloadedAt)}});
    }
    QJsonArray incoming;
    for (const auto& u : incoming_) {
        incoming.append(QJsonObject{{"token", u.token},
                                    {"code", u.code},
                                    {"customerName", u.customerName},
                                    {"auftragsnummer", u.auftragsnummer},
                                    {"nachricht", u.nachricht},
                                    {"files", filesToJson(u.files)},
                                    {"uploadDate", dateText(u.uploadDate)},
                                    {"isDownloaded", u.isDownloaded},
                                    {"hasLink", u.hasLink}});
    }
    QSaveFile file(dataDir_ + QStringLiteral("/index.json"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(QJsonObject{{"transfers", transfers}, {"incoming", incoming}}).toJson());
    return file.commit();
}

ServerStore::StoredFile ServerStore::describe(const QString& path, const QString& name) {
    StoredFile file{name, QFileInfo(path).size(), std::nullopt};
    if (name.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive))
        file.zipEntries = ZipCentralDirectory::read(path);
    return file;
}

QList<ServerStore::Transfer> ServerStore::transfers() const {
    std::lock_guard lock(mutex_);
    QList<Transfer> list = transfers_;
    // Reversed first so that records of the same moment list the later one first.
    std::reverse(list.begin(), list.end());
    std::stable_sort(list.begin(), list.end(),
                     [](const Transfer& a, const Transfer& b) { return a.createdAt > b.createdAt; });
    return list;
}

std::optional<ServerStore::Transfer> ServerStore::transfer(const QString& code) const {
    std::lock_guard lock(mutex_);
    for (const auto& t : transfers_) {
        if (t.code == code)
            return t;
    }
    return std::nullopt;
}

void ServerStore::addTransfer(const Transfer& transfer) {
    std::lock_guard lock(mutex_);
    transfers_.append(transfer);
    saveLocked();
}

bool ServerStore::removeTransfer(const QString& code) {
    std::lock_guard lock(mutex_);
    const auto removed = transfers_.removeIf([&](const Transfer& t) { return t.code == code; });
    if (removed == 0)
        return false;
    saveLocked();
    QDir(transferDir(code)).removeRecursively();
    return true;
}

int ServerStore::updateTransfer(const QString& code, const std::function<int(Transfer&)>& change) {
    std::lock_guard lock(mutex_);
    for (auto& t : transfers_) {
        if (t.code != code)
            continue;
        const int status = change(t);
        if (status == 200)
            saveLocked();
        return status;
    }
    return 404;
}

QList<ServerStore::Incoming> ServerStore::incoming() const {
    std::lock_guard lock(mutex_);
    QList<Incoming> list = incoming_;
    std::reverse(list.begin(), list.end());
    std::stable_sort(list.begin(), list.end(),
                     [](const Incoming& a, const Incoming& b) { return a.uploadDate > b.uploadDate; });
    return list;
}

std::optional<ServerStore::Incoming> ServerStore::incomingUpload(const QString& token) const {
    std::lock_guard lock(mutex_);
    for (const auto& u : incoming_) {
        if (u.token == token)
            return u;
    }
    return std::nullopt;
}

std::optional<ServerStore::Incoming> ServerStore::incomingByLink(const QString& codeOrToken) const {
    std::lock_guard lock(mutex_);
    for (const auto& u : incoming_) {
        if ((!u.code.isEmpty() && u.code == codeOrToken) || (u.code.isEmpty() && u.token == codeOrToken))
            return u;
    }
    return std::nullopt;
}

void ServerStore::addIncoming(const Incoming& upload) {
    std::lock_guard lock(mutex_);
    incoming_.append(upload);
    saveLocked();
}

bool ServerStore::removeIncoming(const QString& token) {
    std::lock_guard lock(mutex_);
    const auto removed = incoming_.removeIf([&](const Incoming& u) { return u.token == token; });
    if (removed == 0)
        return false;
    saveLocked();
    QDir(incomingDir(token)).removeRecursively();
    return true;
}

int ServerStore::updateIncoming(const QString& token, const std::function<int(Incoming&)>& change) {
    std::lock_guard lock(mutex_);
    for (auto& u : incoming_) {
        if (u.token != token)
            continue;
        const int status = change(u);
        if (status == 200)
            saveLocked();
        return status;
    }
    return 404;
}

QString ServerStore::uniqueCode() const {
    std::lock_guard lock(mutex_);
    for (;;) {
        const QString code = ServerNames::newCode();
        const bool taken = std::any_of(transfers_.begin(), transfers_.end(),
                                       [&](const Transfer& t) { return t.code == code; }) ||
                           std::any_of(incoming_.begin(), incoming_.end(),
                                       [&](const Incoming& u) { return u.code == code; }) ||
                           QFileInfo::exists(transferDir(code));
        if (!taken)
            return code;
    }
}
