#pragma once

#include "transfers/RowStates.h"
#include "views/RowPaint.h"

#include <QHash>
#include <QList>
#include <QListView>
#include <QPersistentModelIndex>
#include <functional>
#include <memory>

class QAccessibleInterface;
class QMenu;
class QVariantAnimation;

// A list of record rows whose cost does not grow with the records: every row is painted straight
// from its record and what it holds open (the model's RowStates::Role), and the list hit-tests the
// buttons the row draws. The pointer lights the button under it and presses it; the keyboard moves
// the current row with Up and Down, walks its buttons with Tab and presses one with Return or
// Space; the menu key and a right click open the row's menu. A row that unfolds or folds up moves
// there in 0.2 s, ease-in-out, unless the style turns widget animations off; "Link kopiert" fades.
class RowListView : public QListView {
    Q_OBJECT

public:
    struct Rows {
        // Paints the row of the record at the index into the rectangle of `list`.
        std::function<void(QPainter*, const QRect&, const QModelIndex&, const QWidget* list,
                           const RowPaint::Look&)>
            paint;
        // The buttons of the row in the rectangle, in keyboard order (see RowPaint::Button).
        std::function<QList<RowPaint::Button>(const QRect&, const QModelIndex&)> buttons;
        // The part of the row the wheel scrolls (may be unset).
        std::function<RowPaint::Scrolling(const QRect&, const QModelIndex&)> scrolling;
        // The tooltip of what the row shows at the point.
        std::function<QString(const QRect&, const QModelIndex&, const QPoint&)> toolTip;
        // The height of the row at a width.
        std::function<int(int, const QModelIndex&)> height;
        // What a screen reader offers on the row: the names of its buttons and menu entries.
        std::function<QStringList(const QModelIndex&)> actions;
        // Does what the button or menu entry named so does; false where the button opens a menu.
        std::function<bool(const QModelIndex&, const QString&)> invoke;
        // The menu the button named so opens, or for an empty name the row's context menu; may be
        // unset or give null.
        std::function<QMenu*(const QModelIndex&, const QString&)> menu;
        // What it reads besides the row's text (may be unset).
        std::function<QString(const QModelIndex&)> description;
        // Whether the row has something to unfold.
        std::function<bool(const QModelIndex&)> canUnfold;
        // The lines the row in the rectangle draws below its main line now (a password, its files),
        // in drawn order, its scrolling part scrolled by the last argument.
        std::function<QList<RowPaint::Line>(const QRect&, const QModelIndex&, int)> lines;
    };

    // The drawing part of Rows (paint, buttons, toolTip, height, lines, and scrolling where the
    // painter has it) from a painter of the model's records and the rows' states.
    template <typename Model, typename Painter>
    static void paintWith(Rows& rows, Model* model, std::shared_ptr<Painter> painter) {
        const auto record = [model](const QModelIndex& index) -> decltype(auto) {
            return model->record(index.row());
        };
        const auto state = [](const QModelIndex& index) { return index.data(RowStates::Role).toInt(); };
        rows.paint = [=](QPainter* p, const QRect& rect, const QModelIndex& index, const QWidget* list,
                         const RowPaint::Look& look) {
            painter->paint(p, rect, record(index), state(index), list, look);
        };
        rows.buttons = [=](const QRect& rect, const QModelIndex& index) {
            return painter->buttons(rect, record(index), state(index));
        };
        if constexpr (requires { &Painter::scrolling; })
            rows.scrolling = [=](const QRect& rect, const QModelIndex& index) {
                return painter->scrolling(rect, record(index), state(index));
            };
        rows.toolTip = [=](const QRect& rect, const QModelIndex& index, const QPoint& point) {
            return painter->toolTip(rect, record(index), state(index), point);
        };
        rows.height = [=](int width, const QModelIndex& index) {
            return painter->height(width, record(index), state(index));
        };
        rows.lines = [=](const QRect& rect, const QModelIndex& index, int scrolled) {
            return painter->lines(rect, record(index), state(index), scrolled);
        };
    }

    // `rightMargin` keeps the rows clear of the scroll bar.
    RowListView(QAbstractItemModel* model, Rows rows, int rightMargin, QWidget* parent = nullptr);
    ~RowListView() override;

    const Rows& rows() const { return m_rows; }

    // Does what the button or menu entry of the row named `action` does, as a click would.
    void invoke(const QModelIndex& index, const QString& action);
    // Where the row at `index` shows the button that does `action`, in the viewport; null if not.
    QRect buttonRect(const QModelIndex& index, const QString& action) const;
    // What the button of the current row the keyboard is on does; empty while none is.
    QString focusedAction() const;
    // The lines the row at `index` draws below its main line now, in the viewport.
    QList<RowPaint::Line> lines(const QModelIndex& index) const;
    // The accessible item of the row at `index`, or of its `line` (see AccessibleRow).
    QAccessibleInterface* accessibleRow(const QModelIndex& index, int line = -1) const;

    // For the delegate.
    void paintRow(QPainter* painter, const QRect& rect, const QModelIndex& index);
    QSize rowSize(const QModelIndex& index);

protected:
    bool viewportEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
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

private:
    void setHovered(const QModelIndex& index, QPoint at = {-1, -1});
    // The button at `point` of the row there.
    RowPaint::Button buttonAt(const QModelIndex& index, const QPoint& point) const;
    QList<RowPaint::Button> keyboardButtons(const QModelIndex& index) const;
    void setFocusedButton(int button);
    // The row's height at the viewport's width, as the row is now.
    int heightOf(const QModelIndex& index);
    // An unfold animation from the height the row shows to the one it has now.
    void animateHeight(const QModelIndex& index, int from, int to);
    // "Link kopiert" fades in or out as the row's state says.
    void fadeCopied(const QModelIndex& index, bool showing);
    // Rows moved: their accessible items are made anew when next asked for.
    void forgetAccessibleRows();

    Rows m_rows;
    int m_rightMargin;
    QPersistentModelIndex m_hovered;
    QPoint m_pointer{-1, -1}; // over m_hovered
    QPersistentModelIndex m_pressed;
    QString m_pressedAction;
    int m_focused = -1;              // the current row's button the keyboard is on
    QHash<int, int> m_foldedHeights; // by width
    // Few rows move or fade at a time: a walk over them is cheaper than a lookup by persistent index.
    struct Running {
        QPersistentModelIndex index;
        QVariantAnimation* animation;
        bool showing = true; // a fade: in or out
    };
    QList<Running> m_unfolding;
    QList<Running> m_fades;
    struct Scrolled {
        QPersistentModelIndex index;
        int by = 0;
    };
    QList<Scrolled> m_scrolled;
    // By row, then line (-1 for the row itself).
    mutable QHash<std::pair<int, int>, unsigned> m_accessibleRows;
};
