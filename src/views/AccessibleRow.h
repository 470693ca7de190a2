#pragma once

#include "views/RowPaint.h"

#include <QAccessibleInterface>
#include <QPersistentModelIndex>
#include <QPointer>

class RowListView;

// A row of a RowListView as screen readers meet it: a list item
// named with the row's text, offering every action of the row's buttons and menus by the name they
// show. Invoking one clicks what it names. The lines a row draws below its main line (a password,
// its files) are its children, in the order drawn; `line` is -1 for the row itself. While the
// keyboard is on one of the row's buttons, that button is its last child (`line` FocusedButton),
// so a screen reader hears which button Tab reached.
class AccessibleRow : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    static constexpr int FocusedButton = -2;

    AccessibleRow(RowListView* view, const QModelIndex& index, int line);

    const QPersistentModelIndex& index() const { return m_index; }
    int line() const { return m_line; }

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override {
        return m_line == FocusedButton ? QAccessible::Button : QAccessible::ListItem;
    }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    QString localizedActionName(const QString& name) const override { return name; }
    QString localizedActionDescription(const QString& name) const override { return name; }
    void doAction(const QString& name) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QList<RowPaint::Line> lines() const;
    bool hasFocusedButton() const;

    QPointer<RowListView> m_view;
    QPersistentModelIndex m_index;
    int m_line;
};
