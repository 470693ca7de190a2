#pragma once

#include <QObject>
#include <QPointer>
#include <chrono>

class UpdaterFlowDelegate;
class UpdaterUserDriver;
class UpdaterUserDriverDelegate;

// What UpdaterManager needs of an update mechanism: an automatic-check flag, a background check, a
// user-initiated check, a can-check flag with change signal, and an install request handed to the
// flow delegate, which may hold it back while the client is busy. Before any dialog of its own shows,
// a backend tells the user-driver delegate.
class UpdaterBackend : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool value) = 0;
    // The client only ever sets false: updates are never downloaded without the user.
    virtual void setAutomaticallyDownloadsUpdates(bool value) = 0;
    virtual std::chrono::milliseconds updateCheckInterval() const = 0;
    virtual void setUpdateCheckInterval(std::chrono::milliseconds interval) = 0;
    // Restarts the backend's own schedule with the current settings.
    virtual void resetUpdateCycle() = 0;
    // Whether a check may start now; changes are announced by canCheckForUpdatesChanged.
    virtual bool canCheckForUpdates() const = 0;
    // Shows something only when a newer version exists.
    virtual void checkForUpdatesInBackground() = 0;
    // Shows progress and every outcome, including "up to date" and errors.
    virtual void checkForUpdates() = 0;

    void setDelegates(UpdaterFlowDelegate* flow, UpdaterUserDriverDelegate* userDriver) {
        m_flowDelegate = flow;
        m_userDriverDelegate = userDriver;
    }
    UpdaterFlowDelegate* flowDelegate() const { return m_flowDelegate; }
    UpdaterUserDriverDelegate* userDriverDelegate() const { return m_userDriverDelegate; }

    // The dialogs; without them a check can neither ask nor report, and so installs nothing.
    void setUserDriver(UpdaterUserDriver* driver);
    UpdaterUserDriver* userDriver() const;

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);

private:
    UpdaterFlowDelegate* m_flowDelegate = nullptr;
    UpdaterUserDriverDelegate* m_userDriverDelegate = nullptr;
    QPointer<QObject> m_userDriver;
};
