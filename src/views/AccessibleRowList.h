#pragma once

#include <QAccessibleWidget>

class RowListView;

// A RowListView as screen readers meet it: a list whose children are its rows
// (see AccessibleRow).
class AccessibleRowList : public QAccessibleWidget {
public:
    explicit AccessibleRowList(RowListView* view);

    // Serves every RowListView from now on.
    static void install();

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

private:
    RowListView* view() const;
};
