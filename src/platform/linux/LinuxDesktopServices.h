#pragma once

#include "platform/DesktopServices.h"
#include "platform/linux/DesktopProgress.h"
#include "platform/linux/FileManagerReveal.h"
#include "platform/linux/NotificationClient.h"
#include "platform/linux/X11Clipboard.h"
#include "platform/linux/XdgAutostart.h"

#include <QDBusConnection>

// The desktop services on a freedesktop.org desktop: the Qt clipboard,
// org.freedesktop.Notifications, an XDG autostart entry and
// org.freedesktop.FileManager1, and job progress where the desktop shows it. Needs a QGuiApplication.
class LinuxDesktopServices : public DesktopServices {
public:
    // The folder of the autostart entry: empty means the user's usual one.
    explicit LinuxDesktopServices(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QString autostartFolder = {});

    bool copyText(const QString& text) override;
    void postNotification(const QString& title, const QString& body,
                          const std::optional<QString>& downloadURL) override;
    void postFailureNotification(const QString& title, const QString& body) override;
    void registerLoginItem() override;
    void unregisterLoginItem() override;
    bool isLoginItemEnabled() override;
    void revealInFileViewer(const QString& filePath) override;
    void beginJobProgress(const QString& title, std::function<void()> cancel) override;
    void updateJobProgress(double fraction, double bytesPerSecond) override;
    void setJobProgressSuspended(bool suspended) override;
    void endJobProgress(const QString& errorText) override;

private:
    NotificationClient m_notifications;
    XdgAutostart m_autostart;
    FileManagerReveal m_fileManager;
    DesktopProgress m_progress;
    X11Clipboard m_clipboard;
};
