#include "views/RowListView.h"

#include "transfers/RowStates.h"
#include "views/AccessibleRow.h"
#include "views/AccessibleRowList.h"
#include "views/RowCell.h"

#include <QAbstractButton>
#include <QAbstractItemDelegate>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QChildEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFrame>
#include <QLayout>
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
    // Live rows are the view's persistent editors: the view moves them with their records.
    QWidget* createEditor(QWidget*, const QStyleOptionViewItem&, const QModelIndex& index) const override {
        return m_view->createCell(index);
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        m_view->updateCell(editor, index);
    }
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override {
        m_view->placeCell(static_cast<RowCell*>(editor), option.rect);
    }

private:
    RowListView* m_view;
};

bool isOpenWindow(const QWidget* widget) {
    return widget->isWindow() && widget->isVisible();
}

// In the order the row made them, which is the order it shows them in.
QList<QWidget*> tabStops(QWidget* cell) {
    QList<QWidget*> stops;
    for (QWidget* w : cell->findChildren<QWidget*>())
        if (!w->isWindow() && w->isVisibleTo(cell) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
            stops << w;
    return stops;
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
    // The cells, also those on their way out, go with the viewport, after this list's members.
    for (QObject* cell : viewport()->children())
        disconnect(cell, &QObject::destroyed, this, nullptr);
}

RowCell* RowListView::cellAt(const QModelIndex& index) const {
    // Few rows are live: a walk over them is cheaper than the view's lookup by persistent index.
    for (auto it = m_live.cbegin(); it != m_live.cend(); ++it)
        if (it.value() == index)
            return it.key();
    return nullptr;
}

QWidget* RowListView::rowWidget(int row) const {
    RowCell* cell = cellAt(model()->index(row, 0));
    return cell ? cell->row() : nullptr;
}

QWidget* RowListView::liveRow(int row) {
    const QModelIndex index = model()->index(row, 0);
    return index.isValid() ? hold(index)->row() : nullptr;
}

QWidget* RowListView::createCell(const QModelIndex& index) {
    auto* cell = new RowCell(m_rows.make(index), m_rightMargin);
    cell->setParent(viewport());
    m_live.insert(cell, index);
    // A row that unfolds or folds up asks for a new layout of itself first; its menus and questions
    // say when they close.
    cell->row()->installEventFilter(this);
    for (QWidget* window : cell->row()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (window->isWindow())
            window->installEventFilter(this);
    connect(cell, &QObject::destroyed, this, [this, cell] {
        m_live.remove(cell);
        m_shown.remove(cell);
    });
    return cell;
}

void RowListView::updateCell(QWidget* cell, const QModelIndex& index) {
    m_rows.update(static_cast<RowCell*>(cell)->row(), index);
}

RowCell* RowListView::makeLive(const QModelIndex& index) {
    if (RowCell* cell = cellAt(index))
        return cell;
    openPersistentEditor(index);
    RowCell* cell = cellAt(index);
    Q_ASSERT(cell);
    // Placed at once, so a press that made it lands on it.
    cell->setGeometry(visualRect(index));
    cell->layout()->activate();
    cell->show();
    updateFocusChain();
    return cell;
}

bool RowListView::needed(RowCell* cell, const QModelIndex& index) const {
    if (index == m_held || index == currentIndex())
        return true;
    if (index.data(RowStates::Role).toInt() != 0)
        return true; // holds something open
    const QWidget* focus = QApplication::focusWidget();
    if (focus && cell->isAncestorOf(focus))
        return true;
    if (const auto* animation = cell->findChild<QVariantAnimation*>(QString(), Qt::FindDirectChildrenOnly);
        animation && animation->state() == QAbstractAnimation::Running)
        return true; // still moving
    const QList<QWidget*> children = cell->findChildren<QWidget*>();
    return std::any_of(children.cbegin(), children.cend(), isOpenWindow);
}

void RowListView::sweep() {
    bool released = false;
    const auto live = m_live; // changes below
    for (auto it = live.cbegin(); it != live.cend(); ++it) {
        RowCell* cell = it.key();
        const QModelIndex index = it.value();
        if (!index.isValid() || needed(cell, index))
            continue;
        m_live.remove(cell);
        closePersistentEditor(index); // hides it and deletes it later
        update(index);
        released = true;
    }
    if (released)
        checkHeights();
}

void RowListView::setHovered(const QModelIndex& index, QPoint at) {
    if (index != m_hovered || at != m_pointer) {
        // Only the rows the pointer left and entered are drawn again.
        if (m_hovered.isValid())
            viewport()->update(visualRect(m_hovered));
        m_hovered = index;
        m_pointer = index.isValid() ? at : QPoint(-1, -1);
        if (index.isValid())
            viewport()->update(visualRect(index));
    }
    if (m_held.isValid() && index != m_held) {
        m_held = QModelIndex();
        sweep();
    }
}

RowCell* RowListView::hold(const QModelIndex& index) {
    if (m_held != index) {
        m_held = index;
        sweep();
    }
    return makeLive(index);
}

void RowListView::updateFocusChain() {
    const QModelIndex current = currentIndex();
    RowCell* currentCell = cellAt(current);
    for (auto it = m_live.cbegin(); it != m_live.cend(); ++it)
        it.key()->setMarked(it.key() == currentCell && hasFocus());
    for (auto it = m_live.cbegin(); it != m_live.cend(); ++it)
        it.key()->setCurrent(it.key() == currentCell);
    if (!currentCell)
        return;
    QWidget* previous = this;
    for (QWidget* stop : tabStops(currentCell)) {
        QWidget::setTabOrder(previous, stop);
        previous = stop;
    }
}

int RowListView::heightOf(QWidget* widget, int width) const {
    return widget->hasHeightForWidth() ? widget->heightForWidth(width) : widget->sizeHint().height();
}

QSize RowListView::rowSize(const QModelIndex& index) {
    const int width = viewport()->width();
    if (RowCell* cell = cellAt(index)) {
        const auto shown = m_shown.constFind(cell);
        return {width,
                shown != m_shown.constEnd() && shown->width == width ? shown->height : heightOf(cell, width)};
    }
    // Painted rows are folded up, and all folded rows are alike in height.
    auto it = m_foldedHeights.constFind(width);
    if (it == m_foldedHeights.constEnd())
        it = m_foldedHeights.insert(width, m_rows.height(width));
    return {width, *it};
}

void RowListView::paintRow(QPainter* painter, const QRect& rect, const QModelIndex& index) {
    if (!cellAt(index)) // a live row draws itself
        m_rows.paint(painter, rect, index, index == m_hovered ? m_pointer : QPoint(-1, -1));
}

void RowListView::checkHeights() {
    const int width = viewport()->width();
    const bool animated = style()->styleHint(QStyle::SH_Widget_Animation_Duration, nullptr, this) > 0;
    bool relayout = false;
    for (auto it = m_live.cbegin(); it != m_live.cend(); ++it) {
        RowCell* cell = it.key();
        if (!it.value().isValid())
            continue;
        const int height = heightOf(cell, width);
        const auto shown = m_shown.find(cell);
        if (shown == m_shown.end()) {
            // Made live: against the place the last layout gave it (visualRect() would already say
            // the new height).
            m_shown.insert(cell, {width, height});
            relayout = relayout || height != cell->height();
        } else if (shown->width != width || !animated) {
            relayout = relayout || shown->height != height || shown->width != width;
            *shown = {width, height};
        } else if (shown->height != height) {
            animateHeight(cell, shown->height, height);
        }
    }
    if (relayout)
        scheduleDelayedItemsLayout();
    else
        viewport()->update();
}

void RowListView::animateHeight(RowCell* cell, int from, int to) {
    auto* animation = cell->findChild<QVariantAnimation*>(QString(), Qt::FindDirectChildrenOnly);
    if (animation && animation->state() == QAbstractAnimation::Running && animation->endValue().toInt() == to)
        return;
    if (!animation) {
        animation = new QVariantAnimation(cell);
        animation->setObjectName(QStringLiteral("unfoldAnimation"));
        animation->setDuration(200);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        connect(animation, &QVariantAnimation::finished, this, &RowListView::sweep, Qt::QueuedConnection);
        connect(animation, &QVariantAnimation::valueChanged, this, [this, cell](const QVariant& value) {
            m_shown[cell].height = value.toInt();
            // Rows below follow frame by frame.
            scheduleDelayedItemsLayout();
        });
    }
    animation->stop();
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->start();
}

void RowListView::placeCell(RowCell* cell, const QRect& rect) {
    // Through the unfold animation a row keeps its own height and shows only as much as its place
    // holds; folding up, the place shrinks below it.
    const int height = heightOf(cell, rect.width());
    cell->setGeometry(QRect(rect.topLeft(), QSize(rect.width(), height)));
    if (height > rect.height())
        cell->setMask(QRect(0, 0, rect.width(), rect.height()));
    else if (!cell->mask().isEmpty())
        cell->clearMask();
}

bool RowListView::viewportEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::LayoutRequest:
        // A live row unfolded or folded up; looked at once its own layout has settled.
        QMetaObject::invokeMethod(this, &RowListView::checkHeights, Qt::QueuedConnection);
        break;
    case QEvent::Leave:
        setHovered({});
        break;
    case QEvent::ToolTip: {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QRect rect = visualRect(index);
        const QString tip = index.isValid() && !cellAt(index) && m_rows.toolTip
                                ? m_rows.toolTip(rect, index, help->pos())
                                : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, viewport(), rect);
        return true;
    }
    default:
        break;
    }
    return QListView::viewportEvent(event);
}

