#pragma once

#include <QString>
#include <functional>
#include <optional>

// What the client's logic needs of the desktop. The Linux implementation lives
// in the GUI library; tests use a recording fake.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // Replaces the clipboard's contents with one plain-text string; false when the clipboard did
    // not take it (nothing may then claim it was copied).
    virtual bool copyText(const QString& text) = 0;
    // Shown at once; a click on it (or its "Link kopieren" action) copies the
    // download URL when one is given. Failures are ignored.
    virtual void postNotification(const QString& title, const QString& body,
                                  const std::optional<QString>& downloadURL) = 0;
    // The same for something that failed, so that the desktop can tell it from a success.
    virtual void postFailureNotification(const QString& title, const QString& body) {
        postNotification(title, body, std::nullopt);
    }
    // Both throw AppError with a German description on failure.
    virtual void registerLoginItem() = 0;
    virtual void unregisterLoginItem() = 0;
    virtual bool isLoginItemEnabled() = 0;
    // Selects the file in the desktop's file viewer, rooted at its folder.
    virtual void revealInFileViewer(const QString& filePath) = 0;

    // The running upload where the desktop shows job progress (a job tracker, a dock's launcher
    // entry); nothing where it shows none. One job at a time: `cancel` runs when the user cancels
    // it there; `errorText` empty ends it as a success.
    virtual void beginJobProgress(const QString& /*title*/, std::function<void()> /*cancel*/) {}
    virtual void updateJobProgress(double /*fraction*/, double /*bytesPerSecond*/) {}
    // The job waits (for the network) and goes on by itself: shown as suspended where the view can.
    virtual void setJobProgressSuspended(bool /*suspended*/) {}
    virtual void endJobProgress(const QString& /*errorText*/) {}
};
