#pragma once

#include "APIResponse.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// Every exchange with the transfer server. Stateless: each operation reads
// the credentials afresh, so saved settings take effect with the next request.
namespace APIService {

// The stored server URL with one trailing "/" removed; throws APIError::noServerURL.
QString baseURL();
// The stored API key; throws APIError::noAPIKey.
QString apiKey();
// The process's one network session. A certificate the system trusts is
// accepted; company servers often run with self-signed ones, so any other
// certificate is accepted on first contact with a server (scheme, host, port)
// and from then on only with the same public key (CertificatePins).
QNetworkAccessManager& trustedSession();
// True when the reply failed because the server showed an untrusted
// certificate with another key than the one remembered for it.
bool certificateChanged(const QNetworkReply* reply);
// Forgets the key remembered for the server, so that the next connection
// accepts its present certificate: the user's explicit decision to trust it.
void forgetCertificate(const QString& serverURL);

// A file name or code as one URL path segment: UTF-8, percent-encoded except
// for unreserved characters, "/" and "!$&'()*+,;=:@".
QByteArray escapePathSegment(const QString& segment);

// The common check for JSON answers: status 200, then an empty body or one
// whose first byte is "{" or "[". Throws APIError otherwise.
void expectJSONOK(const APIResponse& response);
// The first `characters` user-perceived characters of a UTF-8 body (empty
// when it is not valid UTF-8), for error messages.
QString excerpt(const QByteArray& body, int characters);
// Parses a JSON document; throws PlatformError (a decoding error) when it is not JSON.
QJsonValue parseJSON(const QByteArray& body);

} // namespace APIService
