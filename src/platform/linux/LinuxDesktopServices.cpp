#include "platform/linux/LinuxDesktopServices.h"

#include <QClipboard>
#include <QGuiApplication>

LinuxDesktopServices::LinuxDesktopServices(QDBusConnection bus, QString autostartFolder)
    : m_notifications([this](const QString& text) { copyText(text); }, bus),
      m_autostart(std::move(autostartFolder)), m_fileManager(bus), m_progress(bus) {}

bool LinuxDesktopServices::copyText(const QString& text) {
    m_clipboard.refreshTime();
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
    // Qt takes itself for the owner even when the server refused it.
    return X11Clipboard::ownedHere();
}

void LinuxDesktopServices::postNotification(const QString& title, const QString& body,
                                            const std::optional<QString>& downloadURL) {
    m_notifications.post(title, body, downloadURL);
}

void LinuxDesktopServices::postFailureNotification(const QString& title, const QString& body) {
    m_notifications.post(title, body, std::nullopt, NotificationClient::Kind::Failure);
}

void LinuxDesktopServices::registerLoginItem() {
    m_autostart.registerEntry();
}

void LinuxDesktopServices::unregisterLoginItem() {
    m_autostart.unregisterEntry();
}

bool LinuxDesktopServices::isLoginItemEnabled() {
    return m_autostart.isEnabled();
}

void LinuxDesktopServices::revealInFileViewer(const QString& filePath) {
    m_fileManager.reveal(filePath);
}

void LinuxDesktopServices::beginJobProgress(const QString& title, std::function<void()> cancel) {
    m_progress.begin(title, std::move(cancel));
}

void LinuxDesktopServices::updateJobProgress(double fraction, double bytesPerSecond) {
    m_progress.update(fraction, bytesPerSecond);
}

void LinuxDesktopServices::setJobProgressSuspended(bool suspended) {
    m_progress.setSuspended(suspended);
}

void LinuxDesktopServices::endJobProgress(const QString& errorText) {
    m_progress.end(errorText);
}
