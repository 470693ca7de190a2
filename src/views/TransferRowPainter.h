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
struct TransferItem;

// Paints the folded row of a sent transfer as TransferRow shows it, from the presenter's texts,
// with the row's own box layout built of slots instead of widgets.
class TransferRowPainter {
public:
    // `rightMargin` keeps the row clear of the list's scroll bar.
    explicit TransferRowPainter(int rightMargin);
    ~TransferRowPainter();

    // The height of every folded row.
    int height(int width);
    // With the pointer at `pointer` (outside `rect`: elsewhere).
    void paint(QPainter* painter, const QRect& rect, const TransferItem& transfer, const QWidget* list,
               const QPoint& pointer);
    // The tooltip of the button or symbol at `point`.
    QString toolTip(const QRect& rect, const TransferItem& transfer, const QPoint& point);

private:
    // Fonts follow the application's; a changed one builds the layout anew.
    void build();
    // Places the parts for the record.
    void layOut(const QRect& rect, const TransferItem& transfer);

    int m_rightMargin;
    QFont m_base;
    QFont m_nameFont;
    QFont m_smallFont;
    std::unique_ptr<QBoxLayout> m_layout;
    LayoutSlot* m_icon;
    LayoutSlot* m_name;
    LayoutSlot* m_lock;
    LayoutSlot* m_date;
    LayoutSlot* m_fileCount;
    LayoutSlot* m_downloaded;
    LayoutSlot* m_buttons[5];
    LayoutSlot* m_divider;
    std::array<QString, 4> m_texts; // name, date, file count, downloaded
};
