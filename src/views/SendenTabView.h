#pragma once

#include "KeyedRowList.h"

#include <QList>
#include <QPointer>
#include <QUuid>
#include <QWidget>
#include <optional>

class DesktopServices;
struct TransferItem;
class ElidedLabel;
class QFrame;
class QLabel;
class QProgressBar;
class QScrollArea;
class QVBoxLayout;
class TransferManager;
class TransferRowView;

// The send tab: the banner of the upload just finished, the running upload with its queue, the last
// error, and either the hint or the list of sent transfers, with "Aktualisieren" at the bottom. It
// holds no state of its own; everything follows the manager's change signals. Rows are kept by the
// transfer's id, so progress reports and in-place changes never rebuild them.
class SendenTabView : public QWidget {
    Q_OBJECT

public:
    SendenTabView(TransferManager* manager, DesktopServices* desktop, QWidget* parent = nullptr);

    // The rows in list order.
    QList<TransferRowView*> rows() const;

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
    void updateError();
    void updateChoice();
    void syncRows();
    TransferRowView* makeRow(const TransferItem& transfer);

    QPointer<TransferManager> m_manager;
    DesktopServices* m_desktop;

    QWidget* m_bannerBox;
    ElidedLabel* m_bannerFileName;
    ElidedLabel* m_bannerLink;
    QWidget* m_bannerPasswordRow;
    QLabel* m_bannerPassword;

    QWidget* m_progressBox;
    QProgressBar* m_progressBar;
    QLabel* m_progressText;
    QLabel* m_queueLine;

    QWidget* m_errorBox;
    ElidedLabel* m_errorText;

    QWidget* m_hint;
    QScrollArea* m_list;
    std::optional<KeyedRowList<TransferRowView, QUuid>> m_rows;
};
