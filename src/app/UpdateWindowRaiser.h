#pragma once

#include <QObject>
#include <chrono>

class QWidget;
class UpdaterManager;

// Brings update windows to the front shortly after the manager announces one: the dialog needs a
// moment to appear, and the client, which has no main window, would otherwise leave it behind other
// applications' windows.
class UpdateWindowRaiser : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds delay{150};

    UpdateWindowRaiser(UpdaterManager& manager, QObject* parent = nullptr);

    // Raises every top-level window the manager's rule picks; returns how many.
    static int raiseUpdateWindows();

private:
    static void raise(QWidget* window);
};
