#include "views/AccessibleRow.h"

#include "transfers/RowStates.h"
#include "views/RowListView.h"

#include <QWindow>

AccessibleRow::AccessibleRow(RowListView* view, const QModelIndex& index, int line)
    : m_view(view), m_index(index), m_line(line) {}

QList<RowPaint::Line> AccessibleRow::lines() const {
    return m_view->lines(m_index);
}

bool AccessibleRow::hasFocusedButton() const {
    return m_view->currentIndex() == m_index && !m_view->focusedAction().isEmpty();
}

bool AccessibleRow::isValid() const {
    if (!m_view || !m_index.isValid())
        return false;
    if (m_line == FocusedButton)
        return hasFocusedButton();
    return m_line < 0 || m_line < lines().size();
}

QWindow* AccessibleRow::window() const {
    return m_view ? m_view->window()->windowHandle() : nullptr;
}

QAccessibleInterface* AccessibleRow::parent() const {
    if (!m_view)
        return nullptr;
    return m_line == -1 ? QAccessible::queryAccessibleInterface(m_view.data())
                        : m_view->accessibleRow(m_index);
}

QAccessibleInterface* AccessibleRow::child(int index) const {
    if (!isValid() || m_line != -1 || index < 0 || index >= childCount())
        return nullptr;
    return m_view->accessibleRow(m_index, index < lines().size() ? index : FocusedButton);
}

int AccessibleRow::childCount() const {
    return isValid() && m_line == -1 ? int(lines().size()) + (hasFocusedButton() ? 1 : 0) : 0;
}

int AccessibleRow::indexOfChild(const QAccessibleInterface* child) const {
    const auto* line = dynamic_cast<const AccessibleRow*>(child);
    if (!line || m_line != -1 || line->m_index != m_index || line->m_line == -1)
        return -1;
    return line->m_line == FocusedButton ? int(lines().size()) : line->m_line;
}

QAccessibleInterface* AccessibleRow::childAt(int x, int y) const {
    for (int i = 0; i < childCount(); ++i)
        if (QAccessibleInterface* line = child(i); line && line->rect().contains(x, y))
            return line;
    return nullptr;
}

QString AccessibleRow::text(QAccessible::Text kind) const {
    if (!isValid())
        return {};
    if (m_line == FocusedButton)
        return kind == QAccessible::Name ? m_view->focusedAction() : QString();
    if (m_line >= 0)
        return kind == QAccessible::Name ? lines().value(m_line).text : QString();
    if (kind == QAccessible::Name)
        return m_index.data(Qt::AccessibleTextRole).toString();
    if (kind == QAccessible::Description && m_view->rows().description)
        return m_view->rows().description(m_index);
    return {};
}

QRect AccessibleRow::rect() const {
    if (!isValid())
        return {};
    const QRect shown = m_line == FocusedButton ? m_view->buttonRect(m_index, m_view->focusedAction())
                        : m_line >= 0           ? lines().value(m_line).rect
                                                : m_view->visualRect(m_index);
    return QRect(m_view->viewport()->mapToGlobal(shown.topLeft()), shown.size());
}

QAccessible::State AccessibleRow::state() const {
    QAccessible::State state;
    if (!isValid()) {
        state.invalid = true;
        return state;
    }
    const QRect shown = m_line >= 0 ? lines().value(m_line).rect : m_view->visualRect(m_index);
    if (!m_view->viewport()->rect().intersects(shown)) {
        state.invisible = true;
        state.offscreen = true;
    }
    if (m_line == FocusedButton) {
        state.focusable = true;
        state.focused = true;
    } else if (m_line < 0) {
        state.focusable = true;
        state.focused = m_view->hasFocus() && m_view->currentIndex() == m_index && !hasFocusedButton();
        const auto& canUnfold = m_view->rows().canUnfold;
        state.expandable = canUnfold && canUnfold(m_index);
        state.expanded = state.expandable && (m_index.data(RowStates::Role).toInt() & RowStates::Unfolded);
    }
    return state;
}

void* AccessibleRow::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::ActionInterface && m_line < 0)
        return static_cast<QAccessibleActionInterface*>(this);
    return nullptr;
}

QStringList AccessibleRow::actionNames() const {
    if (!isValid() || m_line >= 0 || !m_view->rows().actions)
        return {};
    if (m_line == FocusedButton)
        return {QAccessibleActionInterface::pressAction()};
    return m_view->rows().actions(m_index);
}

void AccessibleRow::doAction(const QString& name) {
    if (m_line == FocusedButton && name == QAccessibleActionInterface::pressAction())
        m_view->invoke(m_index, m_view->focusedAction());
    else if (m_line == -1 && actionNames().contains(name))
        m_view->invoke(m_index, name);
}
