#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QString>
#include <qcoro/qcorotask.h>

class CancelToken;

// The update dialogs. The backend writes every text; a driver only shows it (rich text, which may
// hold a link) and reports the user's answer. Implemented with widgets in the GUI library.
class UpdaterUserDriver : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The window title of every update dialog.
    static QString title() { return QCoreApplication::translate("UpdaterUserDriver", "Software-Update"); }

    // A question with two buttons; true when the user chose `acceptLabel`.
    virtual QCoro::Task<bool> ask(QString text, QString informativeText, QString acceptLabel,
                                  QString rejectLabel) = 0;
    // A message with one button; completes when it is closed.
    virtual QCoro::Task<> inform(QString text, QString informativeText) = 0;
    // Shows or updates the progress dialog; `total` is -1 while unknown. Its cancel button cancels
    // `cancel`.
    virtual void showProgress(QString label, qint64 done, qint64 total, QPointer<CancelToken> cancel) = 0;
    virtual void hideProgress() = 0;
};
