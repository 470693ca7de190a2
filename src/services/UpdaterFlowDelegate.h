#pragma once

#include <QPointer>
#include <functional>

class UpdaterManager;

// Receives the backend's install request and routes it through the manager, which holds it back
// while an upload or a ZIP creation runs.
class UpdaterFlowDelegate {
public:
    QPointer<UpdaterManager> manager;

    // Called when an update is ready. `immediateInstall` replaces the program, starts the new one and
    // quits. Answers false, keeping nothing, once the manager is gone; the backend then installs when
    // the client quits by itself.
    bool willInstallUpdateOnQuit(std::function<void()> immediateInstall);
};
