#pragma once

#include "services/UpdaterUserDriver.h"

#include <QPointer>
#include <optional>

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
    enum class Answer { accept, reject };

    explicit UpdateDialogs(QObject* parent = nullptr);
    ~UpdateDialogs() override;

    // Gives the manager's backend these dialogs and brings update windows forward whenever the manager
    // announces one. Both live as long as the manager.
    static void attach(UpdaterManager& manager);

    // For tests: the next question or message is answered like this on the event loop's next turn
    // after it showed (a message by closing it, whichever answer).
    static void setNextAnswer(Answer answer);

    // Whether the widget is one of these dialogs, which are always brought forward.
    static bool isUpdateDialog(const QWidget* widget);

    QCoro::Task<bool> ask(QString text, QString informativeText, QString acceptLabel,
                          QString rejectLabel) override;
    QCoro::Task<> inform(QString text, QString informativeText) override;
    void showProgress(QString label, qint64 done, qint64 total, QPointer<CancelToken> cancel) override;
    void hideProgress() override;

private:
    static QMessageBox* makeBox(const QString& text, const QString& informativeText);
    static void answerSoon(QMessageBox* box);

    QPointer<QProgressDialog> m_progress;
    static inline std::optional<Answer> s_nextAnswer;
};
