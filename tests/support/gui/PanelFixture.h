#pragma once

#include "FakeUpdaterBackend.h"
#include "ManagerFixture.h"
#include "PopoverView.h"
#include "UpdaterManager.h"

// The panel (PopoverView at its default size, not yet shown) on a ManagerFixture, with an
// updater whose backend only records.
class PanelFixture : public ManagerFixture {
public:
    PanelFixture();
    ~PanelFixture();

    // Writes the widget (by default the panel) as <build>/tests/screenshots/<name>.png for review.
    void shoot(const QString& name, QWidget* widget = nullptr);

    FakeUpdaterBackend* updaterBackend = nullptr;
    std::unique_ptr<UpdaterManager> updater;
    std::unique_ptr<PopoverView> panel;
};
