#pragma once

#include "models/ErrorText.h"
#include "models/TransferItem.h"
#include "services/HistoryStore.h"
#include "transfers/RecordListModel.h"
#include "transfers/RefreshGate.h"
#include "transfers/ServerAccount.h"

#include <QList>
#include <QObject>
#include <QString>
#include <optional>
#include <qcoro/qcorotask.h>

class DesktopServices;

// The sent transfers: the server's list merged with the local history, their passwords (kept in
// memory only), renames, downloads, deletions and links. Addressed by code. Change signals fire
// only when a value really changes.
class SentTransfers : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<TransferItem> transfers READ transfers NOTIFY transfersChanged)
    Q_PROPERTY(std::optional<QString> error READ error NOTIFY errorChanged)

public:
    // `historyDirectory` empty: ~/.zanvolt. The history is read on the thread pool; the list fills
    // when it is read (historyRead()).
    SentTransfers(ServerAccount* account, const QString& historyDirectory, DesktopServices& desktop,
                  QObject* parent = nullptr);

    QList<TransferItem> transfers() const { return m_transfers; }
    // The same list for a list view, one row per transfer, kept by code.
    RecordListModel<TransferItem>* model() { return &m_model; }
    std::optional<QString> error() const { return m_error; }
    // The send side's error line; also for what the views find out, such as a transfer gone.
    void setError(std::optional<QString> error);
    void clearError();
    bool contains(const QString& code) const;

    // Lists the server's transfers and merges the history; offline, keeps what is shown. A list that
    // arrives but cannot be read is said in the error line, and what is shown stays. One list
    // request at a time: asked for while one runs, it waits for the next (RefreshGate).
    // `reading`: the store's answer the caller already has (a poll reads once for both lists).
    QCoro::Task<> refresh(std::optional<ServerAccount::Reading> reading = std::nullopt);
    // Why the last refresh could not list the server's transfers; nothing after a success.
    std::optional<ErrorText> refreshFailure() const { return m_refreshFailure; }
    // A finished upload: recorded in the history, with its password carried into the list.
    void addUploaded(const TransferItem& item);

    QCoro::Task<std::optional<QString>> revealPassword(QString code);
    QCoro::Task<std::optional<QString>> regeneratePassword(QString code);
    QCoro::Task<bool> removePassword(QString code);
    QCoro::Task<bool> renameOutgoingFile(QString code, QString oldName, QString newName);
    // Gone from the list and the history at once; the server's deletion runs in the background.
    void remove(const TransferItem& transfer);
    // Saves the file into downloadFolder() under a free name and shows it in the file manager.
    QCoro::Task<> downloadOutgoing(TransferItem transfer);
    bool isDownloading() const { return m_downloads > 0; }
    // "Zanvolt" in the user's Downloads folder.
    static QString downloadFolder();

    // True when the clipboard took the link.
    bool copyLink(const TransferItem& transfer);
    // The known password, or the server's when it is not known yet. True when a known password is
    // on the clipboard now.
    bool copyPassword(const TransferItem& transfer);

Q_SIGNALS:
    void transfersChanged();
    void errorChanged();
    void isDownloadingChanged();
    // The history file has been read into the list (once, after construction).
    void historyRead();

private:
    using Changes = RecordListModel<TransferItem>::Changes;

    void setTransfers(QList<TransferItem> transfers);
    // A poll's new list, with its row changes worked out off the main thread.
    void applyChanges(Changes changes);
    QCoro::Task<> loadHistory();
    QCoro::Task<> refreshList(std::optional<ServerAccount::Reading> given);
    QCoro::Task<> deleteOnServer(QString code);
    bool copyText(const QString& text);

    ServerAccount* m_account;
    DesktopServices& m_desktop;
    HistoryStore m_historyStore;
    QList<TransferItem> m_transfers;
    RecordListModel<TransferItem> m_model;
    std::optional<QString> m_error;
    std::optional<ErrorText> m_refreshFailure;
    int m_downloads = 0;
    // The error line's text for an unreadable list, taken back once a list is read again.
    std::optional<QString> m_listError;
    RefreshGate m_refreshes;
    // Local writes of the history file, so that a read overtaken by one is read again.
    int m_historyWrites = 0;
    bool m_historyRead = false;
};
