#include "models/UserText.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool UserText::isEnglish() {
    QByteArray locale = qgetenv("LC_ALL");
    if (locale.isEmpty())
        locale = qgetenv("LC_MESSAGES");
    if (locale.isEmpty())
        locale = qgetenv("LANG");
    if (locale.isEmpty() || locale == "C" || locale.startsWith("C.") || locale == "POSIX")
        return false;
    // As gettext: LANGUAGE's list goes first, except under the C locale.
    const QByteArray preferred = qgetenv("LANGUAGE").split(':').value(0);
    return (preferred.isEmpty() ? locale : preferred).startsWith("en");
}

void UserText::installTranslations() {
    static QTranslator own;
    static QTranslator qt;
    // Again after a change of the environment, as a test does; no translator is installed twice.
    QCoreApplication::removeTranslator(&own);
    QCoreApplication::removeTranslator(&qt);
    if (isEnglish()) {
        if (own.load(QStringLiteral(":/i18n/zanvolt_en.qm")))
            QCoreApplication::installTranslator(&own);
        return; // Qt's own texts are English already
    }
    if (qt.load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qt);
}

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

QString UserText::cannotSave(const QString& folder, const QString& reason) {
    return tr("Die Datei kann nicht in „%1“ gespeichert werden: %2").arg(folder, reason);
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

QString UserText::uploadCancelled() {
    return tr("Upload abgebrochen");
}

QString UserText::uploadFailed() {
    return tr("Upload fehlgeschlagen");
}

QString UserText::noServerURL() {
    return tr("Server-URL nicht konfiguriert");
}

QString UserText::noAPIKey() {
    return tr("API-Key nicht konfiguriert");
}

QString UserText::invalidServerURL() {
    return tr("Ungültige Server-URL");
}

QString UserText::noHttpAnswer() {
    return tr("Keine HTTP-Antwort");
}

QString UserText::unreadableData() {
    return tr("Die Daten konnten nicht gelesen werden, weil sie nicht das richtige Format haben.");
}

QString UserText::instanceSilent() {
    return tr("Die laufende Zanvolt-Instanz antwortet nicht.");
}

QString UserText::unknownError() {
    return tr("Unbekannter Fehler");
}

QString UserText::downloadFailed() {
    return tr("Download fehlgeschlagen");
}

QString UserText::downloadDone() {
    return tr("Download abgeschlossen");
}

QString UserText::deleteFailed() {
    return tr("Löschen fehlgeschlagen");
}

QString UserText::updateFailed() {
    return tr("Die Aktualisierung ist fehlgeschlagen.");
}

QString UserText::copyLink() {
    return tr("Link kopieren");
}

QString UserText::deleteFromServer() {
    return tr("Vom Server löschen");
}

QString UserText::fileCount(qsizetype files) {
    return files == 1 ? tr("· 1 Datei") : tr("· %1 Dateien").arg(files);
}

QString UserText::serverDeleteFailed(const QString& reason) {
    return tr("Server-Löschung fehlgeschlagen: %1").arg(reason);
}

QString UserText::unreadableFile(const QString& name, const QString& reason) {
    return tr("„%1“ kann nicht gelesen werden: %2").arg(name, reason);
}

QString UserText::serverError(int status, const QString& message) {
    return tr("Server-Fehler %1: %2").arg(status).arg(message);
}

QString UserText::networkError(const QString& message) {
    return tr("Netzwerk-Fehler: %1").arg(message);
}

QString UserText::invalidAPIKey() {
    return tr("Der API-Schlüssel enthält unzulässige Zeichen.");
}

QString UserText::cancelled() {
    return tr("Abgebrochen");
}

QString UserText::zipFailed(const QString& message) {
    return tr("ZIP-Erstellung fehlgeschlagen: %1").arg(message);
}

QString UserText::noFilesToZip() {
    return tr("Keine Dateien zum Zippen");
}

QString UserText::notEnoughSpaceForZip(const QString& needed, const QString& available) {
    return tr("Nicht genug Speicherplatz für das ZIP-Archiv: %1 benötigt, %2 frei.").arg(needed, available);
}

QString UserText::updateFeedUnreadable(const QString& reason) {
    return tr("Die Update-Informationen konnten nicht geladen werden: %1").arg(reason);
}

QString UserText::updateDownloadFailed(const QString& reason) {
    return tr("Das Update konnte nicht geladen werden: %1. Es wurde nichts installiert.").arg(reason);
}

QString UserText::updateWrongLength() {
    return tr("Das Update hat nicht die angekündigte Größe. Es wurde nichts installiert.");
}

QString UserText::updateMissingSignature() {
    return tr("Das Update ist nicht signiert. Es wurde nichts installiert.");
}

QString UserText::updateBadSignature() {
    return tr("Die Signatur des Updates ist ungültig. Es wurde nichts installiert.");
}

QString UserText::updateInstallFailed(const QString& reason) {
    return tr("Das Update konnte nicht installiert werden: %1").arg(reason);
}
