#include "PanelFixture.h"

PanelFixture::PanelFixture() {
    auto backend = std::make_unique<FakeUpdaterBackend>();
    updaterBackend = backend.get();
    updater = std::make_unique<UpdaterManager>(UpdaterManager::Environment{std::move(backend), &settings});
    panel = std::make_unique<PanelView>(session, updater.get());
    panel->resize(Settings::defaultPanelWidth, Settings::defaultPanelHeight);
}

PanelFixture::~PanelFixture() {
    panel.reset();
    updater.reset();
}
