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
struct TransferItem;

// Paints the row of a sent transfer from the presenter's texts and what the row holds open (its
// RowStates flags): the main line with its buttons, the password line, the loading line and the
// unfolded list of packed files; and says where its buttons are.
class SentRowPainter {
public:
    // `rightMargin` keeps the row clear of the list's scroll bar.
    explicit SentRowPainter(int rightMargin);
    ~SentRowPainter();

    int height(int width, const TransferItem& transfer, int state);
    void paint(QPainter* painter, const QRect& rect, const TransferItem& transfer, int state,
               const QWidget* list, const RowPaint::Look& look);
    // In keyboard order, the main line last.
    QList<RowPaint::Button> buttons(const QRect& rect, const TransferItem& transfer, int state);
    // The unfolded file list, where it holds more names than it shows.
    RowPaint::Scrolling scrolling(const QRect& rect, const TransferItem& transfer, int state);
    // The password or its loading line, then the unfolded file names, scrolled by `scrolled`.
    QList<RowPaint::Line> lines(const QRect& rect, const TransferItem& transfer, int state, int scrolled);
    // The tooltip of the button or symbol at `point`.
    QString toolTip(const QRect& rect, const TransferItem& transfer, int state, const QPoint& point);

private:
    // Fonts follow the application's; a changed one builds the layout anew.
    void build();
    // Places the parts for the record.
    void layOut(const QRect& rect, const TransferItem& transfer, int state);

    int m_rightMargin;
    QFont m_base;
    QFont m_nameFont;
    QFont m_smallFont;
    QFont m_passwordFont;
    std::unique_ptr<QBoxLayout> m_layout;
    QBoxLayout* m_line;
    LayoutSlot* m_icon;
    LayoutSlot* m_name;
    LayoutSlot* m_lock;
    LayoutSlot* m_date;
    LayoutSlot* m_fileCount;
    LayoutSlot* m_downloaded;
    LayoutSlot* m_buttons[5];
    LayoutSlot* m_passwordLine;
    LayoutSlot* m_loadingLine;
    LayoutSlot* m_fileList;
    LayoutSlot* m_divider;
    std::array<QString, 4> m_texts; // name, date, file count, downloaded
    QList<RowPaint::Button> m_hits;
};
