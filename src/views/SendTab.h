#pragma once

#include <QList>
#include <QPointer>
#include <QUuid>
#include <QWidget>
#include <optional>

struct TransferItem;
class ElidedLabel;
class QFrame;
class QLabel;
class QProgressBar;
class QVBoxLayout;
class RowListView;
class SentTransferOperations;
class SentTransfers;
class Uploads;

// The send tab: the banner of the upload just finished, the running upload with its queue, the last
// error, and either the hint or the list of sent transfers, with "Aktualisieren" at the bottom. It
// holds no state of its own; everything follows the change signals of the uploads and the sent
// transfers. The list is a view of the sent transfers' model, so a poll changes only what changed.
class SendTab : public QWidget {
    Q_OBJECT

public:
    SendTab(Uploads* uploads, SentTransfers* sent, SentTransferOperations* operations,
            QWidget* parent = nullptr);

    RowListView* list() const { return m_list; }

    enum class Choice { Files, Folder };
    // Opens the desktop's file chooser; what the user picks is sent like files dropped on the panel.
    void chooseFiles(Choice choice = Choice::Files);

private:
    QWidget* buildBanner();
    QWidget* buildProgress();
    QWidget* buildError();
    QWidget* buildHint();
    QWidget* buildList();
    QWidget* buildFooter();

    void updateBanner();
    void updateProgress();
    void updateQueue();
    // Shows `message`, or when it is empty the other side's failure, if any.
    void showError(std::optional<QString> message);
    void updateChoice();

    Uploads* m_uploads;
    SentTransfers* m_sent;
    SentTransferOperations* m_operations;

    QWidget* m_bannerBox;
    ElidedLabel* m_bannerFileName;
    ElidedLabel* m_bannerLink;
    QWidget* m_bannerPasswordRow;
    QLabel* m_bannerPassword;

    QWidget* m_progressBox;
    QProgressBar* m_progressBar;
    ElidedLabel* m_progressText;
    QLabel* m_queueLine;

    QWidget* m_errorBox;
    ElidedLabel* m_errorText;

    QWidget* m_hint;
    RowListView* m_list;
};
