#pragma once

#include <QObject>

// Told by the backend right before each of its dialogs shows, so the client can hide its panel and
// bring the dialog forward.
class UpdaterUserDriverDelegate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Before the window of a found update, or its download progress.
    void willHandleShowingUpdate() { Q_EMIT dialogWillShow(); }
    // Before any other alert: up to date, an error, a message.
    void willShowModalAlert() { Q_EMIT dialogWillShow(); }

Q_SIGNALS:
    void dialogWillShow();
};
