#pragma once

#include "FakeUpdaterBackend.h"
#include "SessionFixture.h"
#include "transfers/UpdaterManager.h"
#include "views/PanelView.h"

// The panel (PanelView at its default size, not yet shown) on a SessionFixture, with an
// updater whose backend only records.
class PanelFixture : public SessionFixture {
public:
    PanelFixture();
    ~PanelFixture();

    FakeUpdaterBackend* updaterBackend = nullptr;
    std::unique_ptr<UpdaterManager> updater;
    std::unique_ptr<PanelView> panel;
};
