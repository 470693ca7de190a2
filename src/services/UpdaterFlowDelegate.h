#pragma once

#include <functional>

// Receives the backend's install request and hands it to the update controller, which holds it
// back while an upload or a ZIP creation runs.
class UpdaterFlowDelegate {
public:
    // Set by the controller: takes the install and answers whether it will run it.
    std::function<bool(std::function<void()>)> installHandler;

    // Called when an update is ready. `immediateInstall` replaces the program, starts the new one and
    // quits. Answers false, keeping nothing, once the controller is gone; the backend then installs
    // when the client quits by itself.
    bool willInstallUpdateOnQuit(std::function<void()> immediateInstall) {
        return installHandler && installHandler(std::move(immediateInstall));
    }
};
