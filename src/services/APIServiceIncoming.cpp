#include "APIServiceIncoming.h"

#include "APIError.h"
#include "APIRequest.h"
#include "APIService.h"
#include "PlatformError.h"
#include "SafeFileName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStringDecoder>
#include <filesystem>
#include <system_error>

namespace {
QByteArray uploadPath(const QString& token) {
    return QByteArrayLiteral("/api/incoming/") + APIService::escapePathSegment(token);
}

// The whole body as text; a body that is not UTF-8 gives the empty text.
QString bodyText(const QByteArray& body) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(body);
    return decoder.hasError() ? QString() : text;
}

void makeFolder(const QString& path) {
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(path).toStdString(), error);
    if (error)
        throw PlatformError(QStringLiteral("Der Ordner „%1“ konnte nicht erstellt werden: %2")
                                .arg(path, QString::fromLocal8Bit(error.message())));
}

// A symlink is removed itself, never followed; a real folder with all it holds.
void removeExisting(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}
} // namespace

namespace APIService {

QString incomingFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) +
           QStringLiteral("/Zanvolt-Eingang");
}

QCoro::Task<QList<IncomingUpload>> fetchIncoming() {
    const APIRequest request = APIRequest::make(QByteArrayLiteral("/api/incoming"));
    const APIResponse response = co_await request.send(QByteArrayLiteral("GET"));
    if (!response.status)
        throw APIError::networkError(QStringLiteral("Keine HTTP-Antwort"));
    if (*response.status != 200)
        throw APIError::httpError(*response.status, bodyText(response.body));

    const QJsonValue document = parseJSON(response.body);
    if (!document.isArray())
        throw PlatformError(QStringLiteral(
            "Die Daten konnten nicht gelesen werden, weil sie nicht das richtige Format haben."));
    QList<IncomingUpload> uploads;
    for (const QJsonValue& element : document.toArray()) {
        if (!element.isObject())
            throw PlatformError(QStringLiteral(
                "Die Daten konnten nicht gelesen werden, weil sie nicht das richtige Format haben."));
        uploads.append(IncomingUpload::fromJson(element.toObject(), IsoDate::Fraction::Optional));
    }
    co_return uploads;
}

QCoro::Task<QString> downloadFile(QString token, QString fileName) {
    const APIRequest request =
        APIRequest::make(uploadPath(token) + QByteArrayLiteral("/files/") + escapePathSegment(fileName));
    const APIResponse response = co_await request.download();
    auto removeTemporary = qScopeGuard([path = response.filePath] { QFile::remove(path); });
    if (!response.isHttp(200))
        throw APIError::networkError(QStringLiteral("Download fehlgeschlagen"));

    const QString inbox = incomingFolder();
    makeFolder(inbox);
    const QString destination = inbox + QLatin1Char('/') + SafeFileName::forFolder(fileName);
    removeExisting(destination);
    // QFile::rename copies and removes by itself when the temporary folder is
    // on another file system.
    QFile temporary(response.filePath);
    if (!temporary.rename(destination))
        throw PlatformError(temporary.errorString());
    removeTemporary.dismiss();
    co_return destination;
}

QCoro::Task<> markAsDownloaded(QString token) {
    const APIRequest request = APIRequest::make(uploadPath(token) + QByteArrayLiteral("/downloaded"));
    const APIResponse response = co_await request.send(QByteArrayLiteral("POST"));
    if (!response.isHttp(200))
        throw APIError::networkError(QStringLiteral("Markierung fehlgeschlagen"));
}

QCoro::Task<> deleteIncoming(QString token) {
    const APIRequest request = APIRequest::make(uploadPath(token));
    const APIResponse response = co_await request.send(QByteArrayLiteral("DELETE"));
    if (!response.isHttp(200) && !response.isHttp(204) && !response.isHttp(404))
        throw APIError::networkError(QStringLiteral("Löschen fehlgeschlagen"));
}

} // namespace APIService
