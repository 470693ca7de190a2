#include "app/UpdateWindowRaiser.h"

#include "app/UpdateDialogs.h"
#include "transfers/UpdaterManager.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

UpdateWindowRaiser::UpdateWindowRaiser(UpdaterManager& manager, QObject* parent) : QObject(parent) {
    connect(&manager, &UpdaterManager::updateDialogWillShow, this,
            [this] { QTimer::singleShot(delay, this, &UpdateWindowRaiser::raiseUpdateWindows); });
}

int UpdateWindowRaiser::raiseUpdateWindows() {
    int raised = 0;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (shouldRaiseWindow(window->isVisible(), window->windowTitle(),
                              UpdateDialogs::isUpdateDialog(window))) {
            raise(window);
            ++raised;
        }
    }
    return raised;
}

// Only raised and activated: changing a shown window's flags would re-create its native window
// (a visible flicker and a new window id). The own dialogs are kept on top from their first show.
void UpdateWindowRaiser::raise(QWidget* window) {
    window->raise();
    window->activateWindow();
}

bool UpdateWindowRaiser::shouldRaiseWindow(bool visible, const QString& title, bool isBackendDialog) {
    if (!visible || title.isEmpty())
        return false;
    return isBackendDialog || title.contains(QLatin1StringView("update"), Qt::CaseInsensitive) ||
           title.contains(QLatin1StringView("aktualisierung"), Qt::CaseInsensitive);
}
