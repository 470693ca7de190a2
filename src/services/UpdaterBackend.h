#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>

class UpdaterUserDriver;

// What UpdaterManager needs of an update mechanism: an automatic-check flag, a background check, a
// user-initiated check, a can-check flag with change signal, and an install request handed to the
// controller, which may hold it back while the client is busy. Before any dialog of its own shows,
// a backend says so (dialogWillShow).
class UpdaterBackend : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool checksAutomatically() const = 0;
    virtual void setChecksAutomatically(bool value) = 0;
    // The client only ever sets false: updates are never downloaded without the user.
    virtual void setDownloadsAutomatically(bool value) = 0;
    virtual std::chrono::milliseconds checkInterval() const = 0;
    virtual void setCheckInterval(std::chrono::milliseconds interval) = 0;
    // Restarts the backend's own schedule with the current settings.
    virtual void restartSchedule() = 0;
    // Whether a check may start now; changes are announced by canCheckForUpdatesChanged.
    virtual bool canCheckForUpdates() const = 0;
    // Why updates never come from within the app (no update source; the package manager owns the
    // program), as a short line for the settings; empty when they can.
    virtual QString unavailableReason() const { return {}; }
    // Shows something only when a newer version exists.
    virtual void checkForUpdatesInBackground() = 0;
    // Shows progress and every outcome, including "up to date" and errors.
    virtual void checkForUpdates() = 0;

    // Set by the update controller: takes an install that is ready and answers whether it will run
    // it (it holds the install back while the client is busy).
    void setInstallHandler(std::function<bool(std::function<void()>)> handler) {
        m_installHandler = std::move(handler);
    }
    // Called when an update is ready. `immediateInstall` replaces the program, starts the new one and
    // quits. False, keeping nothing, without a controller; the backend then installs when the client
    // quits by itself.
    bool requestInstall(std::function<void()> immediateInstall) {
        return m_installHandler && m_installHandler(std::move(immediateInstall));
    }

    // The dialogs; without them a check can neither ask nor report, and so installs nothing.
    void setUserDriver(UpdaterUserDriver* driver);
    UpdaterUserDriver* userDriver() const;

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
    // Right before each of the backend's dialogs shows: a found update, its progress, any alert.
    void dialogWillShow();

private:
    std::function<bool(std::function<void()>)> m_installHandler;
    QPointer<QObject> m_userDriver;
};
