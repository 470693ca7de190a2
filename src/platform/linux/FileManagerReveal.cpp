#include "platform/linux/FileManagerReveal.h"

#include "models/Logging.h"
#include <QCoroDBusPendingCall>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

namespace {
// A file manager started by D-Bus activation may take a while to answer.
constexpr int callTimeoutMs = 10000;
} // namespace

FileManagerReveal::FileManagerReveal(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {}

void FileManagerReveal::reveal(const QString& filePath) {
    showItems(filePath);
}

QCoro::Task<> FileManagerReveal::showItems(QString filePath) {
    // Nobody awaits this task, so nothing may escape it.
    try {
        QPointer<FileManagerReveal> self(this);
        const QFileInfo info(filePath);
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)}
             << QString();
        const QDBusPendingReply<> reply = co_await m_bus.asyncCall(call, callTimeoutMs);
        if (!self || !reply.isError())
            co_return;
        qCInfo(lcPlatform) << "no file manager answered, opening the folder:" << reply.error().message();
        QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
    } catch (...) {
        qCWarning(lcPlatform) << "revealing a file failed";
    }
}
