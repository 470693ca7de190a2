#pragma once

#include <QBoxLayout>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QMargins>
#include <QRect>
#include <QString>

class LayoutSlot;
class QPainter;
class QWidget;

// The parts of a painted row, drawn straight into a list as widgets would draw them: labels
// shortened as ElidedLabel shortens them, flat symbol buttons, symbols and the divider. `widget`
// is the list whose style and palette the row takes.
class RowPaint {
public:
    // A button of a row, by the name of what it does, with its tooltip. `keyboard`: reached by Tab
    // (the main line is not: a click on it copies the link). The keyboard's buttons come first.
    struct Button {
        QRect rect;
        QString action;
        QString toolTip;
        bool keyboard = true;
    };
    // What a row shows besides its record: the pointer (outside the row: elsewhere), the action of
    // the button held down under it, the button the keyboard is on (-1: none), how far the
    // "Link kopiert" strip has faded in and how far its scrolling part (a long file list) is scrolled.
    struct Look {
        QPoint pointer{-1, -1};
        QString pressed;
        int focused = -1;
        qreal copied = 0;
        int scrolled = 0;
    };
    // A line the row draws below its main line (a password, a file), where it is drawn; empty where
    // it is scrolled out of sight.
    struct Line {
        QString text;
        QRect rect;
    };
    // The part of a row the wheel scrolls, and how far it can.
    struct Scrolling {
        QRect area;
        int range = 0;
    };

    // A box of the row's layout (no widget behind it).
    static QBoxLayout* box(QBoxLayout::Direction direction, int spacing, QMargins margins = {});
    // The height of an ElidedLabel's line: tall enough for umlauts on capitals and for descenders.
    static int lineHeight(const QFont& font);
    // The hints an ElidedLabel of one line gives its layout for `text` in `font`.
    static void elidedHints(LayoutSlot* slot, const QFont& font, const QString& text);
    // The hints a plain QLabel gives for `text`.
    static void labelHints(LayoutSlot* slot, const QFont& font, const QString& text);
    // The label's text in `rect`, shortened at `mode` when it does not fit (Qt::ElideNone: cut).
    static void text(QPainter* painter, const QRect& rect, const QFont& font, const QColor& color,
                     const QString& text, Qt::TextElideMode mode = Qt::ElideNone);
    // A flat (auto-raised) symbol button, lit while `hovered`, sunken while `pressed`, framed while
    // the keyboard is on it.
    static void button(QPainter* painter, const QWidget* widget, const QRect& rect, const QIcon& icon,
                       int iconSize, bool hovered, bool pressed = false, bool focused = false);
    // The rounded frame around what the keyboard is on.
    static void focusFrame(QPainter* painter, const QWidget* widget, const QRectF& rect);
    // A symbol label: the icon's pixmap at `size` in the top left corner of `rect`.
    static void symbol(QPainter* painter, const QRect& rect, const QIcon& icon, int size);
    // The thin line below a row.
    static void divider(QPainter* painter, const QWidget* widget, const QRect& rect);
    static QColor dividerColor();
};
