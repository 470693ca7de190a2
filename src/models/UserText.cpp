#include "UserText.h"

QString UserText::transport(Transport what, const QString& where, const QString& detail,
                            const QString& server) {
    QString sentence;
    switch (what) {
    case Transport::ServerUnreachable:
        sentence = tr("Der Server „%1“ ist nicht erreichbar").arg(where);
        break;
    case Transport::ConnectionLost:
        sentence = tr("Die Verbindung zum Server „%1“ ist abgebrochen").arg(where);
        break;
    case Transport::NameUnresolved:
        sentence = tr("Der Servername „%1“ konnte nicht aufgelöst werden").arg(where);
        break;
    case Transport::SecureConnectionFailed:
        sentence = tr("Die sichere Verbindung zum Server „%1“ konnte nicht aufgebaut werden").arg(where);
        break;
    case Transport::NotHttps:
        sentence = tr("Die sichere Verbindung zum Server „%1“ konnte nicht aufgebaut werden: "
                      "Der Server spricht dort kein HTTPS")
                       .arg(where);
        break;
    case Transport::ProxyUnreachable:
        sentence = tr("Der Proxy „%1“ ist nicht erreichbar").arg(where);
        break;
    case Transport::ProxyNameUnresolved:
        sentence = tr("Der Name des Proxys „%1“ konnte nicht aufgelöst werden").arg(where);
        break;
    case Transport::ProxySilent:
        sentence = tr("Der Proxy „%1“ antwortet nicht").arg(where);
        break;
    case Transport::ProxyRefusedTunnel:
        sentence = tr("Der Proxy „%1“ stellt keine Verbindung zum Server „%2“ her").arg(where, server);
        break;
    case Transport::Other:
        sentence = tr("Die Anfrage an den Server „%1“ ist fehlgeschlagen").arg(where);
        break;
    }
    return detail.isEmpty() ? sentence : tr("%1 (%2)").arg(sentence, detail);
}

QString UserText::serverSilent(int seconds) {
    return tr("Der Server antwortet nicht (%1 Sekunden ohne Daten)").arg(seconds);
}

QString UserText::incompleteTransfer(qint64 got, qint64 announced) {
    return tr("Übertragung unvollständig: %1 von %2 Bytes erhalten").arg(got).arg(announced);
}

QString UserText::rangeRefused() {
    return tr("Der Server schickte einen anderen Teil der Datei als erbeten");
}

QString UserText::certificateChanged() {
    return tr("Zertifikat des Servers hat sich geändert");
}

QString UserText::responseTooLarge(qint64 megabytes) {
    return tr("Antwort des Servers zu groß (über %1 MB)").arg(megabytes);
}

QString UserText::diskFull() {
    return tr("Nicht genug Speicherplatz für den Download");
}

QString UserText::fileChangedDuringUpload() {
    return tr("Die Datei wurde während des Uploads verändert");
}

QString UserText::unsafeHeader() {
    return tr("Ein HTTP-Header enthält unzulässige Zeichen.");
}

QString UserText::keychainFailure(const QString& reason) {
    return tr("Keychain-Fehler: %1").arg(reason);
}

QString UserText::keychainUnavailable(const QString& reason) {
    return tr("Der Schlüsselbund ist gesperrt oder nicht erreichbar (Keychain-Fehler: %1). Die gespeicherten "
              "Einstellungen bleiben erhalten.")
        .arg(reason);
}

QString UserText::keychainNotUnlocked() {
    return tr("Der Schlüsselbund wurde nicht entsperrt");
}
