#pragma once

#include <QDBusConnection>
#include <QObject>

class HttpEngine;

// Tells an HTTP engine when the network is likely back, so that transfers waiting for it try
// at once instead of after their pause: NetworkManager reports a connection, or logind reports
// that the machine woke up. Qt's QNetworkInformation reads the same NetworkManager state on Linux;
// its signals are taken here from the bus directly, which keeps QtNetwork out of the core.
// Without either service nothing is heard and the pauses alone bring the next try.
class NetworkReturnWatcher : public QObject {
    Q_OBJECT
public:
    explicit NetworkReturnWatcher(HttpEngine& http, QDBusConnection bus = QDBusConnection::systemBus(),
                                  QObject* parent = nullptr);

private Q_SLOTS:
    void onNetworkStateChanged(uint state);
    void onPrepareForSleep(bool sleeping);

private:
    HttpEngine& m_http;
};
