#include "views/RowListView.h"

#include "transfers/RowStates.h"
#include "views/AccessibleRow.h"
#include "views/AccessibleRowList.h"
#include "views/CopiedOverlay.h"

#include <QAbstractItemDelegate>
#include <QAccessible>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFrame>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <QVariantAnimation>

namespace {
class RowDelegate : public QAbstractItemDelegate {
public:
    explicit RowDelegate(RowListView* view) : QAbstractItemDelegate(view), m_view(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        m_view->paintRow(painter, option.rect, index);
    }
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override {
        return m_view->rowSize(index);
    }

private:
    RowListView* m_view;
};

int stateOf(const QModelIndex& index) {
    return index.data(RowStates::Role).toInt();
}

// The running animation of the row, if any.
template <typename List> auto runningFor(List& list, const QModelIndex& index) {
    return std::find_if(list.begin(), list.end(),
                        [&index](const auto& entry) { return entry.index == index; });
}
} // namespace

RowListView::RowListView(QAbstractItemModel* model, Rows rows, int rightMargin, QWidget* parent)
    : QListView(parent), m_rows(std::move(rows)), m_rightMargin(rightMargin) {
    AccessibleRowList::install();
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(20);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setMouseTracking(true);
    // The rows draw on the panel's own background, as any other widget of it.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setItemDelegate(new RowDelegate(this));
    setModel(model);

    connect(model, &QAbstractItemModel::layoutChanged, this, &RowListView::forgetAccessibleRows);
}

RowListView::~RowListView() {
    forgetAccessibleRows();
}

void RowListView::setHovered(const QModelIndex& index, QPoint at) {
    if (index == m_hovered && at == m_pointer)
        return;
    // Only the rows the pointer left and entered are drawn again.
    if (m_hovered.isValid())
        viewport()->update(visualRect(m_hovered));
    m_hovered = index;
    m_pointer = index.isValid() ? at : QPoint(-1, -1);
    if (index.isValid())
        viewport()->update(visualRect(index));
}

RowPaint::Button RowListView::buttonAt(const QModelIndex& index, const QPoint& point) const {
    if (!index.isValid() || !m_rows.buttons)
        return {};
    for (const RowPaint::Button& button : m_rows.buttons(visualRect(index), index))
        if (button.rect.contains(point))
            return button;
    return {};
}

QRect RowListView::buttonRect(const QModelIndex& index, const QString& action) const {
    if (!index.isValid() || !m_rows.buttons)
        return {};
    for (const RowPaint::Button& button : m_rows.buttons(visualRect(index), index))
        if (button.action == action && button.keyboard)
            return button.rect;
    return {};
}

QList<RowPaint::Button> RowListView::keyboardButtons(const QModelIndex& index) const {
    QList<RowPaint::Button> buttons;
    if (index.isValid() && m_rows.buttons)
        for (const RowPaint::Button& button : m_rows.buttons(visualRect(index), index))
            if (button.keyboard)
                buttons << button;
    return buttons;
}

QString RowListView::focusedAction() const {
    const QList<RowPaint::Button> buttons = keyboardButtons(currentIndex());
    return hasFocus() && m_focused >= 0 && m_focused < buttons.size() ? buttons[m_focused].action : QString();
}

