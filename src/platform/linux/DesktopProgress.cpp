#include "DesktopProgress.h"

#include "UserText.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <algorithm>
#include <cmath>

namespace {
const QString jobViewService = QStringLiteral("org.kde.JobViewServer");
const QString jobViewServerPath = QStringLiteral("/JobViewServer");
const QString jobViewServerInterface = QStringLiteral("org.kde.JobViewServerV2");
const QString jobViewInterface = QStringLiteral("org.kde.JobViewV3");
const QString launcherPath = QStringLiteral("/com/zanvolt/Zanvolt/LauncherEntry");
const QString launcherInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");
const QString applicationURI = QStringLiteral("application://com.zanvolt.Zanvolt.desktop");
const QString desktopEntry = QStringLiteral("com.zanvolt.Zanvolt");
constexpr int killable = 0x1;
constexpr uint errorNone = 0;
constexpr uint errorKilled = 1; // the tracker shows the job as ended early, with the text
} // namespace

DesktopProgress::DesktopProgress(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {}

DesktopProgress::~DesktopProgress() {
    if (m_running)
        end(UserText::uploadCancelled());
}

bool DesktopProgress::offers(const QString& service) const {
    const QDBusConnectionInterface* daemon = m_bus.isConnected() ? m_bus.interface() : nullptr;
    return daemon && daemon->isServiceRegistered(service).value();
}

void DesktopProgress::begin(const QString& title, std::function<void()> cancel) {
    if (m_running)
        end({});
    m_running = true;
    m_cancel = std::move(cancel);
    m_percent = -1;
    m_speed = 0;
    m_suspended = false;
    m_view.reset();
    m_endedWith.reset();
    const int generation = ++m_generation;
    // Docks that draw launcher progress announce no service of their own; the desktops that do
    // (Unity's heirs, Plasma) are recognised by theirs.
    m_useLauncher =
        offers(QStringLiteral("com.canonical.Unity")) || offers(QStringLiteral("org.kde.plasmashell"));
    m_useJobView = offers(jobViewService);
    if (m_useLauncher)
        sendLauncherEntry(0, true);
    if (!m_useJobView)
        return;

    QDBusMessage request = QDBusMessage::createMethodCall(
        jobViewService, jobViewServerPath, jobViewServerInterface, QStringLiteral("requestView"));
    request << desktopEntry << killable << QVariantMap{{QStringLiteral("title"), title}};
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(request), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError())
            return;
        if (generation != m_generation) {
            // The job it was asked for has ended already.
            m_bus.asyncCall(QDBusMessage::createMethodCall(jobViewService, reply.value().path(),
                                                           jobViewInterface, QStringLiteral("terminate"))
                            << errorNone << QString() << QVariantMap());
            return;
        }
        viewReady(reply.value());
    });
}

void DesktopProgress::viewReady(const QDBusObjectPath& path) {
    m_view = path;
    m_bus.connect(jobViewService, path.path(), jobViewInterface, QStringLiteral("cancelRequested"), this,
                  SLOT(onCancelRequested()));
    if (m_endedWith) {
        sendTerminate();
        return;
    }
    if (m_percent >= 0 || m_suspended)
        sendUpdate();
}

void DesktopProgress::update(double fraction, double bytesPerSecond) {
    if (!m_running)
        return;
    // The trackers draw whole percents: one message per step, not per chunk report.
    const int percent = std::clamp(int(std::floor(fraction * 100)), 0, 100);
    if (percent == m_percent)
        return;
    m_percent = percent;
    m_speed = bytesPerSecond;
    if (m_useLauncher)
        sendLauncherEntry(fraction, true);
    if (m_view)
        sendUpdate();
}

void DesktopProgress::setSuspended(bool suspended) {
    if (!m_running || suspended == m_suspended)
        return;
    m_suspended = suspended;
    if (m_view)
        sendUpdate();
}

void DesktopProgress::end(const QString& errorText) {
    if (!m_running)
        return;
    m_running = false;
    m_cancel = nullptr;
    m_endedWith = errorText;
    if (m_useLauncher)
        sendLauncherEntry(0, false);
    if (m_view)
        sendTerminate();
    else
        ++m_generation; // a view still on its way is ended when it arrives
}

void DesktopProgress::onCancelRequested() {
    if (m_running && m_cancel)
        m_cancel();
}

void DesktopProgress::sendUpdate() {
    QDBusMessage message = QDBusMessage::createMethodCall(jobViewService, m_view->path(), jobViewInterface,
                                                          QStringLiteral("update"));
    message << QVariantMap{{QStringLiteral("percent"), uint(std::max(0, m_percent))},
                           {QStringLiteral("speed"), qulonglong(m_suspended ? 0.0 : std::max(0.0, m_speed))},
                           {QStringLiteral("suspended"), m_suspended}};
    m_bus.asyncCall(message);
}

void DesktopProgress::sendTerminate() {
    const QString error = m_endedWith.value_or(QString());
    QDBusMessage message = QDBusMessage::createMethodCall(jobViewService, m_view->path(), jobViewInterface,
                                                          QStringLiteral("terminate"));
    message << (error.isEmpty() ? errorNone : errorKilled) << error << QVariantMap();
    m_bus.asyncCall(message);
    disconnectView();
}

void DesktopProgress::disconnectView() {
    m_bus.disconnect(jobViewService, m_view->path(), jobViewInterface, QStringLiteral("cancelRequested"),
                     this, SLOT(onCancelRequested()));
    m_view.reset();
}

void DesktopProgress::sendLauncherEntry(double fraction, bool visible) {
    QDBusMessage signal =
        QDBusMessage::createSignal(launcherPath, launcherInterface, QStringLiteral("Update"));
    signal << applicationURI
           << QVariantMap{{QStringLiteral("progress"), std::clamp(fraction, 0.0, 1.0)},
                          {QStringLiteral("progress-visible"), visible}};
    m_bus.send(signal);
}
