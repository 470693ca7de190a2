#include "FakeUpdaterBackend.h"

void FakeUpdaterBackend::announceCanCheck(bool value) {
    canCheck = value;
    Q_EMIT canCheckForUpdatesChanged(value);
}
