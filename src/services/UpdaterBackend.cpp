#include "services/UpdaterBackend.h"

#include "services/UpdaterUserDriver.h"

void UpdaterBackend::setUserDriver(UpdaterUserDriver* driver) {
    m_userDriver = driver;
}

UpdaterUserDriver* UpdaterBackend::userDriver() const {
    return static_cast<UpdaterUserDriver*>(m_userDriver.data());
}
