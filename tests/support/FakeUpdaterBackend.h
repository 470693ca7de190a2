#pragma once

#include "services/UpdaterBackend.h"

#include <optional>

// An update mechanism that only records what it is asked, for the updater manager's own rules
// and for views that show the updater's state.
class FakeUpdaterBackend : public UpdaterBackend {
public:
    bool automaticChecks = false;
    bool canCheck = true;
    std::chrono::milliseconds reportedInterval{std::chrono::hours(24)};
    std::optional<std::chrono::milliseconds> requestedInterval;
    std::optional<bool> downloadsAutomatically;
    int backgroundChecks = 0;
    int userChecks = 0;
    QString reason;

    bool checksAutomatically() const override { return automaticChecks; }
    void setChecksAutomatically(bool value) override { automaticChecks = value; }
    void setDownloadsAutomatically(bool value) override { downloadsAutomatically = value; }
    std::chrono::milliseconds checkInterval() const override { return reportedInterval; }
    void setCheckInterval(std::chrono::milliseconds interval) override { requestedInterval = interval; }
    void restartSchedule() override {}
    bool canCheckForUpdates() const override { return canCheck; }
    QString unavailableReason() const override { return reason; }
    void checkForUpdatesInBackground() override { ++backgroundChecks; }
    void checkForUpdates() override { ++userChecks; }

    void announceCanCheck(bool value);
};
