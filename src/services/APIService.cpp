#include "services/APIService.h"

#include "models/APIError.h"
#include "models/Graphemes.h"
#include "models/PlatformError.h"
#include "models/UserText.h"
#include "net/HttpError.h"
#include "net/NetworkWait.h"
#include "services/APIRequest.h"
#include "services/KeychainService.h"
#include "services/OffMainThread.h"
#include "services/SafeFileName.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>
#include <filesystem>
#include <system_error>

namespace APIService {

KeychainService::Credentials usableCredentials(const std::optional<KeychainService::Credentials>& stored) {
    // The URL first: no settings at all report the URL.
    if (!stored || stored->serverURL.isEmpty())
        throw APIError::noServerURL();
    if (stored->apiKey.isEmpty())
        throw APIError::noAPIKey();
    // Also when an item provisioned with secret-tool holds it.
    if (!stored->hasValidAPIKey())
        throw APIError::invalidAPIKey();
    KeychainService::Credentials credentials = *stored;
    if (credentials.serverURL.endsWith(QLatin1Char('/')))
        credentials.serverURL.chop(1);
    return credentials;
}

QByteArray escapePathSegment(const QString& segment) {
    // "." and ".." would name the folder above on any server that resolves dot segments.
    if (segment == QLatin1String("."))
        return QByteArrayLiteral("%2E");
    if (segment == QLatin1String(".."))
        return QByteArrayLiteral("%2E%2E");
    return QUrl::toPercentEncoding(segment, QByteArrayLiteral("!$&'()*+,;=:@"));
}

QString excerpt(const QByteArray& body, int characters) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(body);
    if (decoder.hasError())
        return {};
    return Graphemes::left(text, characters);
}

void expectJSONOK(const APIResponse& response) {
    if (!response.status)
        throw APIError::networkError(UserText::noHttpAnswer());
    if (*response.status != 200)
        throw APIError::httpError(*response.status, excerpt(response.body, 500));
    if (response.body.isEmpty() || response.body.front() == '{' || response.body.front() == '[')
        return;
    throw APIError::networkError(
        QCoreApplication::translate("APIService", "Unerwartete Antwort (kein JSON): ") +
        excerpt(response.body, 200));
}

QJsonValue parseJSON(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        throw PlatformError(
            QCoreApplication::translate("APIService",
                                        "Die Daten konnten nicht gelesen werden, weil sie kein gültiges JSON "
                                        "sind (%1).")
                .arg(error.errorString()));
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

bool forEachListedObject(const QByteArray& body, const std::function<void(const QJsonObject&)>& take) {
    const char* text = body.constData();
    const qsizetype size = body.size();
    qsizetype at = 0;
    const auto skipSpace = [&] {
        while (at < size && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t'))
            ++at;
    };
    const auto endsHere = [&] {
        ++at;
        skipSpace();
        return at == size;
    };
    skipSpace();
    if (at == size || text[at] != '[')
        return false;
    ++at;
    skipSpace();
    if (at < size && text[at] == ']')
        return endsHere();
    for (;;) {
        skipSpace();
        if (at == size || text[at] != '{')
            return false;
        // The element's end: its brackets balanced, outside strings.
        const qsizetype start = at;
        int depth = 0;
        bool inString = false;
        for (; at < size; ++at) {
            const char c = text[at];
            if (inString) {
                if (c == '\\')
                    ++at;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if ((c == '}' || c == ']') && --depth == 0) {
                ++at;
                break;
            }
        }
        if (depth != 0)
            return false;
        QJsonParseError error{};
        const QJsonDocument element =
            QJsonDocument::fromJson(QByteArray::fromRawData(text + start, at - start), &error);
        if (error.error != QJsonParseError::NoError || !element.isObject())
            return false;
        take(element.object());
        skipSpace();
        if (at < size && text[at] == ']')
            return endsHere();
        if (at == size || text[at] != ',')
            return false;
        ++at;
    }
}

QCoro::Task<APIResponse> downloadInto(const APIRequest& request, QString folder, QString fileName) {
    std::function<QString()> make = [folder] {
        std::error_code error;
        std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
        return error ? QString::fromLocal8Bit(error.message()) : QString();
    };
    if (const QString problem = co_await offMainThread(std::move(make)); !problem.isEmpty())
        throw PlatformError(
            QCoreApplication::translate("APIService", "Der Ordner „%1“ konnte nicht erstellt werden: %2")
                .arg(folder, problem));
    // A download cut off by the network waits like an upload, then asks for the rest.
    NetworkWait wait(request.http(), nullptr);
    std::optional<HttpRequest::Resume> resume;
    APIResponse response;
    for (;;) {
        std::optional<HttpError> failure;
        try {
            response = co_await request.download(folder, nullptr, resume);
            break;
        } catch (const HttpError& error) {
            if (resume && !error.partial)
                QFile::remove(resume->partPath);
            if (!error.isNetworkFailure())
                throw;
            failure = error;
        }
        resume = failure->partial;
        try {
            co_await wait.waitAfter(*failure);
        } catch (...) {
            if (resume)
                QFile::remove(resume->partPath);
            throw;
        }
    }
    if (response.filePath.isEmpty())
        co_return response;
    std::function<QString()> move = [part = response.filePath, folder, fileName] {
        try {
            return SafeFileName::moveNoReplace(part, folder, fileName);
        } catch (const AppError&) {
            QFile::remove(part);
            throw;
        }
    };
    QString saved;
    try {
        saved = co_await offMainThread(std::move(move));
    } catch (const AppError& error) {
        throw PlatformError(error.message());
    }
    if (saved.isEmpty())
        throw PlatformError(QString());
    response.filePath = saved;
    co_return response;
}

void removeUnfinishedDownloads(const QString& folder) {
    // The transfer thread names them .zanvolt\XXXXXX.part, a name no saved download can have.
    static const QRegularExpression partName(QStringLiteral("^\\.zanvolt\\\\[A-Za-z0-9]{6}\\.part$"));
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries)
        if (partName.match(entry.fileName()).hasMatch())
            QFile::remove(entry.filePath());
}

} // namespace APIService
