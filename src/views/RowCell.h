#pragma once

#include <QWidget>

// A record's row with its divider below, as a RowListView shows it, live or as its stamp.
class RowCell : public QWidget {
    Q_OBJECT

public:
    RowCell(QWidget* row, int rightMargin);

    QWidget* row() const { return m_row; }

    // The current row while the list has the keyboard: Up and Down move it, Tab enters it.
    void setMarked(bool marked);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* m_row;
    bool m_marked = false;
};
