#include "UpdaterFlowDelegate.h"

#include "UpdaterManager.h"

bool UpdaterFlowDelegate::willInstallUpdateOnQuit(std::function<void()> immediateInstall) {
    if (!manager)
        return false;
    manager->setPendingInstall(std::move(immediateInstall));
    manager->attemptPendingInstall();
    return true;
}
