#include "transfers/SentTransfers.h"

#include "models/ErrorText.h"
#include "models/Logging.h"
#include "services/APIService.h"
#include "services/APIServiceOutgoing.h"
#include "services/OffMainThread.h"
#include "transfers/Detached.h"
#include "transfers/ServerAccount.h"
#include "transfers/TransferPresenter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <QScopeGuard>
#include <QSet>
#include <QtConcurrent>
#include <algorithm>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcorosignal.h>

namespace {
// The first item with this code gets the password; the list is a copy, so the
// caller can publish it in one change.
QList<TransferItem> withPassword(QList<TransferItem> items, const QString& code,
                                 const std::optional<QString>& password, bool hasPassword) {
    const auto it =
        std::find_if(items.begin(), items.end(), [&](const TransferItem& i) { return i.code == code; });
    if (it != items.end()) {
        it->password = password;
        it->hasPassword = hasPassword;
    }
    return items;
}

QStringList namesOf(const OutgoingTransfer& transfer, const TransferItem* inHistory) {
    QStringList names;
    if (inHistory && !inHistory->originalFileNames.isEmpty())
        return inHistory->originalFileNames;
    if (const auto entries = transfer.primaryZipEntries(); !entries.isEmpty()) {
        for (const auto& entry : entries)
            names.append(entry.name);
    } else if (transfer.files.size() > 1) {
        for (const auto& file : transfer.files)
            names.append(file.name);
    }
    return names;
}
} // namespace

namespace {
// The server's list, with the names packed as the history knows them, then what only the history
// still holds, newest first; known passwords carried over by code.
QList<TransferItem> merged(const QList<OutgoingTransfer>& listed, const QList<TransferItem>& history,
                           const QHash<QString, QString>& knownPasswords) {
    const auto knownPassword = [&](const QString& code) {
        const auto it = knownPasswords.constFind(code);
        return it == knownPasswords.constEnd() ? std::optional<QString>() : std::optional<QString>(*it);
    };
    QHash<QString, const TransferItem*> firstInHistory;
    for (const TransferItem& item : history) {
        if (!firstInHistory.contains(item.code))
            firstInHistory.insert(item.code, &item);
    }

    QList<TransferItem> merged;
    merged.reserve(listed.size() + history.size());
    QSet<QString> seen;
    for (const OutgoingTransfer& transfer : listed) {
        seen.insert(transfer.code);
        TransferItem item;
        item.fileName = transfer.files.isEmpty() ? transfer.code : transfer.files.first().name;
        item.code = transfer.code;
        item.downloadURL = transfer.downloadURL;
        item.uploadDate = transfer.createdAt;
        item.originalFileNames = namesOf(transfer, firstInHistory.value(transfer.code));
        item.downloadedAt = transfer.downloadedAt;
        item.hasPassword = transfer.hasPassword.value_or(false);
        item.password = knownPassword(transfer.code);
        merged.append(std::move(item));
    }
    for (const TransferItem& item : history) {
        if (seen.contains(item.code))
            continue;
        TransferItem copy = item;
        copy.password = knownPassword(item.code);
        merged.append(std::move(copy));
    }
    std::stable_sort(merged.begin(), merged.end(), [](const TransferItem& a, const TransferItem& b) {
        return a.uploadDate > b.uploadDate;
    });
    merged.squeeze(); // kept for as long as it is shown
    return merged;
}
} // namespace

SentTransfers::SentTransfers(ServerAccount* account, const QString& historyDirectory, QObject* parent)
    : QObject(parent), m_account(account), m_historyStore(std::make_shared<HistoryStore>(historyDirectory)),
      m_model([](const TransferItem& item) { return item.code; },
              // A poll gives server items fresh ids; the row shows the rest.
              [](const TransferItem& a, const TransferItem& b) {
                  return a.fileName == b.fileName && a.code == b.code && a.downloadURL == b.downloadURL &&
                         a.uploadDate == b.uploadDate && a.originalFileNames == b.originalFileNames &&
                         a.downloadedAt == b.downloadedAt && a.hasPassword == b.hasPassword &&
                         a.password == b.password;
              },
              [](const TransferItem& item) { return TransferPresenter(item).accessibleName(); }) {
    m_historyThread.setMaxThreadCount(1);
    // Read off the main thread: a long history would keep the panel from showing.
    detach(loadHistory(), this);
}

