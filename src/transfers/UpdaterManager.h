#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

class HttpEngine;
class UpdaterBackend;
class Settings;

// The update controller: keeps the automatic-check setting, never lets the backend download on its
// own, checks once a day on a timer of its own, and holds back an install while the client is busy.
// Everything happens on the main thread.
class UpdaterManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool autoUpdateEnabled READ autoUpdateEnabled WRITE setAutoUpdateEnabled NOTIFY
                   autoUpdateEnabledChanged)

public:
    static constexpr std::chrono::seconds checkInterval{86400};

    struct Environment {
        std::unique_ptr<UpdaterBackend> backend; // null: the signed-feed backend with its built-in feed
        Settings* defaults = nullptr;            // null: the user's settings file
        HttpEngine* http = nullptr;              // the signed-feed backend's; null: one of its own
    };

    explicit UpdaterManager(Environment environment, QObject* parent = nullptr);
    ~UpdaterManager() override;

    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    // Why there are no updates from within the app; empty when there are (see UpdaterBackend).
    QString unavailableReason() const;
    bool autoUpdateEnabled() const { return m_autoUpdateEnabled; }
    void setAutoUpdateEnabled(bool value);

    UpdaterBackend& controller() const { return *m_controller; }
    // "Jetzt auf Updates prüfen": shows progress and every outcome.
    void checkForUpdates();

    // Answers whether the client is busy (see ClientSession::isBusy); set once by the application.
    void setIsBusyCheck(std::function<bool()> check) { m_isBusyCheck = std::move(check); }
    bool hasPendingInstall() const { return bool(m_pendingInstall); }
    // Runs a held install on the next turn of the event loop unless the client is busy then or now;
    // a busy client keeps it held for the next attempt.
    void attemptPendingInstall();

Q_SIGNALS:
    void canCheckForUpdatesChanged();
    void autoUpdateEnabledChanged();
    // Before any update dialog shows, so the panel can step aside.
    void updateDialogWillShow();

private:
    void setPendingInstall(std::function<void()> install) { m_pendingInstall = std::move(install); }
    void setCanCheckForUpdates(bool value);
    void startBackgroundPolling();

    std::unique_ptr<Settings> m_ownDefaults;
    Settings* m_defaults = nullptr;
    std::unique_ptr<UpdaterBackend> m_controller;
    QTimer m_pollTimer;
    std::function<bool()> m_isBusyCheck;
    std::function<void()> m_pendingInstall;
    bool m_canCheckForUpdates = true;
    bool m_autoUpdateEnabled = false;
};
