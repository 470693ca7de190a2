#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

// Desktop notifications through org.freedesktop.Notifications. A notification
// with a download URL offers a click and a "Link kopieren" action when the
// server can show actions; either one hands the URL to the copy callback.
// Without a notification server nothing is shown and nothing fails.
class NotificationClient : public QObject {
    Q_OBJECT
public:
    using CopyHandler = std::function<void(const QString&)>;
    // Sent as the notification's category: "transfer.complete" or "transfer.error".
    enum class Kind { Done, Failure };

    explicit NotificationClient(CopyHandler copy, QDBusConnection bus = QDBusConnection::sessionBus(),
                                QObject* parent = nullptr);

    // Returns at once; the D-Bus round trips run on the event loop.
    void post(const QString& title, const QString& body, const std::optional<QString>& downloadURL,
              Kind kind = Kind::Done);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Capabilities {
        bool actions = false;
        bool bodyMarkup = false;
    };

    QCoro::Task<> send(QString title, QString body, std::optional<QString> downloadURL, Kind kind);
    QCoro::Task<std::optional<Capabilities>> capabilities();

    CopyHandler m_copy;
    QDBusConnection m_bus;
    std::optional<Capabilities> m_capabilities;
    QHash<uint, QString> m_urls;
};
