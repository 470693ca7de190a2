#include "NoDesktopServices.h"

void NoDesktopServices::copyText(const QString&) {}

void NoDesktopServices::postNotification(const QString&, const QString&, const std::optional<QString>&) {}

void NoDesktopServices::registerLoginItem() {}

void NoDesktopServices::unregisterLoginItem() {}

bool NoDesktopServices::isLoginItemEnabled() {
    return false;
}

void NoDesktopServices::revealInFileViewer(const QString&) {}
