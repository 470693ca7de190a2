#pragma once

#include "KeychainService.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class DesktopServices;
class SecretStore;
class Settings;

// The server account and the preferences the settings page edits: the credentials in the secret
// store, the connection test, the copy-link switch and the login item. Each call reads the stored
// values afresh; failures come back as the text the page shows.
class ServerAccount : public QObject {
    Q_OBJECT

public:
    struct TestResult {
        bool succeeded = false;
        QString text;
    };

    // Null store: the process's secret store; null settings: the user's settings file; null
    // desktop: no login item.
    ServerAccount(SecretStore* store, Settings* settings, DesktopServices* desktop,
                  QObject* parent = nullptr);
    ~ServerAccount() override;

    // The company's server, fixed at build time.
    static QString defaultServerURL();

    SecretStore& store() const;
    Settings& settings() const { return *m_settings; }
    DesktopServices* desktop() const { return m_desktop; }

    // Whether a server URL and an API key are stored; true while the store cannot be read.
    bool isConfigured() const;
    // Throws KeychainError when the store cannot be read.
    std::optional<KeychainService::Credentials> credentials() const;
    // Nothing on success, else "Speichern fehlgeschlagen: " and the reason.
    std::optional<QString> save(const KeychainService::Credentials& credentials);
    // Saves the pair, forgets the server's remembered certificate (testing is the user's decision to
    // trust the server as it is now) and lists the customer uploads with it.
    QCoro::Task<TestResult> test(KeychainService::Credentials credentials);

    bool autoCopyLink() const;
    void setAutoCopyLink(bool value);
    bool launchAtLogin() const;
    // Nothing on success, else "Autostart-Fehler: " and the reason.
    std::optional<QString> setLaunchAtLogin(bool value);

    // Items of an earlier layout that kept the server settings one per item.
    void removeLegacyEntries();

private:
    SecretStore* m_store;
    std::unique_ptr<Settings> m_ownSettings;
    Settings* m_settings;
    DesktopServices* m_desktop;
};
