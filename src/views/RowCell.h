#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

// A record's row widget with its divider below, as a RowListView shows it while the row is live.
class RowCell : public QWidget {
    Q_OBJECT

public:
    RowCell(QWidget* row, int rightMargin);

    QWidget* row() const { return m_row; }

    // The current row while the list has the keyboard: Up and Down move it, Tab enters it.
    void setMarked(bool marked);
    // Only the current row's controls take the keyboard; the others give it up until they are
    // current again.
    void setCurrent(bool current);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* m_row;
    bool m_marked = false;
    QList<std::pair<QPointer<QWidget>, Qt::FocusPolicy>> m_focusPolicies; // the row's own choices
};