void RowListView::focusInEvent(QFocusEvent* event) {
    QListView::focusInEvent(event);
    updateFocusChain();
}

void RowListView::focusOutEvent(QFocusEvent* event) {
    QListView::focusOutEvent(event);
    updateFocusChain();
}

void RowListView::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    // Rows span the width: a narrower or wider list lays them out again.
    if (event->size().width() != event->oldSize().width())
        scheduleDelayedItemsLayout();
}

bool RowListView::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::LayoutRequest:
        QMetaObject::invokeMethod(this, &RowListView::checkHeights, Qt::QueuedConnection);
        break;
    case QEvent::ChildAdded:
        // A question the row asks: it keeps the row while open and says when it closes.
        if (QObject* child = static_cast<QChildEvent*>(event)->child(); child->isWidgetType())
            child->installEventFilter(this);
        break;
    case QEvent::Hide:
        if (watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
            QMetaObject::invokeMethod(this, &RowListView::sweep, Qt::QueuedConnection);
        break;
    default:
        break;
    }
    return QListView::eventFilter(watched, event);
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
    if (m_pressTarget) {
        const QPoint at = m_pressTarget->mapFrom(viewport(), event->position().toPoint());
        QMouseEvent moved(event->type(), at, event->globalPosition(), event->button(), event->buttons(),
                          event->modifiers());
        QApplication::sendEvent(m_pressTarget, &moved);
        return;
    }
    const QPoint at = event->position().toPoint();
    setHovered(indexAt(at), at);
}

