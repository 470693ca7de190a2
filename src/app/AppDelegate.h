#pragma once

#include "LinuxDesktopServices.h"
#include "UserDefaults.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QUrl>
#include <optional>

class PanelWindow;
class QSystemTrayIcon;
class StatusIconAnimator;
class TransferManager;
class UpdaterManager;

// The application shell: the tray icon with its pictures, the floating panel
// under it, the one TransferManager, and the wiring to the update controller.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Builds everything; `files` came with the program's start and are sent.
    void start(const QList<QUrl>& files);

    TransferManager* transferManager() const { return m_manager; }
    PanelWindow* panel() const { return m_panel; }

    void togglePanel();
    void showPanel();
    void hidePanel();
    // Files from a drop or a second start; refused without file URLs.
    void receiveFiles(const QList<QUrl>& urls);

private:
    UserDefaults m_defaults;
    LinuxDesktopServices m_desktop;
    UpdaterManager* m_updater = nullptr;
    TransferManager* m_manager = nullptr;
    PanelWindow* m_panel = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    StatusIconAnimator* m_animator = nullptr;
    std::optional<QPoint> m_clickPosition;
};
