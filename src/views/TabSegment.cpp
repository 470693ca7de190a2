#include "views/TabSegment.h"

#include <QAccessibleWidget>
#include <QKeyEvent>

namespace {
class AccessibleTab : public QAccessibleWidget {
public:
    explicit AccessibleTab(TabSegment* tab) : QAccessibleWidget(tab, QAccessible::PageTab) {}

    TabSegment* tab() const { return static_cast<TabSegment*>(widget()); }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name)
            return tab()->accessibleName().isEmpty() ? tab()->text() : tab()->accessibleName();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.selected = tab()->isChecked();
        return state;
    }

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString& actionName) override {
        // click(), not toggle(): only a click tells the panel to switch the page.
        if (actionName == pressAction() && tab()->isEnabled())
            tab()->click();
    }
};

QAccessibleInterface* accessibleTabFactory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("TabSegment"))
        return new AccessibleTab(static_cast<TabSegment*>(object));
    // The plain widget holding the segments is their tab list.
    if (className == QLatin1String("QWidget") &&
        object->findChild<TabSegment*>(QString(), Qt::FindDirectChildrenOnly))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::PageTabList);
    return nullptr;
}
} // namespace

TabSegment::TabSegment(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    installAccessibleFactory();
    setCheckable(true);
    setAccessibleName(text);
    setFocusPolicy(Qt::StrongFocus);
}

void TabSegment::installAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleTabFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void TabSegment::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const bool forward = event->key() == Qt::Key_Right || event->key() == Qt::Key_Down;
        const QList<TabSegment*> tabs = parentWidget()->findChildren<TabSegment*>(Qt::FindDirectChildrenOnly);
        const qsizetype next = tabs.indexOf(this) + (forward ? 1 : -1);
        if (next >= 0 && next < tabs.size()) {
            tabs[next]->setFocus(Qt::TabFocusReason);
            tabs[next]->click();
        }
        event->accept();
        return;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        click();
        event->accept();
        return;
    default:
        QPushButton::keyPressEvent(event);
    }
}
