#pragma once

#include "CopiedOverlay.h"
#include "IncomingUpload.h"

#include <QWidget>

class ElidedLabel;
class QLabel;
class QToolButton;
class QVBoxLayout;

// One customer upload in the receive tab: the main line with its buttons, and the details (message
// and single files) that unfold below it. Downloading, copying the link and deleting are asked of
// the tab through signals. The view states live as long as this widget: the tab keeps the row for
// as long as the upload's token is listed.
class IncomingRow : public QWidget {
    Q_OBJECT

public:
    explicit IncomingRow(const IncomingUpload& upload, QWidget* parent = nullptr);

    const IncomingUpload& upload() const { return m_upload; }
    // A changed record of the same upload (marked as downloaded, refreshed): the states stay.
    void setUpload(const IncomingUpload& upload);

    bool isExpanded() const { return m_isExpanded; }
    bool showCopied() const { return m_overlay && m_overlay->isShowing(); }

    // The copy button and a click on the main line: asks for the link and shows "Link kopiert".
    void copyLinkAction();

Q_SIGNALS:
    void downloadRequested();
    void copyLinkRequested();
    void deleteRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMainLine(QVBoxLayout* layout);
    void refresh();
    void rebuildFileRows();

    IncomingUpload m_upload;
    bool m_isExpanded = false;

    QWidget* m_mainLine;
    QLabel* m_dot;
    ElidedLabel* m_headline;
    ElidedLabel* m_customer;
    ElidedLabel* m_order;
    ElidedLabel* m_fileCount;
    ElidedLabel* m_size;
    QLabel* m_date;
    QToolButton* m_downloadButton;
    QToolButton* m_copyButton;
    QToolButton* m_expandButton;
    CopiedOverlay* m_overlay = nullptr;

    QWidget* m_details;
    ElidedLabel* m_message;
    QWidget* m_fileRows;
    QList<IncomingFile> m_listedFiles;
};
