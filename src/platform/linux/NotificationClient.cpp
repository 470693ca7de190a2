#include "NotificationClient.h"

#include "Logging.h"
#include "UserText.h"
#include <QCoroDBusPendingCall>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");
const QString copyLinkAction = QStringLiteral("COPY_LINK");
// Long enough for a notification daemon that D-Bus activation starts first.
constexpr int callTimeoutMs = 10000;
} // namespace

NotificationClient::NotificationClient(CopyHandler copy, QDBusConnection bus, QObject* parent)
    : QObject(parent), m_copy(std::move(copy)), m_bus(std::move(bus)) {
    // QtDBus hooks bus signals up only by slot signature.
    m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
}

void NotificationClient::post(const QString& title, const QString& body,
                              const std::optional<QString>& downloadURL, Kind kind) {
    send(title, body, downloadURL, kind);
}

QCoro::Task<> NotificationClient::send(QString title, QString body, std::optional<QString> downloadURL,
                                       Kind kind) {
    // Nobody awaits this task: every failure ends here, unseen, as a lost
    // notification must never disturb an upload.
    try {
        QPointer<NotificationClient> self(this);
        const std::optional<Capabilities> caps = co_await capabilities();
        if (!self || !caps)
            co_return;

        const bool withActions = downloadURL && caps->actions;
        QStringList actions;
        if (withActions)
            actions = {defaultAction, UserText::copyLink(), copyLinkAction, UserText::copyLink()};
        const QVariantMap hints{
            {QStringLiteral("desktop-entry"), QStringLiteral("com.zanvolt.Zanvolt")},
            {QStringLiteral("category"),
             kind == Kind::Failure ? QStringLiteral("transfer.error") : QStringLiteral("transfer.complete")},
            {QStringLiteral("sound-name"), QStringLiteral("message-new-instant")},
        };
        // A server with body markup would swallow a file name like "a<b" or
        // "Müller & Co" as broken markup.
        const QString shownBody = caps->bodyMarkup ? body.toHtmlEscaped() : body;

        QDBusMessage call =
            QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
        call << QStringLiteral("Zanvolt") << uint(0) << QStringLiteral("com.zanvolt.Zanvolt") << title
             << shownBody << actions << hints << int(-1);
        const QDBusPendingReply<uint> reply = co_await m_bus.asyncCall(call, callTimeoutMs);
        if (reply.isError())
            qCInfo(lcPlatform) << "notification not shown:" << reply.error().message();
        if (!self || reply.isError() || !withActions)
            co_return;
        m_urls.insert(reply.value(), *downloadURL);
    } catch (...) {
        qCWarning(lcPlatform) << "notification failed";
    }
}

// Asked once per client; a failed call is not remembered, so a notification
// server that starts later is still used.
QCoro::Task<std::optional<NotificationClient::Capabilities>> NotificationClient::capabilities() {
    if (m_capabilities)
        co_return m_capabilities;
    QPointer<NotificationClient> self(this);
    const QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"));
    const QDBusPendingReply<QStringList> reply = co_await m_bus.asyncCall(call, callTimeoutMs);
    if (!self || reply.isError())
        co_return std::nullopt;
    const QStringList names = reply.value();
    m_capabilities = Capabilities{names.contains(QStringLiteral("actions")),
                                  names.contains(QStringLiteral("body-markup"))};
    co_return m_capabilities;
}

void NotificationClient::onActionInvoked(uint id, const QString& actionKey) {
    if (actionKey != defaultAction && actionKey != copyLinkAction)
        return;
    const auto it = m_urls.constFind(id);
    if (it != m_urls.constEnd() && m_copy)
        m_copy(*it);
}

void NotificationClient::onNotificationClosed(uint id, uint) {
    m_urls.remove(id);
}
