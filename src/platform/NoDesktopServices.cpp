#include "platform/NoDesktopServices.h"

bool NoDesktopServices::copyText(const QString&) {
    return false;
}

void NoDesktopServices::postNotification(const QString&, const QString&, const std::optional<QString>&) {}

void NoDesktopServices::registerLoginItem() {}

void NoDesktopServices::unregisterLoginItem() {}

bool NoDesktopServices::isLoginItemEnabled() {
    return false;
}

void NoDesktopServices::revealInFileViewer(const QString&) {}
