#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

// Shows a file selected in the desktop's file manager through
// org.freedesktop.FileManager1. When no file manager answers, the file's
// folder is opened with QDesktopServices instead.
class FileManagerReveal : public QObject {
    Q_OBJECT
public:
    explicit FileManagerReveal(QDBusConnection bus = QDBusConnection::sessionBus(),
                               QObject* parent = nullptr);

    // Returns at once; the D-Bus call and any fallback run on the event loop.
    void reveal(const QString& filePath);

private:
    QCoro::Task<> showItems(QString filePath);

    QDBusConnection m_bus;
};
