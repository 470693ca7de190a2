#pragma once

#include "models/TransferItem.h"
#include "transfers/RowStates.h"
#include "views/CopiedOverlay.h"

#include <QPointer>
#include <QWidget>
#include <chrono>

class ElidedLabel;
class FileTypeIcon;
class QLabel;
class QMenu;
class QScrollArea;
class QToolButton;
class QVBoxLayout;
class RenameDialog;
class SentTransfers;

// One sent transfer in the send tab: the main line with its buttons, the password line, the loading
// line and the unfolding list of packed files. Copying the link, downloading and deleting are asked
// of the tab through signals; passwords and renaming go to the sent transfers directly. What the row
// holds open is kept by code in the sent transfers' RowStates, so a row made anew shows it again.
class TransferRow : public QWidget {
    Q_OBJECT

public:
    TransferRow(const TransferItem& transfer, SentTransfers* sent, QWidget* parent = nullptr);

    const TransferItem& transfer() const { return m_transfer; }
    // An in-place change of the same transfer (a password revealed, made or removed): the row's
    // states stay as they are.
    void setTransfer(const TransferItem& transfer);

    bool showCopied() const { return has(RowStates::LinkCopied); }
    bool isExpanded() const { return has(RowStates::Unfolded); }
    bool passwordVisible() const { return has(RowStates::PasswordShown); }
    bool isLoadingPassword() const { return has(RowStates::PasswordLoading); }
    bool passwordCopied() const { return has(RowStates::PasswordCopied); }
    // The open rename dialog of this transfer, if any.
    RenameDialog* renameDialog() const;

    static void setPasswordCopiedDuration(std::chrono::milliseconds duration);

    // What the buttons and menu entries named `action` do for `transfer`, with or without a row
    // widget: what its accessible item invokes. Questions and the rename dialog open over `parent`.
    // False for the password button, which only opens its menu, and for unknown names.
    static bool invoke(const QString& action, const TransferItem& transfer, SentTransfers* sent,
                       QWidget* parent);

    // Menu entries and actions, as the password menu and the context menu offer them.
    void copyLinkAction();
    void revealPassword();
    void copyPasswordOnly();
    void generatePassword();
    void regeneratePassword();
    void removePassword();
    void openRenameDialog();

Q_SIGNALS:
    void copyLinkRequested();
    void downloadRequested();
    void deleteRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMainLine(QVBoxLayout* layout);
    void buildPasswordLine(QVBoxLayout* layout);
    void buildLoadingLine(QVBoxLayout* layout);
    void rebuildPasswordMenu();
    void rebuildFileList();
    void refresh();
    void copyPasswordFromLine();
    RowStates* states() const;
    bool has(RowStates::Flag flag) const { return m_state & flag; }
    void set(RowStates::Flag flag, bool on);

    TransferItem m_transfer;
    SentTransfers* m_sent;
    int m_state = 0; // as last shown

    QWidget* m_mainLine;
    FileTypeIcon* m_typeIcon;
    ElidedLabel* m_name;
    QLabel* m_lock;
    QLabel* m_date;
    ElidedLabel* m_fileCount;
    ElidedLabel* m_downloaded;
    QToolButton* m_passwordButton;
    QMenu* m_passwordMenu;
    QToolButton* m_copyButton;
    QToolButton* m_expandButton;
    QMenu* m_contextMenu;
    CopiedOverlay* m_overlay = nullptr;

    QWidget* m_passwordLine;
    QLabel* m_password;
    QToolButton* m_copyPasswordButton;
    QWidget* m_loadingLine;

    QWidget* m_fileList;
    QScrollArea* m_fileScroll;
    QStringList m_listedNames;
};
