#pragma once

#include "models/TransferItem.h"

#include <QList>
#include <QString>

// The local history of the last 20 sent transfers in ~/.zanvolt/history.json.
// The file is the only state: every change reads it afresh and rewrites it
// whole. Reading never fails: entries that cannot be read are skipped and the
// rest kept. Before a damaged file is rewritten, it is kept beside it as
// "history.json.unreadable-<date>", so a read error never shrinks the history;
// a file that can be neither read nor kept is never rewritten. A failed write
// keeps the old file.
class HistoryStore {
public:
    static constexpr int maxEntries = 20;

    // An empty directory means the default, the home folder's ".zanvolt".
    explicit HistoryStore(const QString& directory = {});

    QString filePath() const { return m_filePath; }

    struct Contents {
        QList<TransferItem> items; // those that could be read, in file order
        bool damaged = false;      // something in the file could not be read
    };

    Contents read() const;
    QList<TransferItem> load() const { return read().items; }
    // False when the file could not be written (it then stays as it was).
    bool add(const TransferItem& item);
    bool remove(const TransferItem& item);
    // Keeps a damaged file beside the history (once per damaged content) and
    // returns the copy's path; empty when the file is intact or cannot be kept.
    QString keepUnreadable();

private:
    bool save(const QList<TransferItem>& items);

    QString m_filePath;
    QString m_keptCopy;
    QByteArray m_keptBytes;
};
