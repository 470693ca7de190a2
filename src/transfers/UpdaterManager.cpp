#include "transfers/UpdaterManager.h"

#include "platform/Settings.h"
#include "services/FeedUpdaterBackend.h"
#include "services/UpdaterBackend.h"
#include "transfers/SetIfChanged.h"

#include <QCoreApplication>
#include <QPointer>

UpdaterManager::UpdaterManager(Environment environment, QObject* parent) : QObject(parent) {
    if (environment.defaults) {
        m_defaults = environment.defaults;
    } else {
        m_ownDefaults = std::make_unique<Settings>();
        m_defaults = m_ownDefaults.get();
    }

    if (environment.backend) {
        m_controller = std::move(environment.backend);
    } else {
        FeedUpdaterBackend::Options options;
        options.defaults = m_defaults;
        options.http = environment.http;
        m_controller = std::make_unique<FeedUpdaterBackend>(std::move(options));
    }
    connect(m_controller.get(), &UpdaterBackend::dialogWillShow, this, &UpdaterManager::updateDialogWillShow);

    using Key = Settings::UpdaterKey;
    if (!m_defaults->contains(Key::enableAutomaticChecks))
        m_defaults->setUpdaterFlag(Key::enableAutomaticChecks, true);
    m_defaults->setUpdaterFlag(Key::automaticallyUpdate, false);

    m_autoUpdateEnabled = m_controller->checksAutomatically();
    m_controller->setInstallHandler([self = QPointer<UpdaterManager>(this)](std::function<void()> install) {
        if (!self)
            return false;
        self->setPendingInstall(std::move(install));
        self->attemptPendingInstall();
        return true;
    });

    m_controller->setChecksAutomatically(m_autoUpdateEnabled);
    m_controller->setDownloadsAutomatically(false);
    m_controller->setCheckInterval(checkInterval);
    m_controller->restartSchedule();

    // Read at once, so the settings' button is never briefly enabled without a feed; later changes
    // may come from any thread and are delivered on this one.
    m_canCheckForUpdates = m_controller->canCheckForUpdates();
    connect(m_controller.get(), &UpdaterBackend::canCheckForUpdatesChanged, this,
            &UpdaterManager::setCanCheckForUpdates, Qt::QueuedConnection);

    m_pollTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] {
        if (m_controller->checksAutomatically() && m_controller->canCheckForUpdates())
            m_controller->checkForUpdatesInBackground();
    });
    QMetaObject::invokeMethod(this, &UpdaterManager::startBackgroundPolling, Qt::QueuedConnection);
}

UpdaterManager::~UpdaterManager() = default;

void UpdaterManager::setAutoUpdateEnabled(bool value) {
    m_controller->setChecksAutomatically(value);
    m_defaults->setUpdaterFlag(Settings::UpdaterKey::enableAutomaticChecks, value);
    if (m_autoUpdateEnabled == value)
        return;
    m_autoUpdateEnabled = value;
    Q_EMIT autoUpdateEnabledChanged();
}

void UpdaterManager::setCanCheckForUpdates(bool value) {
    setIfChanged(this, m_canCheckForUpdates, value, &UpdaterManager::canCheckForUpdatesChanged);
}

// One QTimer, restarted: a second start replaces the schedule instead of adding one.
void UpdaterManager::startBackgroundPolling() {
    m_pollTimer.stop();
    m_pollTimer.setInterval(m_controller->checkInterval());
    m_pollTimer.start();
}

QString UpdaterManager::unavailableReason() const {
    return m_controller->unavailableReason();
}

void UpdaterManager::checkForUpdates() {
    m_controller->checkForUpdates();
}

void UpdaterManager::attemptPendingInstall() {
    if (!m_pendingInstall)
        return;
    if (m_isBusyCheck && m_isBusyCheck())
        return;
    auto install = std::exchange(m_pendingInstall, nullptr);
    // Queued on the application object, not on this one: the install quits the client, and it must
    // run even if the manager is gone by then. Asked again when it would run: the signal that
    // brought it here may come just before the next queued upload starts, and an install then would
    // cut that upload off.
    QPointer<UpdaterManager> self(this);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, install = std::move(install)]() mutable {
            if (self && self->m_isBusyCheck && self->m_isBusyCheck()) {
                if (!self->m_pendingInstall)
                    self->m_pendingInstall = std::move(install); // held until the client is idle
                return;
            }
            install();
        },
        Qt::QueuedConnection);
}
