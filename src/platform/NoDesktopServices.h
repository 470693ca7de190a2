#pragma once

#include "DesktopServices.h"

// The desktop of a process that has none to talk to (the command line): nothing is copied, shown or
// registered, and no login item exists. Stands in wherever no real desktop is given, so that the
// logic never asks whether there is one.
class NoDesktopServices : public DesktopServices {
public:
    void copyText(const QString& text) override;
    void postNotification(const QString& title, const QString& body,
                          const std::optional<QString>& downloadURL) override;
    void registerLoginItem() override;
    void unregisterLoginItem() override;
    bool isLoginItemEnabled() override;
    void revealInFileViewer(const QString& filePath) override;
};
