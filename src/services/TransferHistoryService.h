#pragma once

#include "TransferItem.h"

#include <QList>
#include <QString>

// The local history of the last 20 sent transfers in ~/.zanvolt/history.json.
// The file is the only state: every change reads it afresh and rewrites it
// whole. Reading never fails (a missing or damaged file is an empty history)
// and a failed write keeps the old file.
class TransferHistoryService {
public:
    static constexpr int maxEntries = 20;

    // An empty directory means the default, the home folder's ".zanvolt".
    explicit TransferHistoryService(const QString& directory = {});

    QString fileURL() const { return m_fileURL; }

    QList<TransferItem> load() const;
    void add(const TransferItem& item);
    void remove(const TransferItem& item);

private:
    void save(const QList<TransferItem>& items);

    QString m_fileURL;
};
