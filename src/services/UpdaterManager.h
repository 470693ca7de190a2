#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

class UpdaterBackend;
class UpdaterFlowDelegate;
class UpdaterUserDriverDelegate;
class UserDefaults;

// The update controller: keeps the automatic-check setting, never lets the backend download on its
// own, checks once a day on a timer of its own, and holds back an install while the client is busy.
// Everything happens on the main thread.
class UpdaterManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool autoUpdateEnabled READ autoUpdateEnabled WRITE setAutoUpdateEnabled NOTIFY
                   autoUpdateEnabledChanged)

public:
    // The name the rest of the client knows the dialog announcement by.
    static constexpr const char* updateDialogWillShowName = "ZanvoltUpdateDialogWillShow";
    static constexpr std::chrono::seconds updateCheckInterval{86400};

    struct Environment {
        std::unique_ptr<UpdaterBackend> backend; // null: the signed-feed backend with its built-in feed
        UserDefaults* defaults = nullptr;        // null: the user's settings file
    };

    // The one instance of the process, created on first use.
    static UpdaterManager& shared();

    explicit UpdaterManager(Environment environment, QObject* parent = nullptr);
    ~UpdaterManager() override;

    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    bool autoUpdateEnabled() const { return m_autoUpdateEnabled; }
    void setAutoUpdateEnabled(bool value);

    // The backend; the settings' "Jetzt auf Updates prüfen" calls controller().checkForUpdates().
    UpdaterBackend& controller() const { return *m_controller; }

    // Answers whether an upload or a ZIP creation runs; set once by the application.
    void setIsBusyCheck(std::function<bool()> check) { m_isBusyCheck = std::move(check); }
    bool hasPendingInstall() const { return bool(m_pendingInstall); }
    // Runs a held install on the next turn of the event loop unless the client is busy.
    void attemptPendingInstall();

    // Whether a top-level window belongs to an update and is brought forward: visible, with a
    // non-empty title, and either one of the backend's own dialogs or titled with "update" or
    // "aktualisierung" in any letter case.
    static bool shouldRaiseWindow(bool visible, const QString& title, bool isBackendDialog);

Q_SIGNALS:
    void canCheckForUpdatesChanged();
    void autoUpdateEnabledChanged();
    // Before any update dialog shows ("ZanvoltUpdateDialogWillShow").
    void updateDialogWillShow();

private:
    friend class UpdaterFlowDelegate;
    void setPendingInstall(std::function<void()> install) { m_pendingInstall = std::move(install); }
    void setCanCheckForUpdates(bool value);
    void startBackgroundPolling();

    std::unique_ptr<UserDefaults> m_ownDefaults;
    UserDefaults* m_defaults = nullptr;
    std::unique_ptr<UpdaterUserDriverDelegate> m_userDriverDelegate;
    std::unique_ptr<UpdaterFlowDelegate> m_flowDelegate;
    std::unique_ptr<UpdaterBackend> m_controller; // after the delegates: it dies before them
    QTimer m_pollTimer;
    std::function<bool()> m_isBusyCheck;
    std::function<void()> m_pendingInstall;
    bool m_canCheckForUpdates = true;
    bool m_autoUpdateEnabled = false;
};
