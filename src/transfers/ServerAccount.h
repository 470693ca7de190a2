#pragma once

#include "services/KeychainService.h"
#include "services/OffMainThread.h"
#include "services/ServerConnection.h"

#include <QFuture>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <exception>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class DesktopServices;
class HttpEngine;
class SecretStore;
class Settings;

// The server account and the preferences the settings page edits: the credentials in the secret
// store, the connection test, the copy-link switch and the login item. The secret store is only
// ever called on a worker thread of its own, one call after the other: a locked keyring's unlock
// prompt must not hold the panel, and a save must not overtake an earlier read. What the last call
// found is kept as the account's state for the views. Each user-visible operation reads the store
// once and hands the credentials it found to its requests: nothing else touches the store.
class ServerAccount : public QObject {
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)

public:
    enum class State {
        Unknown,       // the store has not answered yet (its unlock prompt may be open)
        Configured,    // a server URL and an API key are stored
        NotConfigured, // nothing stored, or the URL or the key is empty
        Unavailable    // the store is locked, refused or absent: the stored settings are kept
    };
    Q_ENUM(State)

    // What one read of the store found, for every request of one operation.
    struct Reading {
        State state = State::Unknown;
        QString problem; // as problem()
        std::optional<KeychainService::Credentials> stored;
        std::exception_ptr failure; // the store could not be read
        HttpEngine* http = nullptr;
        // Where requests go: the account's engine and the pair (APIService::usableCredentials);
        // throws the store's failure or why the pair cannot be used.
        ServerConnection server() const;
    };

    struct TestResult {
        bool succeeded = false;
        QString text;
    };

    // Requests go through `http`. Null store: the desktop's Secret Service; null settings: the
    // user's settings file.
    ServerAccount(HttpEngine& http, SecretStore* store, Settings* settings, DesktopServices& desktop,
                  QObject* parent = nullptr);
    ~ServerAccount() override;

    // The company's server, fixed at build time.
    static QString defaultServerURL();

    Settings& settings() const { return *m_settings; }

    State state() const { return m_state; }
    // Why the account cannot be used: "Server-URL nicht konfiguriert", "API-Key nicht konfiguriert"
    // or the store's message; empty while configured or unknown.
    QString problem() const { return m_problem; }
    // Whether the views may treat the server as set up: only a store that answered "nothing" counts
    // as not configured, never one that has not answered or cannot be read.
    bool isConfigured() const { return m_state != State::NotConfigured; }

    // Reads the store afresh and publishes what it found. A call that comes while a read is still
    // unanswered (a locked keyring's prompt is open) shares its answer.
    QCoro::Task<Reading> read();
    // The same, for callers that want only the state.
    QCoro::Task<State> reload();
    // The stored pair, for the settings page; throws KeychainError when the store cannot be read.
    QCoro::Task<std::optional<KeychainService::Credentials>> storedCredentials();
    // Nothing on success, else "Speichern fehlgeschlagen: " and the reason.
    QCoro::Task<std::optional<QString>> save(KeychainService::Credentials credentials);
    // Saves the pair, forgets the server's remembered certificate (testing is the user's decision to
    // trust the server as it is now) and lists the customer uploads with it.
    QCoro::Task<TestResult> test(KeychainService::Credentials credentials);

    bool autoCopyLink() const;
    void setAutoCopyLink(bool value);
    bool launchAtLogin() const;
    // Nothing on success, else "Autostart-Fehler: " and the reason.
    std::optional<QString> setLaunchAtLogin(bool value);

    // Items of an earlier layout that kept the server settings one per item; returns at once.
    void removeLegacyEntries();

Q_SIGNALS:
    void stateChanged();

private:
    static Reading judge(HttpEngine* http, std::optional<KeychainService::Credentials> stored,
                         std::exception_ptr failure);
    // Throws what the save threw.
    QCoro::Task<> write(KeychainService::Credentials credentials);
    void publish(const Reading& reading);

    HttpEngine& m_http;
    // Shared with the calls on the store's worker, which may outlive the account (see below).
    std::shared_ptr<SecretStore> m_store;
    std::unique_ptr<Settings> m_ownSettings;
    Settings* m_settings;
    DesktopServices& m_desktop;
    QFuture<OffMainThreadResult<std::optional<KeychainService::Credentials>>> m_reading;
    State m_state = State::Unknown;
    QString m_problem;
    // Last, so that it goes first. A call still running (a locked keyring's prompt may stay open for
    // ever) is waited for briefly only: quitting must not hang on it.
    QThreadPool* m_storeThread = new QThreadPool;
};
