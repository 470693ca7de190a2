#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

// One job's progress where the desktop shows it: Plasma's job tracker (org.kde.JobViewServerV2,
// whose cancel button cancels the job) and the launcher-entry progress docks draw
// (com.canonical.Unity.LauncherEntry). Each only while the desktop offers it on the bus; every
// call is asynchronous, so a slow desktop never holds up an upload.
class DesktopProgress : public QObject {
    Q_OBJECT
public:
    explicit DesktopProgress(QDBusConnection bus, QObject* parent = nullptr);
    ~DesktopProgress() override;

    void begin(const QString& title, std::function<void()> cancel);
    void update(double fraction, double bytesPerSecond);
    void setSuspended(bool suspended);
    // Empty `errorText`: the job succeeded.
    void end(const QString& errorText);

private Q_SLOTS:
    void onCancelRequested();

private:
    bool offers(const QString& service) const;
    void viewReady(const QDBusObjectPath& path);
    void sendUpdate();
    void sendTerminate();
    void sendLauncherEntry(double fraction, bool visible);
    void disconnectView();

    QDBusConnection m_bus;
    std::function<void()> m_cancel;
    bool m_running = false;
    bool m_useJobView = false;
    bool m_useLauncher = false;
    int m_generation = 0; // a late view reply of an earlier job is ended at once
    std::optional<QDBusObjectPath> m_view;
    std::optional<QString> m_endedWith;
    bool m_suspended = false;
    int m_percent = -1;
    double m_speed = 0;
};
