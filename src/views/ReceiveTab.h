#pragma once

#include "KeyedRowList.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <optional>

class ElidedLabel;
class IncomingRow;
class QFrame;
class QLabel;
class QProgressBar;
class QScrollArea;
class QVBoxLayout;
struct IncomingUpload;
class ReceivedUploads;

// The receive tab: the not-configured view while no credentials are stored, otherwise the running
// download, the last error of the receive side, and either the empty view or the customer uploads,
// with "Aktualisieren" at the bottom. It holds no state of its own; rows are kept by the upload's
// token, so a refresh keeps them and their states.
class ReceiveTab : public QWidget {
    Q_OBJECT

public:
    explicit ReceiveTab(ReceivedUploads* received, QWidget* parent = nullptr);

    // The rows in list order.
    QList<IncomingRow*> rows() const;

    // The delete confirmation; only "Löschen" deletes.
    void confirmAndDelete(const IncomingUpload& upload);

Q_SIGNALS:
    // "Einstellungen öffnen" on the not-configured view.
    void settingsRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildNotConfigured();
    QWidget* buildDownloadLine();
    QWidget* buildErrorLine();
    QWidget* buildEmptyView();
    QWidget* buildList();
    QWidget* buildFooter();

    // Asks the credentials store, so call it only when the tab shows or its list changes.
    void updateConfigured();
    void updateDownload();
    void updateError();
    void syncRows();
    IncomingRow* makeRow(const IncomingUpload& upload);

    ReceivedUploads* m_received;

    QWidget* m_notConfigured;
    QWidget* m_content;
    QWidget* m_downloadLine;
    QProgressBar* m_spinner;
    ElidedLabel* m_downloadText;
    QWidget* m_errorLine;
    ElidedLabel* m_errorText;
    QWidget* m_emptyView;
    QScrollArea* m_list;
    std::optional<KeyedRowList<IncomingRow, QString>> m_rows;
};
