#pragma once

#include <QFont>
#include <QString>
#include <array>
#include <memory>

class LayoutSlot;
class QBoxLayout;
class QPainter;
class QPoint;
class QRect;
class QWidget;
struct IncomingUpload;

// Paints the folded row of a customer upload as IncomingRow shows it, from the presenter's texts,
// with the row's own box layout built of slots instead of widgets.
class IncomingRowPainter {
public:
    IncomingRowPainter();
    ~IncomingRowPainter();

    // The height of every folded row.
    int height(int width);
    // With the pointer at `pointer` (outside `rect`: elsewhere).
    void paint(QPainter* painter, const QRect& rect, const IncomingUpload& upload, const QWidget* list,
               const QPoint& pointer);
    // The tooltip of the button or symbol at `point`.
    QString toolTip(const QRect& rect, const IncomingUpload& upload, const QPoint& point);

private:
    // Fonts follow the application's; a changed one builds the layout anew.
    void build();
    // Places the parts for the record.
    void layOut(const QRect& rect, const IncomingUpload& upload);

    QFont m_base;
    QFont m_headlineFont;
    QFont m_smallFont;
    QFont m_orderFont;
    std::unique_ptr<QBoxLayout> m_layout;
    LayoutSlot* m_dot;
    LayoutSlot* m_headline;
    LayoutSlot* m_facts[4]; // customer, order, file count, size
    LayoutSlot* m_date;
    LayoutSlot* m_buttons[4];
    LayoutSlot* m_divider;
    std::array<QString, 6> m_texts; // headline, customer, order, file count, size, date
};
