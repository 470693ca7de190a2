#pragma once

#include <QCoreApplication>
#include <QString>

// Every sentence the user reads about a failure or an event, each written once here and translated
// through Qt (German is the source language). Callers pass what happened and its arguments.
class UserText {
    Q_DECLARE_TR_FUNCTIONS(UserText)

public:
    // Whether the user reads English: the messages locale (LC_ALL, LC_MESSAGES, LANG, the first
    // one set) or, unless that is C, the first of LANGUAGE's list starts with "en". German
    // otherwise, C included.
    static bool isEnglish();
    // The client's catalogue and Qt's own texts in the user's language, after the application
    // object exists; a later call follows a changed environment.
    static void installTranslations();

    // Why a request brought no answer, as the transport found it.
    enum class Transport {
        ServerUnreachable,      // nothing accepted the connection
        ConnectionLost,         // the connection broke off before the answer was complete
        NameUnresolved,         // the server's name has no address
        SecureConnectionFailed, // the TLS handshake failed
        NotHttps,               // the server answered, but not in TLS
        ProxyUnreachable,
        ProxyNameUnresolved,
        ProxySilent,        // the proxy took the connection but never answered it
        ProxyRefusedTunnel, // the proxy answered the tunnel request with an error status
        Other,
    };
    // `where` names the server (host and port), or the proxy for the proxy's failures; `server`
    // is the server behind a refusing proxy; `detail` is the transport's own words, shown after.
    static QString transport(Transport what, const QString& where, const QString& detail,
                             const QString& server = {});
    static QString serverSilent(int seconds);
    static QString incompleteTransfer(qint64 got, qint64 announced);
    static QString rangeRefused();
    static QString certificateChanged();
    static QString responseTooLarge(qint64 megabytes);
    static QString diskFull();
    // A download could not be written into `folder`; `reason` is the system's.
    static QString cannotSave(const QString& folder, const QString& reason);
    static QString fileChangedDuringUpload();
    static QString unsafeHeader();

    // Texts more than one layer shows.
    static QString uploadCancelled();
    static QString uploadFailed();
    static QString noServerURL();
    static QString noAPIKey();
    static QString invalidServerURL();
    static QString noHttpAnswer();
    static QString unreadableData();
    static QString instanceSilent();
    static QString unknownError();
    static QString downloadFailed();
    static QString downloadDone();
    static QString deleteFailed();
    static QString updateFailed();
    static QString copyLink();
    static QString deleteFromServer();
    // "· 1 Datei", "· 3 Dateien"
    static QString fileCount(qsizetype files);
    // "%1: %2", e.g. "Server-Löschung fehlgeschlagen: " and the reason.
    static QString serverDeleteFailed(const QString& reason);
    static QString unreadableFile(const QString& name, const QString& reason);

    // The client's error kinds; `message` is the server's or the tool's own text.
    static QString serverError(int status, const QString& message);
    static QString networkError(const QString& message);
    static QString invalidAPIKey();
    static QString cancelled();
    static QString zipFailed(const QString& message);
    static QString noFilesToZip();
    static QString notEnoughSpaceForZip(const QString& needed, const QString& available);
    static QString updateFeedUnreadable(const QString& reason);
    static QString updateDownloadFailed(const QString& reason);
    static QString updateWrongLength();
    static QString updateMissingSignature();
    static QString updateBadSignature();
    static QString updateInstallFailed(const QString& reason);

    // `reason`: the secret store's own words, or its status number.
    static QString keychainFailure(const QString& reason);
    static QString keychainUnavailable(const QString& reason);
    static QString keychainNotUnlocked();
};
