#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>
#include <optional>

class ElidedLabel;
class QFrame;
class QLabel;
class QProgressBar;
class QVBoxLayout;
class RowListView;
struct IncomingUpload;
class ReceivedUploads;

// The receive tab: the not-configured view while no credentials are stored, otherwise the running
// download, the last error of the receive side, and either the empty view or the customer uploads,
// with "Aktualisieren" at the bottom. It holds no state of its own; the list is a view of the
// received uploads' model, kept by token, so a refresh keeps the rows and their states.
class ReceiveTab : public QWidget {
    Q_OBJECT

public:
    explicit ReceiveTab(ReceivedUploads* received, QWidget* parent = nullptr);

    RowListView* list() const { return m_list; }

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
    void updateEmpty();

    ReceivedUploads* m_received;

    QWidget* m_notConfigured;
    QWidget* m_content;
    QWidget* m_downloadLine;
    QProgressBar* m_spinner;
    ElidedLabel* m_downloadText;
    QWidget* m_errorLine;
    ElidedLabel* m_errorText;
    QWidget* m_emptyView;
    RowListView* m_list;
};