namespace {
// A damaged history is kept beside it before anything rewrites it; `kept` is the copy, if any.
struct HistoryRead {
    HistoryStore::Contents contents;
    QString kept;
};
} // namespace

QCoro::Task<> SentTransfers::loadHistory() {
    QPointer<SentTransfers> self(this);
    HistoryRead history;
    try {
        for (;;) {
            const int writes = m_historyWrites;
            std::function<HistoryRead()> read = [store = m_historyStore] {
                HistoryRead result{store->read(), {}};
                if (result.contents.damaged)
                    result.kept = store->keepUnreadable();
                return result;
            };
            history = co_await offMainThread(std::move(read), &m_historyThread);
            if (!self)
                co_return;
            // Written meanwhile (an upload finished, a row was deleted): that write runs after this
            // read, so what was read may be gone or lack an entry; read what the write left.
            if (writes == m_historyWrites)
                break;
        }
    } catch (const std::exception& error) {
        // A poll waits for the history: it must not wait forever. The list shows the server's.
        qCWarning(lcTransfers) << "history not read:" << describeError(error).text;
        if (!self)
            co_return;
        history = {};
    }
    m_historyRead = true;
    const auto announce = qScopeGuard([this] { Q_EMIT historyRead(); });
    if (m_transfers.isEmpty()) {
        setTransfers(std::move(history.contents.items));
    } else {
        // What came before the history (an upload not yet written, a listed poll) stays first; the
        // history adds what the list lacks.
        QSet<QString> shown;
        for (const TransferItem& item : std::as_const(m_transfers))
            shown.insert(item.code);
        QList<TransferItem> transfers = m_transfers;
        for (TransferItem& item : history.contents.items)
            if (!shown.contains(item.code))
                transfers.append(std::move(item));
        setTransfers(std::move(transfers));
        releaseOffMainThread(std::move(history.contents.items));
    }
    if (!history.contents.damaged)
        co_return;
    // Said once, at start.
    if (history.kept.isEmpty())
        setError(QCoreApplication::translate("SentTransfers",
                                             "Der Verlauf ist nicht lesbar und wird nicht überschrieben: ") +
                 m_historyStore->filePath());
    else
        setError(QCoreApplication::translate(
                     "SentTransfers", "Der Verlauf war teilweise unlesbar; die Datei wurde aufbewahrt: ") +
                 history.kept);
}

void SentTransfers::setTransfers(QList<TransferItem> transfers) {
    if (m_transfers == transfers)
        return;
    m_transfers = std::move(transfers);
    // First, so the rows are up to date before anyone else hears of a change.
    releaseOffMainThread(m_model.assign(m_transfers));
    Q_EMIT transfersChanged();
}

void SentTransfers::setError(std::optional<QString> error) {
    if (m_error == error)
        return;
    m_error = std::move(error);
    Q_EMIT errorChanged();
}

void SentTransfers::clearError() {
    setError(std::nullopt);
}

bool SentTransfers::contains(const QString& code) const {
    return std::any_of(m_transfers.cbegin(), m_transfers.cend(),
                       [&](const TransferItem& item) { return item.code == code; });
}

void SentTransfers::setPassword(const QString& code, const std::optional<QString>& password,
                                bool hasPassword) {
    setTransfers(withPassword(m_transfers, code, password, hasPassword));
}

void SentTransfers::addUploaded(const TransferItem& item) {
    // Shown with its password, which the file never holds.
    QList<TransferItem> shown = m_transfers;
    shown.prepend(item);
    setTransfers(std::move(shown));
    // Counted before anything waits, so that a history read already asked for is read again.
    ++m_historyWrites;
    detach(recordUploaded(item), this);
}

QCoro::Task<> SentTransfers::recordUploaded(TransferItem item) {
    QPointer<SentTransfers> self(this);
    // A long history, read and rewritten, would stall the panel.
    std::function<bool()> write = [store = m_historyStore, item = std::move(item)] {
        return store->add(item);
    };
    const bool written = co_await offMainThread(std::move(write), &m_historyThread);
    // Not in the file, but still in the list: the server's list carries it from now on.
    if (self && !written)
        setError(
            QCoreApplication::translate("SentTransfers", "Der Verlauf konnte nicht gespeichert werden: ") +
            m_historyStore->filePath());
}

