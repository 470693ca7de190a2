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
#include <QThreadPool>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

// The sent transfers: the server's list merged with the local history, addressed by code, and the
// send side's error line. What can be done with a transfer is SentTransferOperations'. Change
// signals fire only when a value really changes.
class SentTransfers : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<TransferItem> transfers READ transfers NOTIFY transfersChanged)
    Q_PROPERTY(std::optional<QString> error READ error NOTIFY errorChanged)

public:
    // `historyDirectory` empty: ~/.zanvolt. The history is read off the main thread; the list fills
    // when it is read (historyRead()).
    SentTransfers(ServerAccount* account, const QString& historyDirectory, QObject* parent = nullptr);

    QList<TransferItem> transfers() const { return m_transfers; }
    // The same list for a list view, one row per transfer, kept by code.
    RecordListModel<TransferItem>* model() { return &m_model; }
    std::optional<QString> error() const { return m_error; }
    // The send side's error line; also for what the views and the operations find out, such as a
    // transfer gone.
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
    // A finished upload: first in the list at once, then recorded in the history off the main thread.
    void addUploaded(const TransferItem& item);
    // What the server said about the transfer's password; kept in memory only.
    void setPassword(const QString& code, const std::optional<QString>& password, bool hasPassword);
    // Gone from the list and the history at once.
    void remove(const TransferItem& transfer);

Q_SIGNALS:
    void transfersChanged();
    void errorChanged();
    // The history file has been read into the list (once, after construction), or could not be.
    void historyRead();

private:
    using Changes = RecordListModel<TransferItem>::Changes;

    void setTransfers(QList<TransferItem> transfers);
    // A poll's new list, with its row changes worked out off the main thread.
    void applyChanges(Changes changes);
    QCoro::Task<> loadHistory();
    QCoro::Task<> recordUploaded(TransferItem item);
    QCoro::Task<> refreshList(std::optional<ServerAccount::Reading> given);

    ServerAccount* m_account;
    // Shared with the work on other threads, which may outlive this object.
    std::shared_ptr<HistoryStore> m_historyStore;
    QList<TransferItem> m_transfers;
    RecordListModel<TransferItem> m_model;
    std::optional<QString> m_error;
    std::optional<ErrorText> m_refreshFailure;
    // The error line's text for an unreadable list, taken back once a list is read again.
    std::optional<QString> m_listError;
    RefreshGate m_refreshes;
    // Local writes of the history file, so that a read overtaken by one is read again.
    int m_historyWrites = 0;
    bool m_historyRead = false;
    // One thread, in order, for the history's read at start and every write: a write never overtakes
    // another, and the read sees every write asked for before it. Last, so that the writes still queued
    // are done before the rest goes: an upload that finished just before quitting stays recorded.
    QThreadPool m_historyThread;
};
