#pragma once

#include "views/RowPaint.h"

#include <QFont>
#include <QList>
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

// Paints the row of a customer upload from the presenter's texts and what the row holds open (its
// RowStates flags): the main line with its buttons and the unfolded details (message and single
// files); and says where its buttons are.
class IncomingRowPainter {
public:
    IncomingRowPainter();
    ~IncomingRowPainter();

    int height(int width, const IncomingUpload& upload, int state);
    void paint(QPainter* painter, const QRect& rect, const IncomingUpload& upload, int state,
               const QWidget* list, const RowPaint::Look& look);
    // In keyboard order, the main line last.
    QList<RowPaint::Button> buttons(const QRect& rect, const IncomingUpload& upload, int state);
    // The unfolded details: the whole message, then each file with its size (nothing scrolls).
    QList<RowPaint::Line> lines(const QRect& rect, const IncomingUpload& upload, int state, int scrolled);
    // The tooltip of the button at `point`.
    QString toolTip(const QRect& rect, const IncomingUpload& upload, int state, const QPoint& point);

private:
    // Fonts follow the application's; a changed one builds the layout anew.
    void build();
    // Places the parts for the record.
    void layOut(const QRect& rect, const IncomingUpload& upload, int state);

    QFont m_base;
    QFont m_headlineFont;
    QFont m_smallFont;
    QFont m_orderFont;
    std::unique_ptr<QBoxLayout> m_layout;
    QBoxLayout* m_line;
    LayoutSlot* m_dot;
    LayoutSlot* m_headline;
    LayoutSlot* m_facts[4]; // customer, order, file count, size
    LayoutSlot* m_date;
    LayoutSlot* m_buttons[4];
    LayoutSlot* m_details;
    QStringList m_message; // as shown unfolded
    LayoutSlot* m_divider;
    QList<RowPaint::Button> m_hits;
    std::array<QString, 6> m_texts; // headline, customer, order, file count, size, date
};
