#pragma once

#include "models/IncomingUpload.h"
#include "transfers/RowStates.h"
#include "views/CopiedOverlay.h"

#include <QWidget>

class ElidedLabel;
class QLabel;
class QToolButton;
class QVBoxLayout;

// One customer upload in the receive tab: the main line with its buttons, and the details (message
// and single files) that unfold below it. Downloading, copying the link and deleting are asked of
// the tab through signals. What the row holds open is kept by token in `states`, so a row made anew
// shows it again.
class IncomingRow : public QWidget {
    Q_OBJECT

public:
    IncomingRow(const IncomingUpload& upload, RowStates* states, QWidget* parent = nullptr);

    const IncomingUpload& upload() const { return m_upload; }
    // A changed record of the same upload (marked as downloaded, refreshed): the states stay.
    void setUpload(const IncomingUpload& upload);

    bool isExpanded() const { return m_state & RowStates::Unfolded; }
    bool showCopied() const { return m_state & RowStates::LinkCopied; }

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
    RowStates* m_states;
    int m_state = 0; // as last shown

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
