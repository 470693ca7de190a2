#include "APIService.h"

#include "APIError.h"
#include "APIRequest.h"
#include "Graphemes.h"
#include "HttpError.h"
#include "KeychainService.h"
#include "NetworkWait.h"
#include "PlatformError.h"
#include "SafeFileName.h"
#include "ServerTrust.h"
#include "UserText.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>
#include <QtConcurrent>
#include <filesystem>
#include <system_error>

namespace APIService {

QCoro::Task<KeychainService::Credentials> configuration() {
    struct Read {
        std::optional<KeychainService::Credentials> credentials;
        std::exception_ptr failure;
    };
    // A named future: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    QFuture<Read> reading = QtConcurrent::run([] {
        try {
            return Read{KeychainService::loadCredentials(), {}};
        } catch (...) {
            return Read{std::nullopt, std::current_exception()};
        }
    });
    const Read read = co_await reading;
    if (read.failure)
        std::rethrow_exception(read.failure);
    // The URL first: no settings at all report the URL.
    if (!read.credentials || read.credentials->serverURL.isEmpty())
        throw APIError::noServerURL();
    if (read.credentials->apiKey.isEmpty())
        throw APIError::noAPIKey();
    // Also when an item provisioned with secret-tool holds it.
    if (!read.credentials->hasValidAPIKey())
        throw APIError::invalidAPIKey();
    KeychainService::Credentials credentials = *read.credentials;
    if (credentials.serverURL.endsWith(QLatin1Char('/')))
        credentials.serverURL.chop(1);
    co_return credentials;
}

void forgetCertificate(const QString& serverURL) {
    ServerTrust::forget(serverURL);
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

QCoro::Task<APIResponse> downloadInto(const APIRequest& request, QString folder, QString fileName) {
    // Futures are named: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    QFuture<QString> made = QtConcurrent::run([folder] {
        std::error_code error;
        std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
        return error ? QString::fromLocal8Bit(error.message()) : QString();
    });
    if (const QString problem = co_await made; !problem.isEmpty())
        throw PlatformError(
            QCoreApplication::translate("APIService", "Der Ordner „%1“ konnte nicht erstellt werden: %2")
                .arg(folder, problem));
    // A download cut off by the network waits like an upload, then asks for the rest.
    NetworkWait wait(nullptr);
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
    struct Saved {
        QString path;
        QString error;
    };
    QFuture<Saved> moved = QtConcurrent::run([part = response.filePath, folder, fileName] {
        try {
            return Saved{SafeFileName::moveNoReplace(part, folder, fileName), {}};
        } catch (const AppError& error) {
            QFile::remove(part);
            return Saved{{}, error.message()};
        }
    });
    const Saved saved = co_await moved;
    if (saved.path.isEmpty())
        throw PlatformError(saved.error);
    response.filePath = saved.path;
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