void SentTransfers::remove(const TransferItem& transfer) {
    const TransferItem target = transfer; // the argument may be an element of the list changed below
    ++m_historyWrites;
    m_historyThread.start([store = m_historyStore, target] { store->remove(target); });
    QList<TransferItem> remaining = m_transfers;
    remaining.removeIf([&](const TransferItem& item) { return item.code == target.code; });
    setTransfers(std::move(remaining));
}

QCoro::Task<> SentTransfers::refresh(std::optional<ServerAccount::Reading> reading) {
    // A reading handed in serves the first run only: a refresh asked for meanwhile reads afresh.
    return m_refreshes.run(
        [this, reading]() mutable { return refreshList(std::exchange(reading, std::nullopt)); });
}

QCoro::Task<> SentTransfers::refreshList(std::optional<ServerAccount::Reading> given) {
    QPointer<SentTransfers> self(this);
    ServerAccount::Reading reading;
    if (given)
        reading = std::move(*given);
    else
        reading = co_await m_account->read();
    if (!self || reading.state == ServerAccount::State::NotConfigured)
        co_return;
    if (reading.state == ServerAccount::State::Unavailable) {
        // As offline: what is shown stays; the store is not asked a second time.
        m_refreshFailure = ErrorText{ErrorKind::Keychain, reading.problem};
        if (m_transfers.isEmpty() && m_historyRead)
            setTransfers(m_historyStore->load());
        co_return;
    }
    // Passwords live only in memory; taken before waiting, carried over by code.
    QHash<QString, QString> knownPasswords;
    for (const TransferItem& item : std::as_const(m_transfers)) {
        if (item.password)
            knownPasswords.insert(item.code, *item.password);
    }
    QList<OutgoingTransfer> listed;
    try {
        listed = co_await APIService::fetchOutgoing(reading.server());
    } catch (const std::exception& error) {
        // Offline is normal for a tray client: keep what is shown, say nothing. A list that arrived
        // but holds a record that cannot be read is said, or the list would silently stop changing.
        const ErrorText failure = describeError(error);
        qCInfo(lcTransfers) << "sent transfers not refreshed:" << failure.text;
        if (self)
            self->m_refreshFailure = failure;
        if (self && (failure.kind == ErrorKind::Platform || failure.kind == ErrorKind::Unknown)) {
            self->m_listError =
                QCoreApplication::translate("SentTransfers", "Fehler beim Laden der Transfers: ") +
                failure.text;
            self->setError(self->m_listError);
        }
        if (self && self->m_transfers.isEmpty() && self->m_historyRead)
            self->setTransfers(self->m_historyStore->load());
        co_return;
    }
    if (!self)
        co_return;
    m_refreshFailure.reset();
    if (m_listError && m_error == m_listError)
        clearError();
    m_listError.reset();
    // The history first: the rows' changes are worked out against the list that holds it.
    while (!m_historyRead) {
        co_await qCoro(this, &SentTransfers::historyRead);
        if (!self)
            co_return;
    }
    // Reading a long history, merging thousands of transfers and comparing them with the rows would
    // stall the panel; only the rows' changes are made here.
    std::function<Changes()> merge = [listed = std::move(listed), knownPasswords, history = m_historyStore,
                                      shown = m_transfers, differ = m_model.differ()]() mutable {
        QList<TransferItem> transfers = merged(listed, history->load(), knownPasswords);
        listed = {};
        return differ(std::exchange(shown, {}), std::move(transfers));
    };
    Changes changes = co_await offMainThread(std::move(merge));
    if (self)
        applyChanges(std::move(changes));
}

void SentTransfers::applyChanges(Changes changes) {
    if (changes.identical)
        return;
    if (!m_transfers.isSharedWith(changes.base)) {
        setTransfers(std::move(changes.next)); // the list changed meanwhile
        releaseOffMainThread(std::move(changes.base));
        return;
    }
    m_transfers = changes.next;
    releaseOffMainThread(m_model.apply(std::move(changes)));
    Q_EMIT transfersChanged();
}
