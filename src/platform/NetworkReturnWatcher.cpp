#include "platform/NetworkReturnWatcher.h"

#include "net/HttpEngine.h"

namespace {
// NM_STATE_CONNECTED_LOCAL: a company server may well be reachable without a default route.
constexpr uint connectedLocal = 50;
} // namespace

NetworkReturnWatcher::NetworkReturnWatcher(HttpEngine& http, QDBusConnection bus, QObject* parent)
    : QObject(parent), m_http(http) {
    // QtDBus hooks bus signals up only by slot signature.
    bus.connect(QStringLiteral("org.freedesktop.NetworkManager"),
                QStringLiteral("/org/freedesktop/NetworkManager"),
                QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("StateChanged"), this,
                SLOT(onNetworkStateChanged(uint)));
    bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                SLOT(onPrepareForSleep(bool)));
}

void NetworkReturnWatcher::onNetworkStateChanged(uint state) {
    if (state >= connectedLocal)
        m_http.notifyNetworkReturned();
}

void NetworkReturnWatcher::onPrepareForSleep(bool sleeping) {
    if (!sleeping)
        m_http.notifyNetworkReturned();
}