void RowListView::setFocusedButton(int button) {
    m_focused = button;
    viewport()->update(visualRect(currentIndex()));
    // Tab among a row's buttons moves no widget focus: a screen reader learns of it from here.
    if (QAccessible::isActive() && hasFocus() && currentIndex().isValid()) {
        QAccessibleEvent focus(accessibleRow(currentIndex(), button >= 0 ? AccessibleRow::FocusedButton : -1),
                               QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

int RowListView::heightOf(const QModelIndex& index) {
    const int width = viewport()->width();
    if (stateOf(index) != 0)
        return m_rows.height(width, index);
    // All folded rows are alike in height.
    auto it = m_foldedHeights.constFind(width);
    if (it == m_foldedHeights.constEnd())
        it = m_foldedHeights.insert(width, m_rows.height(width, index));
    return *it;
}

QSize RowListView::rowSize(const QModelIndex& index) {
    if (const auto unfolding = runningFor(m_unfolding, index); unfolding != m_unfolding.end())
        return {viewport()->width(), unfolding->animation->currentValue().toInt()};
    return {viewport()->width(), heightOf(index)};
}

void RowListView::paintRow(QPainter* painter, const QRect& rect, const QModelIndex& index) {
    RowPaint::Look look;
    if (index == m_hovered)
        look.pointer = m_pointer;
    if (index == m_pressed)
        look.pressed = m_pressedAction;
    const bool current = index == currentIndex() && hasFocus();
    if (current)
        look.focused = m_focused;
    if (const auto fade = runningFor(m_fades, index); fade != m_fades.end())
        look.copied = fade->animation->currentValue().toReal();
    else if (stateOf(index) & RowStates::LinkCopied)
        look.copied = 1;
    if (const auto scrolled = runningFor(m_scrolled, index); scrolled != m_scrolled.end())
        look.scrolled = scrolled->by;
    m_rows.paint(painter, rect, index, this, look);
    // The current row, while the list has the keyboard and no button of it does.
    if (current && m_focused < 0)
        RowPaint::focusFrame(painter, this, QRectF(rect).adjusted(1.5, 1.5, -1.5 - m_rightMargin, -1.5));
}

void RowListView::animateHeight(const QModelIndex& index, int from, int to) {
    auto running = runningFor(m_unfolding, index);
    if (running == m_unfolding.end()) {
        auto* animation = new QVariantAnimation(this);
        animation->setObjectName(QStringLiteral("unfoldAnimation"));
        animation->setDuration(200);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        // Rows below follow frame by frame.
        connect(animation, &QVariantAnimation::valueChanged, this, [this] { scheduleDelayedItemsLayout(); });
        connect(animation, &QVariantAnimation::finished, this, [this, animation] {
            m_unfolding.removeIf([animation](const Running& entry) { return entry.animation == animation; });
            animation->deleteLater();
            scheduleDelayedItemsLayout();
        });
        running = m_unfolding.insert(m_unfolding.end(), {index, animation});
    }
    QVariantAnimation* animation = running->animation;
    animation->stop();
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->start();
}

void RowListView::fadeCopied(const QModelIndex& index, bool showing) {
    auto running = runningFor(m_fades, index);
    const bool shown = running != m_fades.end() ? running->showing : false;
    if (shown == showing)
        return;
    if (running == m_fades.end()) {
        auto* animation = new QVariantAnimation(this);
        animation->setObjectName(QStringLiteral("copiedFade"));
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        const QPersistentModelIndex row(index);
        connect(animation, &QVariantAnimation::valueChanged, this, [this, row] {
            if (row.isValid())
                viewport()->update(visualRect(row));
        });
        connect(animation, &QVariantAnimation::finished, this, [this, animation] {
            const auto entry = std::find_if(m_fades.begin(), m_fades.end(), [animation](const Running& e) {
                return e.animation == animation;
            });
            if (entry != m_fades.end() && !entry->showing) {
                m_fades.erase(entry);
                animation->deleteLater();
            }
        });
        running = m_fades.insert(m_fades.end(), {index, animation, false});
    }
    running->showing = showing;
    QVariantAnimation* animation = running->animation;
    const qreal from = animation->state() == QAbstractAnimation::Running ? animation->currentValue().toReal()
                                                                         : (showing ? 0.0 : 1.0);
    animation->stop();
    animation->setDuration(showing ? 200 : 300);
    animation->setStartValue(from);
    animation->setEndValue(showing ? 1.0 : 0.0);
    animation->start();
}

bool RowListView::viewportEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::Leave:
        setHovered({});
        break;
    case QEvent::ToolTip: {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QRect rect = visualRect(index);
        const QString tip =
            index.isValid() && m_rows.toolTip ? m_rows.toolTip(rect, index, help->pos()) : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, viewport(), buttonAt(index, help->pos()).rect);
        return true;
    }
    default:
        break;
    }
    return QListView::viewportEvent(event);
}

