#pragma once

#include "services/UpdaterUserDriver.h"

#include <QPointer>

class QMessageBox;
class QProgressDialog;
class QWidget;
class UpdaterManager;

// The update dialogs as widgets: message boxes for questions and messages, a progress dialog for the
// download. None has a parent window: the client has no main window, and the panel hides while they
// show.
class UpdateDialogs : public UpdaterUserDriver {
    Q_OBJECT
public:
    explicit UpdateDialogs(QObject* parent = nullptr);
    ~UpdateDialogs() override;

    // Gives the manager's backend these dialogs and brings update windows forward whenever the manager
    // announces one. Both live as long as the manager.
    static void attach(UpdaterManager& manager);

    // Whether the widget is one of these dialogs, which are always brought forward.
    static bool isUpdateDialog(const QWidget* widget);

    QCoro::Task<bool> ask(QString text, QString informativeText, QString acceptLabel,
                          QString rejectLabel) override;
    QCoro::Task<> inform(QString text, QString informativeText) override;
    void showProgress(QString label, qint64 done, qint64 total, QPointer<CancelToken> cancel) override;
    void hideProgress() override;

private:
    static QMessageBox* makeBox(const QString& text, const QString& informativeText);

    QPointer<QProgressDialog> m_progress;
};