bool RowListView::forwardPress(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    if (!index.isValid())
        return false;
    if (RowCell* cell = cellAt(index); cell && cell->geometry().contains(pos))
        return true; // came up from the live row itself
    RowCell* cell = hold(index);
    QWidget* target = cell->childAt(cell->mapFrom(viewport(), pos));
    if (!target)
        target = cell;
    m_pressTarget = target;
    QMouseEvent press(event->type(), target->mapFrom(viewport(), pos), event->globalPosition(),
                      event->button(), event->buttons(), event->modifiers());
    QApplication::sendEvent(target, &press);
    return true;
}

void RowListView::mousePressEvent(QMouseEvent* event) {
    if (!forwardPress(event))
        QListView::mousePressEvent(event);
}

void RowListView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!forwardPress(event))
        QListView::mouseDoubleClickEvent(event);
}

void RowListView::mouseReleaseEvent(QMouseEvent* event) {
    if (QPointer<QWidget> target = std::exchange(m_pressTarget, nullptr)) {
        QMouseEvent release(event->type(), target->mapFrom(viewport(), event->position().toPoint()),
                            event->globalPosition(), event->button(), event->buttons(), event->modifiers());
        QApplication::sendEvent(target, &release);
        return;
    }
    if (!indexAt(event->position().toPoint()).isValid())
        QListView::mouseReleaseEvent(event);
}

