#include "views/AccessibleRowList.h"

#include "views/AccessibleRow.h"
#include "views/RowListView.h"

namespace {
QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (className == QLatin1String("RowListView") && object && object->isWidgetType())
        return new AccessibleRowList(static_cast<RowListView*>(object));
    return nullptr;
}
} // namespace

AccessibleRowList::AccessibleRowList(RowListView* view) : QAccessibleWidget(view, QAccessible::List) {}

void AccessibleRowList::install() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

RowListView* AccessibleRowList::view() const {
    return static_cast<RowListView*>(widget());
}

int AccessibleRowList::childCount() const {
    return view()->model()->rowCount();
}

QAccessibleInterface* AccessibleRowList::child(int index) const {
    return view()->accessibleRow(view()->model()->index(index, 0));
}

int AccessibleRowList::indexOfChild(const QAccessibleInterface* child) const {
    const auto* row = dynamic_cast<const AccessibleRow*>(child);
    return row && row->isValid() && row->line() < 0 && row->index().model() == view()->model()
               ? row->index().row()
               : -1;
}

QAccessibleInterface* AccessibleRowList::childAt(int x, int y) const {
    const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
    return index.isValid() ? view()->accessibleRow(index) : nullptr;
}

QAccessibleInterface* AccessibleRowList::focusChild() const {
    if (!view()->hasFocus() || !view()->currentIndex().isValid())
        return nullptr;
    return view()->accessibleRow(view()->currentIndex());
}
