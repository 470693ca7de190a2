#pragma once

#include "transfers/RowStates.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QString>
#include <algorithm>
#include <functional>
#include <numeric>
#include <utility>

// A list of records for a list view, one row per record, kept by a key (a transfer's code, an
// upload's token). assign() turns a new list into the fewest row changes: rows whose key left are
// removed, new keys inserted, changed records reported, and kept rows reordered only when their
// order really changed. The view's rows, and whatever is open in them, thus survive a poll.
// A hostile list may repeat a key: its n-th occurrence is matched with the n-th one before.
template <typename Record> class RecordListModel : public QAbstractListModel {
    using Slot = std::pair<QString, int>;

public:
    using KeyOf = std::function<QString(const Record&)>;
    // Whether two records of one key look and act alike (differences the user never sees aside).
    using Same = std::function<bool(const Record&, const Record&)>;
    // The row's texts, as a screen reader reads them.
    using TextOf = std::function<QString(const Record&)>;

    RecordListModel(KeyOf keyOf, Same same, TextOf textOf, QObject* parent = nullptr)
        : QAbstractListModel(parent), m_keyOf(std::move(keyOf)), m_same(std::move(same)),
          m_textOf(std::move(textOf)) {
        // A state's change is a change of the rows of its key.
        QObject::connect(&m_states, &RowStates::changed, this, [this](const QString& key) {
            for (int row = 0; row < int(m_records.size()); ++row)
                if (m_keyOf(m_records[row]) == key)
                    Q_EMIT dataChanged(index(row), index(row), {RowStates::Role});
        });
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_records.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
            return {};
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return m_textOf(m_records[index.row()]);
        if (role == KeyRole)
            return m_keyOf(m_records[index.row()]);
        if (role == RowStates::Role)
            return m_states.of(m_keyOf(m_records[index.row()]));
        return {};
    }

    static constexpr int KeyRole = Qt::UserRole;

    const Record& record(int row) const { return m_records[row]; }
    // What the rows hold open, by key.
    RowStates* states() { return &m_states; }
    const QList<Record>& records() const { return m_records; }

    // What assign() does to the rows, worked out apart from the model (off the main thread for long
    // lists) against `base`, the records the model held then; apply() then costs what changed.
    struct Changes {
        QList<Record> base;
        QList<Record> next;
        bool identical = false;              // not a value differs: nothing to do
        bool replaceAll = false;             // one side is empty
        QList<std::pair<int, int>> removed;  // blocks of rows whose key left, bottom up
        QList<int> reordered;                // new positions of the rows left, when their order changed
        QList<std::pair<int, int>> inserted; // blocks of new keys, top down
        QList<std::pair<int, int>> changed;  // blocks of kept rows whose record looks different
    };

    // Works out Changes with copies of the model's key and likeness: safe on another thread, and
    // after the model is gone.
    struct Differ {
        KeyOf keyOf;
        Same same;

        Changes operator()(QList<Record> base, QList<Record> next) const {
            Changes changes;
            changes.identical = base == next;
            changes.base = std::move(base);
            if (changes.identical)
                return changes; // the new list is freed here, off the main thread
            changes.next = std::move(next);
            const QList<Record>& before = changes.base;
            const QList<Record>& after = changes.next;
            if (before.isEmpty() || after.isEmpty()) {
                changes.replaceAll = true;
                return changes;
            }
            // Rows that stand alike at both ends stay as they are; only the part between is matched.
            const int oldCount = int(before.size());
            const int newCount = int(after.size());
            int head = 0;
            while (head < std::min(oldCount, newCount) && keyOf(before[head]) == keyOf(after[head]))
                ++head;
            int tail = 0;
            while (tail < std::min(oldCount, newCount) - head &&
                   keyOf(before[oldCount - 1 - tail]) == keyOf(after[newCount - 1 - tail]))
                ++tail;
            // (key, occurrence) of every row between, before and after.
            const QList<Slot> beforeSlots = slotsOf(before, head, oldCount - tail);
            const QList<Slot> afterSlots = slotsOf(after, head, newCount - tail);
            QHash<Slot, int> target;
            target.reserve(afterSlots.size());
            for (int i = 0; i < afterSlots.size(); ++i)
                target.insert(afterSlots[i], head + i);

            // Where each old row goes in the new list, -1 when its key left.
            const auto newRowOf = [&](int row) {
                if (row < head)
                    return row;
                if (row >= oldCount - tail)
                    return row - oldCount + newCount;
                return target.value(beforeSlots[row - head], -1);
            };
            for (int i = oldCount - tail - 1; i >= head;) {
                if (newRowOf(i) >= 0) {
                    --i;
                    continue;
                }
                int first = i;
                while (first > head && newRowOf(first - 1) < 0)
                    --first;
                changes.removed.append({first, i});
                i = first - 1;
            }
            QList<int> kept; // new position of each kept row, in the current order
            kept.reserve(oldCount);
            QList<bool> isKept(newCount, false);
            QList<int> changed;
            for (int row = 0; row < oldCount; ++row) {
                const int position = newRowOf(row);
                if (position < 0)
                    continue;
                kept << position;
                isKept[position] = true;
                if (!same(before[row], after[position]))
                    changed << position;
            }
            if (!std::is_sorted(kept.begin(), kept.end()))
                changes.reordered = std::move(kept);
            for (int i = 0; i < newCount;) {
                if (isKept[i]) {
                    ++i;
                    continue;
                }
                int last = i;
                while (last + 1 < newCount && !isKept[last + 1])
                    ++last;
                changes.inserted.append({i, last});
                i = last + 1;
            }
            std::sort(changed.begin(), changed.end());
            for (int i = 0; i < changed.size();) {
                int last = i;
                while (last + 1 < changed.size() && changed[last + 1] == changed[last] + 1)
                    ++last;
                changes.changed.append({changed[i], changed[last]});
                i = last + 1;
            }
            return changes;
        }

        QList<Slot> slotsOf(const QList<Record>& records, int from, int to) const {
            QHash<QString, int> seen;
            QList<Slot> result;
            result.reserve(to - from);
            for (int i = from; i < to; ++i) {
                const QString key = keyOf(records[i]);
                result.append({key, seen[key]++});
            }
            return result;
        }
    };

    Differ differ() const { return Differ{m_keyOf, m_same}; }

    // Turns the rows into `next` with the fewest row changes. Returns the records the rows held
    // before, for the caller to let go where freeing thousands of them holds up no one. The rows
    // change in place, without copying the list, when the model alone holds it.
    QList<Record> assign(const QList<Record>& next) {
        if (m_records.isSharedWith(next))
            return {}; // already applied
        return apply(differ()(m_records, next));
    }

    // Changes worked out against what the model still holds take effect as they are; against
    // anything older they are worked out afresh. Returns what assign() returns.
    QList<Record> apply(Changes changes) {
        if (!m_records.isSharedWith(changes.base)) {
            QList<Record> next = changes.identical ? std::move(changes.base) : std::move(changes.next);
            changes = differ()(m_records, std::move(next));
        }
        changes.base = {}; // the rows below change in place
        if (changes.identical)
            return {};
        if (changes.replaceAll)
            return replaceAll(changes.next);
        for (const auto& [first, last] : std::as_const(changes.removed)) {
            beginRemoveRows({}, first, last);
            m_records.remove(first, last - first + 1);
            endRemoveRows();
        }
        if (!changes.reordered.isEmpty())
            reorder(changes.reordered);
        // The rows above each block already stand where the new list has them. The new list is read
        // with at(): its owner shares it, and a non-const read would copy it whole.
        for (const auto& [first, last] : std::as_const(changes.inserted)) {
            beginInsertRows({}, first, last);
            m_records.insert(first, last - first + 1, changes.next.at(first)); // placeholders, replaced below
            endInsertRows();
        }
        QList<Record> previous = std::exchange(m_records, changes.next);
        for (const auto& [first, last] : std::as_const(changes.changed))
            Q_EMIT dataChanged(index(first), index(last));
        return previous;
    }

private:
    QList<Record> replaceAll(const QList<Record>& next) {
        QList<Record> previous;
        if (!m_records.isEmpty()) {
            beginRemoveRows({}, 0, int(m_records.size()) - 1);
            previous = std::exchange(m_records, {});
            endRemoveRows();
        }
        if (!next.isEmpty()) {
            beginInsertRows({}, 0, int(next.size()) - 1);
            m_records = next;
            endInsertRows();
        }
        return previous;
    }

    // The kept rows to the order of the new list; `kept` holds their new positions (among all rows
    // of the new list, so only their relative order counts here).
    void reorder(const QList<int>& kept) {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        QList<int> order(kept.size()); // order[newRow] = oldRow
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](int a, int b) { return kept[a] < kept[b]; });
        QList<int> newRowOf(kept.size());
        QList<Record> sorted;
        sorted.reserve(m_records.size());
        for (int row = 0; row < order.size(); ++row) {
            newRowOf[order[row]] = row;
            sorted << std::move(m_records[order[row]]);
        }
        m_records = std::move(sorted);
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& old : from)
            to << index(newRowOf[old.row()]);
        changePersistentIndexList(from, to);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    QList<Record> m_records;
    RowStates m_states;
    KeyOf m_keyOf;
    Same m_same;
    TextOf m_textOf;
};
