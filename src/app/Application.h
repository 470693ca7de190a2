#pragma once

#include "net/HttpEngine.h"
#include "platform/Settings.h"
#include "platform/linux/LinuxDesktopServices.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QUrl>
#include <optional>

class PanelView;
class PanelWindow;
class SecretStore;
class QMenu;
class QSystemTrayIcon;
class StatusIconAnimator;
class ClientSession;
class UpdaterManager;

// The application shell: the tray icon with its pictures, the floating panel
// under it, the one ClientSession, and the wiring to the update controller.
class Application : public QObject {
    Q_OBJECT
public:
    // What the shell is built with; the defaults are the real ones.
    struct Options {
        SecretStore* secretStore = nullptr; // null: the desktop's Secret Service
        HttpEngine::Options http{};
    };

    explicit Application(QObject* parent = nullptr);
    explicit Application(Options options, QObject* parent = nullptr);
    ~Application() override;

    // Builds everything; `files` came with the program's start and are sent.
    void start(const QList<QUrl>& files);

    ClientSession* session() const { return m_session; }
    PanelWindow* panel() const { return m_panel; }

    void togglePanel();
    void showPanel();
    void hidePanel();
    // "Zanvolt beenden": ends the process's event loop in every state, uploads cancelled first.
    void quit();
    // The tray menu's entries: the send tab with the file chooser open; the settings page.
    void chooseFilesToSend();
    void showSettings();
    // The tray icon's context menu (also what StatusNotifier hosts show).
    QMenu* trayMenu() const { return m_trayMenu; }
    PanelView* view() const { return m_view; }
    // Files from a drop or a second start; refused without file URLs.
    void receiveFiles(const QList<QUrl>& urls);

private:
    void buildView();

    Options m_options;
    HttpEngine m_http; // the process's one engine
    Settings m_settings;
    LinuxDesktopServices m_desktop;
    UpdaterManager* m_updater = nullptr;
    ClientSession* m_session = nullptr;
    PanelWindow* m_panel = nullptr;
    PanelView* m_view = nullptr;
    // The view is made when the panel first opens. It takes its colours and symbols then; after a
    // palette change it is made again the next time the panel opens (never while it is in use).
    bool m_viewStale = true;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_trayMenu = nullptr;
    StatusIconAnimator* m_animator = nullptr;
    std::optional<QPoint> m_clickPosition;
};
