#include "ServerAccount.h"

#include "APIService.h"
#include "APIServiceIncoming.h"
#include "DesktopServices.h"
#include "ErrorText.h"
#include "KeychainError.h"
#include "Settings.h"

#ifndef ZANVOLT_DEFAULT_SERVER_URL
#define ZANVOLT_DEFAULT_SERVER_URL ""
#endif

ServerAccount::ServerAccount(SecretStore* store, Settings* settings, DesktopServices* desktop,
                             QObject* parent)
    : QObject(parent), m_store(store), m_settings(settings), m_desktop(desktop) {
    if (!m_settings) {
        m_ownSettings = std::make_unique<Settings>();
        m_settings = m_ownSettings.get();
    }
}

ServerAccount::~ServerAccount() = default;

QString ServerAccount::defaultServerURL() {
    return QStringLiteral(ZANVOLT_DEFAULT_SERVER_URL);
}

SecretStore& ServerAccount::store() const {
    return m_store ? *m_store : KeychainService::defaultStore();
}

bool ServerAccount::isConfigured() const {
    try {
        return KeychainService::hasCredentials(store());
    } catch (const KeychainError&) {
        // Unreadable is not empty: the operation goes ahead and fails with the store's message
        // instead of presenting the stored settings as missing.
        return true;
    }
}

std::optional<KeychainService::Credentials> ServerAccount::credentials() const {
    return KeychainService::loadCredentials(store());
}

std::optional<QString> ServerAccount::save(const KeychainService::Credentials& credentials) {
    try {
        KeychainService::saveCredentials(credentials, store());
    } catch (const std::exception& error) {
        return QStringLiteral("Speichern fehlgeschlagen: ") + describeError(error).text;
    }
    return std::nullopt;
}

QCoro::Task<ServerAccount::TestResult> ServerAccount::test(KeychainService::Credentials credentials) {
    try {
        KeychainService::saveCredentials(credentials, store());
        APIService::forgetCertificate(credentials.serverURL);
        const QList<IncomingUpload> uploads = co_await APIService::fetchIncoming();
        co_return TestResult{true, QStringLiteral("Verbindung erfolgreich! (") +
                                       QString::number(uploads.size()) + QStringLiteral(" Eingänge)")};
    } catch (const std::exception& error) {
        co_return TestResult{false, QStringLiteral("Fehler: ") + describeError(error).text};
    } catch (...) {
        co_return TestResult{false, QStringLiteral("Fehler: ")};
    }
}

bool ServerAccount::autoCopyLink() const {
    return m_settings->autoCopyLink();
}

void ServerAccount::setAutoCopyLink(bool value) {
    m_settings->setAutoCopyLink(value);
}

bool ServerAccount::launchAtLogin() const {
    return m_desktop && m_desktop->isLoginItemEnabled();
}

std::optional<QString> ServerAccount::setLaunchAtLogin(bool value) {
    if (!m_desktop)
        return std::nullopt;
    try {
        if (value)
            m_desktop->registerLoginItem();
        else
            m_desktop->unregisterLoginItem();
    } catch (const std::exception& error) {
        return QStringLiteral("Autostart-Fehler: ") + describeError(error).text;
    }
    return std::nullopt;
}

void ServerAccount::removeLegacyEntries() {
    static const char* const legacyAccounts[] = {"FTP_HOST",     "FTP_USER",  "FTP_PASS",  "FTP_PATH",
                                                 "DOWNLOAD_URL", "SMTP_HOST", "SMTP_PORT", "SMTP_USER",
                                                 "SMTP_PASS",    "MAIL_FROM", "MAIL_TO"};
    for (const char* account : legacyAccounts)
        store().remove(KeychainService::serviceName, QString::fromLatin1(account));
}