void RowListView::contextMenuEvent(QContextMenuEvent* event) {
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid() || cellAt(index))
        return; // a live row has its own
    RowCell* cell = hold(index);
    QWidget* target = cell->childAt(cell->mapFrom(viewport(), event->pos()));
    if (!target)
        target = cell;
    QContextMenuEvent menu(event->reason(), target->mapFrom(viewport(), event->pos()), event->globalPos(),
                           event->modifiers());
    QApplication::sendEvent(target, &menu);
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
    const QWidget* focus = QApplication::focusWidget();
    RowCell* previousCell = cellAt(previous);
    const bool focusInPrevious = focus && previousCell && previousCell->isAncestorOf(focus);
    QListView::currentChanged(current, previous);
    if (current.isValid())
        makeLive(current);
    updateFocusChain();
    if (focusInPrevious)
        setFocus(Qt::OtherFocusReason);
    sweep();
}

void RowListView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                              const QList<int>& roles) {
    QListView::dataChanged(topLeft, bottomRight, roles);
    for (auto it = m_live.cbegin(); it != m_live.cend(); ++it) {
        const QModelIndex index = it.value();
        if (index.isValid() && index.row() >= topLeft.row() && index.row() <= bottomRight.row())
            m_rows.update(it.key()->row(), index);
    }
    if (!roles.contains(RowStates::Role))
        return;
    // Something opened in a painted row needs its live one; a row that closed all may go. A screen
    // reader hears that the row's state and lines changed.
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        const QModelIndex index = model()->index(row, 0);
        if (index.data(RowStates::Role).toInt() != 0)
            makeLive(index);
        if (QAccessible::isActive()) {
            QAccessible::State changed;
            changed.expanded = true;
            QAccessibleStateChangeEvent stateChange(accessibleRow(index), changed);
            QAccessible::updateAccessibility(&stateChange);
            QAccessibleEvent reorder(accessibleRow(index), QAccessible::ObjectReorder);
            QAccessible::updateAccessibility(&reorder);
        }
    }
    sweep();
}

bool RowListView::focusNextPrevChild(bool next) {
    // Within the list Tab goes from the list to the current row's buttons and on.
    QList<QWidget*> chain{this};
    if (RowCell* cell = cellAt(currentIndex()))
        chain << tabStops(cell);
    const qsizetype at = chain.indexOf(QApplication::focusWidget());
    if (at < 0)
        return QListView::focusNextPrevChild(next);
    const qsizetype to = at + (next ? 1 : -1);
    if (to >= 0 && to < chain.size()) {
        chain[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    if (!next)
        return QListView::focusNextPrevChild(false);
    for (QWidget* w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
        if (isAncestorOf(w) || w->window() != window() || !w->isVisible() || !w->isEnabled() ||
            !(w->focusPolicy() & Qt::TabFocus))
            continue;
        w->setFocus(Qt::TabFocusReason);
        return true;
    }
    return false;
}

void RowListView::invoke(const QModelIndex& index, const QString& action) {
    if (!index.isValid() || (m_rows.invoke && m_rows.invoke(index, action)))
        return;
    QWidget* row = makeLive(index)->row();
    // Let go of the row again unless the click opened something in it.
    QMetaObject::invokeMethod(this, &RowListView::sweep, Qt::QueuedConnection);
    for (QAbstractButton* button : row->findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(row) && button->isEnabled() &&
            (button->accessibleName() == action || button->toolTip() == action)) {
            button->click();
            return;
        }
    }
    for (const QMenu* menu : row->findChildren<QMenu*>()) {
        for (QAction* entry : menu->actions()) {
            if (!entry->isSeparator() && entry->isEnabled() && entry->text() == action) {
                entry->trigger();
                return;
            }
        }
    }
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
