#pragma once

#include <QObject>
#include <QString>
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

    // Whether a top-level window belongs to an update and is brought forward: visible, with a
    // non-empty title, and either one of the backend's own dialogs or titled with "update" or
    // "aktualisierung" in any letter case.
    static bool shouldRaiseWindow(bool visible, const QString& title, bool isBackendDialog);
    // Raises every top-level window that rule picks; returns how many.
    static int raiseUpdateWindows();

private:
    static void raise(QWidget* window);
};
