#pragma once

#include "Style.h"

#include <QFrame>
#include <QHash>
#include <QList>
#include <QScrollArea>
#include <QVBoxLayout>

// One row widget per record, each with a divider below it, kept in a scrolling
// list in the records' order. A refresh updates the rows of records that stay in place,
// so their state (overlays, running downloads, focus) survives it; only new
// keys make new rows.
template <typename Row, typename Key> class KeyedRowList {
public:
    // Fills `area` with the list; `rightMargin` keeps rows clear of its scroll bar.
    KeyedRowList(QScrollArea* area, int rightMargin) {
        area->setFrameShape(QFrame::NoFrame);
        area->setWidgetResizable(true);
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        auto* content = new QWidget;
        m_layout = new QVBoxLayout(content);
        m_layout->setContentsMargins(0, 0, rightMargin, 0);
        m_layout->setSpacing(0);
        m_layout->addStretch(1);
        area->setWidget(content);
    }

    QList<Row*> rows() const {
        QList<Row*> rows;
        rows.reserve(m_entries.size());
        for (const Entry& entry : m_entries)
            rows << entry.row;
        return rows;
    }

    // keyOf(record) -> Key; update(Row*, record) refreshes a kept row; make(record) -> Row* builds one.
    template <typename Record, typename KeyOf, typename Update, typename Make>
    void sync(const QList<Record>& records, KeyOf keyOf, Update update, Make make) {
        // A multi-hash: a hostile list may repeat a key, and each of its rows must still be matched
        // or removed, never left behind.
        QMultiHash<Key, Entry> existing;
        for (const Entry& entry : std::as_const(m_entries))
            existing.insert(entry.key, entry);

        QList<Entry> next;
        next.reserve(records.size());
        for (const Record& record : records) {
            const Key key = keyOf(record);
            const auto it = existing.find(key);
            if (it != existing.end()) {
                update(it->row, record);
                next << *it;
                existing.erase(it);
            } else {
                next << Entry{make(record), divider(), key};
            }
        }
        // A row may be the sender of the signal that led here (its delete button): it goes later.
        for (const Entry& gone : std::as_const(existing)) {
            for (QWidget* widget : {static_cast<QWidget*>(gone.row), static_cast<QWidget*>(gone.divider)}) {
                m_layout->removeWidget(widget);
                widget->hide();
                widget->deleteLater();
            }
        }

        QList<Row*> seated, wanted;
        for (const Entry& entry : std::as_const(m_entries))
            if (!existing.contains(entry.key))
                seated << entry.row;
        for (const Entry& entry : std::as_const(next))
            wanted << entry.row;
        if (seated != wanted) {
            // Re-seating widgets in the layout is cheap.
            for (const Entry& entry : std::as_const(next)) {
                m_layout->removeWidget(entry.row);
                m_layout->removeWidget(entry.divider);
            }
            for (qsizetype i = 0; i < next.size(); ++i) {
                m_layout->insertWidget(int(2 * i), next[i].row);
                m_layout->insertWidget(int(2 * i + 1), next[i].divider);
            }
        }
        m_entries = next;

        // Screen readers list a widget's children, and Tab walks the focus chain, in the order the
        // widgets were made; both must follow the rows as drawn, newest on top.
        QWidget* previous = nullptr;
        for (const Entry& entry : std::as_const(m_entries)) {
            entry.row->raise();
            entry.divider->raise();
            for (QWidget* widget : entry.row->template findChildren<QWidget*>()) {
                if (!(widget->focusPolicy() & Qt::TabFocus))
                    continue;
                if (previous)
                    QWidget::setTabOrder(previous, widget);
                previous = widget;
            }
        }
    }

private:
    struct Entry {
        Row* row;
        QFrame* divider;
        Key key;
    };

    static QFrame* divider() {
        auto* line = new QFrame;
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Plain);
        Style::setTextColor(line, Style::faded(Style::secondary(), 0.3));
        return line;
    }

    QVBoxLayout* m_layout;
    QList<Entry> m_entries;
};
