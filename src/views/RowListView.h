#pragma once

#include <QHash>
#include <QListView>
#include <QPersistentModelIndex>
#include <QPointer>
#include <functional>

class QAccessibleInterface;
class RowCell;

// A list of record rows whose cost does not grow with the records. Rows nobody works with are
// painted straight from their records (Rows::paint), all alike in height, the button under the
// pointer lit as a widget's would be, with its tooltip. A real row widget stands over a record only
// while it is needed: pressed (until the pointer goes to another row), the current row of the
// keyboard, and any row that holds something open: a state of the model's RowStates::Role (unfolded, a
// password shown, an overlay), a menu or a question.
// Live rows follow inserts, removals and moves, so what is open in them survives a poll; once a row
// holds nothing and is neither under the pointer nor current, its widget goes again.
class RowListView : public QListView {
    Q_OBJECT

public:
    struct Rows {
        // A row widget for the record at the index.
        std::function<QWidget*(const QModelIndex&)> make;
        // Gives a row widget the record at the index.
        std::function<void(QWidget*, const QModelIndex&)> update;
        // Paints the folded row of the record at the index into the rectangle, as its widget shows
        // it with the pointer at the point (outside the rectangle: elsewhere).
        std::function<void(QPainter*, const QRect&, const QModelIndex&, const QPoint&)> paint;
        // The tooltip of what the folded row shows at the point.
        std::function<QString(const QRect&, const QModelIndex&, const QPoint&)> toolTip;
        // The height of a folded row at a width.
        std::function<int(int)> height;
        // What a screen reader offers on the row: the names of its buttons and menu entries.
        std::function<QStringList(const QModelIndex&)> actions;
        // Does what the button or menu entry named so does, without a row widget; false where
        // only the widget can (a button that opens its menu).
        std::function<bool(const QModelIndex&, const QString&)> invoke;
        // What it reads besides the row's text (may be unset).
        std::function<QString(const QModelIndex&)> description;
        // Whether the row has something to unfold.
        std::function<bool(const QModelIndex&)> canUnfold;
        // The lines the row draws below its main line now (a password, its files), in drawn order.
        std::function<QStringList(const QModelIndex&)> lines;
    };

    // `rightMargin` keeps the rows clear of the scroll bar.
    RowListView(QAbstractItemModel* model, Rows rows, int rightMargin, QWidget* parent = nullptr);
    ~RowListView() override;

    // The live row widget of `row`, made as if the pointer had pressed it.
    QWidget* liveRow(int row);
    // The row widget over `row` if it is live, else null.
    QWidget* rowWidget(int row) const;
    // How many rows have a widget now.
    int liveCount() const { return int(m_live.size()); }
    const Rows& rows() const { return m_rows; }

    // Does what the button or menu entry of the row named `action` does, as a click would.
    void invoke(const QModelIndex& index, const QString& action);
    // The accessible item of the row at `index`, or of its `line` (see AccessibleRow).
    QAccessibleInterface* accessibleRow(const QModelIndex& index, int line = -1) const;

    // For the delegate.
    void paintRow(QPainter* painter, const QRect& rect, const QModelIndex& index);
    QSize rowSize(const QModelIndex& index);
    QWidget* createCell(const QModelIndex& index);
    void placeCell(RowCell* cell, const QRect& rect);
    void updateCell(QWidget* cell, const QModelIndex& index);

protected:
    bool viewportEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void reset() override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = {}) override;
    bool focusNextPrevChild(bool next) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    RowCell* cellAt(const QModelIndex& index) const;
    RowCell* makeLive(const QModelIndex& index);
    void setHovered(const QModelIndex& index, QPoint at = {-1, -1});
    // Makes the row live until the pointer goes to another one.
    RowCell* hold(const QModelIndex& index);
    // Lets go of the live rows that are no longer needed.
    void sweep();
    bool needed(RowCell* cell, const QModelIndex& index) const;
    // Keyboard focus reaches only the current row's buttons, right after the list; the current
    // row is marked while the list has the keyboard.
    void updateFocusChain();
    // Relayouts when a live row's height no longer matches its place; a row that unfolds or folds
    // up moves there in 0.2 s, ease-in-out, unless the style turns widget animations off.
    void checkHeights();
    void animateHeight(RowCell* cell, int from, int to);
    // A press on a painted row: the live row is made and takes the press itself.
    bool forwardPress(QMouseEvent* event);
    int heightOf(QWidget* widget, int width) const;
    // Rows moved: their accessible items are made anew when next asked for.
    void forgetAccessibleRows();

    Rows m_rows;
    int m_rightMargin;
    QHash<RowCell*, QPersistentModelIndex> m_live;
    // The height the list gives each live row at a width; it lags behind the row's own height
    // while the row unfolds or folds up.
    struct Shown {
        int width = 0;
        int height = 0;
    };
    QHash<RowCell*, Shown> m_shown;
    QPersistentModelIndex m_hovered;
    QPoint m_pointer{-1, -1}; // over m_hovered
    QPersistentModelIndex m_held;
    QHash<int, int> m_foldedHeights; // by width
    QPointer<QWidget> m_pressTarget;
    // By row, then line (-1 for the row itself).
    mutable QHash<std::pair<int, int>, unsigned> m_accessibleRows;
};
