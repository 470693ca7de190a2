#pragma once

#include "transfers/RowStates.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QString>
#include <algorithm>
#include <functional>
#include <numeric>

// A list of records for a list view, one row per record, kept by a key (a transfer's code, an
// upload's token). assign() turns a new list into the fewest row changes: rows whose key left are
// removed, new keys inserted, changed records reported, and kept rows reordered only when their
// order really changed. The view's rows, and whatever is open in them, thus survive a poll.
// A hostile list may repeat a key: its n-th occurrence is matched with the n-th one before.
template <typename Record> class RecordListModel : public QAbstractListModel {
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

    void assign(const QList<Record>& next) {
        if (m_records.isEmpty() || next.isEmpty()) {
            replaceAll(next);
            return;
        }
        if (sameKeys(next)) {
            // The usual poll: nothing came or went.
            reportChanged(next, [](int row) { return row; });
            return;
        }
        // Rows that stand alike at both ends stay as they are; only the part between is matched.
        const int oldCount = int(m_records.size());
        const int newCount = int(next.size());
        int head = 0;
        while (head < std::min(oldCount, newCount) && m_keyOf(m_records[head]) == m_keyOf(next[head]))
            ++head;
        int tail = 0;
        while (tail < std::min(oldCount, newCount) - head &&
               m_keyOf(m_records[oldCount - 1 - tail]) == m_keyOf(next[newCount - 1 - tail]))
            ++tail;
        // (key, occurrence) of every row between, before and after.
        const QList<Slot> before = slotsOf(m_records, head, oldCount - tail);
        const QList<Slot> after = slotsOf(next, head, newCount - tail);
        QHash<Slot, int> target;
        target.reserve(after.size());
        for (int i = 0; i < after.size(); ++i)
            target.insert(after[i], head + i);

        // Rows whose key left, from the bottom up, one block at a time.
        const auto leaves = [&](int row) { return !target.contains(before[row - head]); };
        for (int i = oldCount - tail - 1; i >= head;) {
            if (!leaves(i)) {
                --i;
                continue;
            }
            int first = i;
            while (first > head && leaves(first - 1))
                --first;
            beginRemoveRows({}, first, i);
            m_records.remove(first, i - first + 1);
            endRemoveRows();
            i = first - 1;
        }
        QList<int> kept; // new position of each kept row, in the current order
        kept.reserve(m_records.size());
        QList<bool> isKept(newCount, false);
        const auto keep = [&](int position) {
            kept << position;
            isKept[position] = true;
        };
        for (int i = 0; i < head; ++i)
            keep(i);
        for (const Slot& slot : before)
            if (const auto it = target.constFind(slot); it != target.constEnd())
                keep(*it);
        for (int i = newCount - tail; i < newCount; ++i)
            keep(i);
        if (!std::is_sorted(kept.begin(), kept.end()))
            reorder(kept);

        // New keys, in blocks; the rows above each block already stand where the new list has them.
        for (int i = 0; i < next.size();) {
            if (isKept[i]) {
                ++i;
                continue;
            }
            int last = i;
            while (last + 1 < next.size() && !isKept[last + 1])
                ++last;
            beginInsertRows({}, i, last);
            m_records.insert(i, last - i + 1, next[i]); // placeholders, replaced below
            endInsertRows();
            i = last + 1;
        }
        reportChanged(next, [&](int row) { return isKept[row] ? row : -1; });
    }

private:
    using Slot = std::pair<QString, int>;

    void replaceAll(const QList<Record>& next) {
        if (!m_records.isEmpty()) {
            beginRemoveRows({}, 0, int(m_records.size()) - 1);
            m_records.clear();
            endRemoveRows();
        }
        if (!next.isEmpty()) {
            beginInsertRows({}, 0, int(next.size()) - 1);
            m_records = next;
            endInsertRows();
        }
    }

    bool sameKeys(const QList<Record>& next) const {
        if (next.size() != m_records.size())
            return false;
        for (qsizetype i = 0; i < next.size(); ++i)
            if (m_keyOf(next[i]) != m_keyOf(m_records[i]))
                return false;
        return true;
    }

    // Takes over `next`, whose rows stand where the model's do, and reports the rows that changed;
    // `kept(row)` is -1 for a row that is new anyway.
    template <typename Kept> void reportChanged(const QList<Record>& next, Kept kept) {
        QList<int> changed;
        for (int i = 0; i < next.size(); ++i)
            if (kept(i) >= 0 && !m_same(m_records[i], next[i]))
                changed << i;
        m_records = next;
        for (int i = 0; i < changed.size();) {
            int last = i;
            while (last + 1 < changed.size() && changed[last + 1] == changed[last] + 1)
                ++last;
            Q_EMIT dataChanged(index(changed[i]), index(changed[last]));
            i = last + 1;
        }
    }

    QList<Slot> slotsOf(const QList<Record>& records, int from, int to) const {
        QHash<QString, int> seen;
        QList<Slot> result;
        result.reserve(to - from);
        for (int i = from; i < to; ++i) {
            const QString key = m_keyOf(records[i]);
            result.append({key, seen[key]++});
        }
        return result;
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
            sorted << m_records[order[row]];
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