void RowListView::focusInEvent(QFocusEvent* event) {
    QListView::focusInEvent(event);
    // Shift+Tab comes back to the current row's last button.
    setFocusedButton(
        event->reason() == Qt::BacktabFocusReason ? int(keyboardButtons(currentIndex()).size()) - 1 : -1);
}

void RowListView::focusOutEvent(QFocusEvent* event) {
    QListView::focusOutEvent(event);
    m_focused = -1;
    viewport()->update(visualRect(currentIndex()));
}

void RowListView::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    // Rows span the width: a narrower or wider list lays them out again.
    if (event->size().width() != event->oldSize().width())
        scheduleDelayedItemsLayout();
}

void RowListView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange ||
        event->type() == QEvent::PaletteChange) {
        m_foldedHeights.clear();
        scheduleDelayedItemsLayout();
    }
    QListView::changeEvent(event);
}

void RowListView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    setHovered(indexAt(at), at);
}

void RowListView::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    if (!index.isValid()) {
        QListView::mousePressEvent(event);
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    // Held down, the button is drawn pressed while the pointer stays on it.
    m_pressed = index;
    m_pressedAction = buttonAt(index, at).action;
    setHovered(index, at);
    viewport()->update(visualRect(index));
}

void RowListView::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void RowListView::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    const QPersistentModelIndex pressed = std::exchange(m_pressed, {});
    const QString action = std::exchange(m_pressedAction, {});
    if (!pressed.isValid()) {
        if (!index.isValid())
            QListView::mouseReleaseEvent(event);
        return;
    }
    viewport()->update(visualRect(pressed));
    if (event->button() == Qt::LeftButton && index == pressed && !action.isEmpty() &&
        buttonAt(index, at).action == action)
        invoke(index, action);
}

void RowListView::contextMenuEvent(QContextMenuEvent* event) {
    const bool keyboard = event->reason() == QContextMenuEvent::Keyboard;
    const QModelIndex index = keyboard ? currentIndex() : indexAt(event->pos());
    QMenu* menu = index.isValid() && m_rows.menu ? m_rows.menu(index, QString()) : nullptr;
    if (!menu)
        return;
    // From the menu key: below the row's main line.
    menu->popup(keyboard ? viewport()->mapToGlobal(visualRect(index).topLeft() + QPoint(16, 16))
                         : event->globalPos());
}

void RowListView::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && m_focused >= 0) {
        const QList<RowPaint::Button> buttons = keyboardButtons(currentIndex());
        if (m_focused < buttons.size())
            invoke(currentIndex(), buttons[m_focused].action);
        return;
    }
    QListView::keyPressEvent(event);
}

void RowListView::wheelEvent(QWheelEvent* event) {
    // Over a long file list the wheel scrolls the list in the row, until it reaches an end.
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    const RowPaint::Scrolling scrolling = index.isValid() && m_rows.scrolling
                                              ? m_rows.scrolling(visualRect(index), index)
                                              : RowPaint::Scrolling();
    if (scrolling.range > 0 && scrolling.area.contains(at)) {
        auto scrolled = runningFor(m_scrolled, index);
        if (scrolled == m_scrolled.end())
            scrolled = m_scrolled.insert(m_scrolled.end(), {index, 0});
        const int by = qBound(0, scrolled->by - event->angleDelta().y() * 18 / 40, scrolling.range);
        if (by != scrolled->by) {
            scrolled->by = by;
            viewport()->update(visualRect(index));
            event->accept();
            return;
        }
    }
    QListView::wheelEvent(event);
}

void RowListView::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    // The row under a resting pointer changed.
    if (viewport()->underMouse()) {
        const QPoint at = viewport()->mapFromGlobal(QCursor::pos());
        setHovered(indexAt(at), at);
    }
}

void RowListView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QListView::currentChanged(current, previous);
    m_focused = -1;
    viewport()->update(visualRect(previous));
    viewport()->update(visualRect(current));
}

