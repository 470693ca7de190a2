#include "RecordingDesktopServices.h"

#include "models/AppError.h"

bool RecordingDesktopServices::copyText(const QString& text) {
    copiedTexts << text;
    return !refuseCopies;
}

void RecordingDesktopServices::postNotification(const QString& title, const QString& body,
                                                const std::optional<QString>& downloadURL) {
    notifications << Notification{title, body, downloadURL};
}

void RecordingDesktopServices::registerLoginItem() {
    loginItemCalls << QStringLiteral("register");
    if (failLoginItemWith)
        throw AppError(*failLoginItemWith);
    loginItemEnabled = true;
}

void RecordingDesktopServices::unregisterLoginItem() {
    loginItemCalls << QStringLiteral("unregister");
    if (failLoginItemWith)
        throw AppError(*failLoginItemWith);
    loginItemEnabled = false;
}

void RecordingDesktopServices::revealInFileViewer(const QString& filePath) {
    revealedPaths << filePath;
}
