#include "APIService.h"

#include "APIError.h"
#include "KeychainService.h"
#include "PlatformError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStringDecoder>
#include <QTextBoundaryFinder>
#include <QUrl>

namespace APIService {

QString baseURL() {
    const auto credentials = KeychainService::loadCredentials();
    if (!credentials || credentials->serverURL.isEmpty())
        throw APIError::noServerURL();
    QString url = credentials->serverURL;
    if (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

QString apiKey() {
    const auto credentials = KeychainService::loadCredentials();
    if (!credentials || credentials->apiKey.isEmpty())
        throw APIError::noAPIKey();
    return credentials->apiKey;
}

QNetworkAccessManager& trustedSession() {
    static QNetworkAccessManager* session = [] {
        auto* manager = new QNetworkAccessManager();
        QObject::connect(manager, &QNetworkAccessManager::sslErrors, manager,
                         [](QNetworkReply* reply, const QList<QSslError>&) { reply->ignoreSslErrors(); });
        return manager;
    }();
    return *session;
}

QByteArray escapePathSegment(const QString& segment) {
    return QUrl::toPercentEncoding(segment, QByteArrayLiteral("/!$&'()*+,;=:@"));
}

QString excerpt(const QByteArray& body, int characters) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(body);
    if (decoder.hasError())
        return {};
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    int counted = 0;
    while (counted < characters && graphemes.toNextBoundary() != -1)
        ++counted;
    return counted < characters ? text : text.left(graphemes.position());
}

void expectJSONOK(const APIResponse& response) {
    if (!response.status)
        throw APIError::networkError(QStringLiteral("Keine HTTP-Antwort"));
    if (*response.status != 200)
        throw APIError::httpError(*response.status, excerpt(response.body, 500));
    if (response.body.isEmpty() || response.body.front() == '{' || response.body.front() == '[')
        return;
    throw APIError::networkError(QStringLiteral("Unerwartete Antwort (kein JSON): ") +
                                 excerpt(response.body, 200));
}

QJsonValue parseJSON(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        throw PlatformError(
            QStringLiteral("Die Daten konnten nicht gelesen werden, weil sie kein gültiges JSON "
                           "sind (%1).")
                .arg(error.errorString()));
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

} // namespace APIService