void RowListView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                              const QList<int>& roles) {
    if (!roles.contains(RowStates::Role)) {
        QListView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    // The heights the last layout gave the rows, before the list lays them out anew: a row's own
    // rectangle already says its new height, the place of the row below does not.
    QList<int> shown;
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        const int below = row + 1 < model()->rowCount() ? rectForIndex(model()->index(row + 1, 0)).top()
                                                        : contentsSize().height();
        shown << below - rectForIndex(model()->index(row, 0)).top();
    }
    QListView::dataChanged(topLeft, bottomRight, roles);
    const bool animated = style()->styleHint(QStyle::SH_Widget_Animation_Duration, nullptr, this) > 0;
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        const QModelIndex index = model()->index(row, 0);
        fadeCopied(index, stateOf(index) & RowStates::LinkCopied);
        // A row that unfolds or folds up moves there from the height it shows.
        const int from = shown[row - topLeft.row()];
        const int height = heightOf(index);
        if (const auto running = runningFor(m_unfolding, index); running != m_unfolding.end())
            animateHeight(index, running->animation->currentValue().toInt(), height);
        else if (animated && from != height && viewport()->rect().intersects(visualRect(index)))
            animateHeight(index, from, height);
        if (from != height)
            scheduleDelayedItemsLayout();
        // A screen reader hears that the row's state and lines changed.
        if (QAccessible::isActive()) {
            QAccessible::State changed;
            changed.expanded = true;
            QAccessibleStateChangeEvent stateChange(accessibleRow(index), changed);
            QAccessible::updateAccessibility(&stateChange);
            QAccessibleEvent reorder(accessibleRow(index), QAccessible::ObjectReorder);
            QAccessible::updateAccessibility(&reorder);
        }
    }
}

bool RowListView::focusNextPrevChild(bool next) {
    // Within the list Tab goes from the current row to its buttons and on.
    if (hasFocus() && currentIndex().isValid()) {
        const int to = m_focused + (next ? 1 : -1);
        if (next ? to < keyboardButtons(currentIndex()).size() : m_focused >= 0) {
            setFocusedButton(to);
            return true;
        }
        setFocusedButton(-1);
    }
    return QListView::focusNextPrevChild(next);
}

void RowListView::invoke(const QModelIndex& index, const QString& action) {
    if (!index.isValid() || (m_rows.invoke && m_rows.invoke(index, action)))
        return;
    QMenu* menu = m_rows.menu ? m_rows.menu(index, action) : nullptr;
    if (!menu)
        return;
    // Below its button, as a menu button opens it.
    scrollTo(index);
    const QRect button = buttonRect(index, action);
    menu->popup(viewport()->mapToGlobal(button.isValid() ? button.bottomLeft() + QPoint(0, 1)
                                                         : visualRect(index).center()));
}

QList<RowPaint::Line> RowListView::lines(const QModelIndex& index) const {
    if (!m_rows.lines || !index.isValid())
        return {};
    const auto scrolled = runningFor(m_scrolled, index);
    return m_rows.lines(visualRect(index), index, scrolled == m_scrolled.end() ? 0 : scrolled->by);
}

QAccessibleInterface* RowListView::accessibleRow(const QModelIndex& index, int line) const {
    if (!index.isValid() || index.model() != model())
        return nullptr;
    const std::pair key(index.row(), line);
    if (const auto it = m_accessibleRows.constFind(key); it != m_accessibleRows.constEnd())
        return QAccessible::accessibleInterface(*it);
    auto* item = new AccessibleRow(const_cast<RowListView*>(this), index, line);
    m_accessibleRows.insert(key, QAccessible::registerAccessibleInterface(item));
    return item;
}

void RowListView::forgetAccessibleRows() {
    for (const unsigned id : std::as_const(m_accessibleRows))
        QAccessible::deleteAccessibleInterface(id);
    m_accessibleRows.clear();
}

void RowListView::rowsInserted(const QModelIndex& parent, int start, int end) {
    forgetAccessibleRows();
    QListView::rowsInserted(parent, start, end);
}

void RowListView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    forgetAccessibleRows();
    QListView::rowsAboutToBeRemoved(parent, start, end);
}

void RowListView::reset() {
    forgetAccessibleRows();
    QListView::reset();
}
