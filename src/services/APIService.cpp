#include "APIService.h"

#include "APIError.h"
#include "CertificatePins.h"
#include "Graphemes.h"
#include "KeychainService.h"
#include "PlatformError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QStringDecoder>
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

namespace {
const char* const certificateChangedProperty = "zanvoltCertificateChanged";

// Reached only when the system's trust store refused the chain or the name.
// Not ignoring the errors aborts the handshake, so nothing of the request
// (the API key included) is sent to a server with an unknown key.
void trustOnFirstUse(QNetworkReply* reply, const QList<QSslError>& errors) {
    QSslCertificate leaf = reply->sslConfiguration().peerCertificate();
    if (leaf.isNull() && !errors.isEmpty())
        leaf = errors.first().certificate();
    const QByteArray hash = CertificatePins::publicKeyHash(leaf);
    const QString origin = CertificatePins::origin(reply->url());
    if (hash.isEmpty() || origin.isEmpty())
        return;
    CertificatePins pins;
    const QByteArray known = pins.pinned(origin);
    // Only these errors, which name this certificate, are ignored: Qt keeps the
    // list for the connection's later handshakes, where ignoring everything
    // would let another certificate in without asking again.
    if (known.isEmpty()) {
        // A pin that cannot be written is no reason to refuse the first contact.
        pins.pin(origin, hash);
        reply->ignoreSslErrors(errors);
    } else if (known == hash) {
        reply->ignoreSslErrors(errors);
    } else {
        reply->setProperty(certificateChangedProperty, true);
    }
}
} // namespace

QNetworkAccessManager& trustedSession() {
    static QNetworkAccessManager* session = [] {
        auto* manager = new QNetworkAccessManager();
        QObject::connect(manager, &QNetworkAccessManager::sslErrors, manager, &trustOnFirstUse);
        return manager;
    }();
    return *session;
}

bool certificateChanged(const QNetworkReply* reply) {
    return reply->property(certificateChangedProperty).toBool();
}

void forgetCertificate(const QString& serverURL) {
    const QString origin = CertificatePins::origin(QUrl(serverURL, QUrl::StrictMode));
    if (!origin.isEmpty())
        CertificatePins().forget(origin);
}

QByteArray escapePathSegment(const QString& segment) {
    return QUrl::toPercentEncoding(segment, QByteArrayLiteral("/!$&'()*+,;=:@"));
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
