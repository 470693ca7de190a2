#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QSize>
#include <QString>

class QFrame;
class QProgressBar;
class QToolButton;
class QWidget;

// The panel's look in one place: the bundled monochrome symbols tinted from the palette (the same
// with any icon theme or none), named colours, and text styles relative to the application font.
class Style {
public:
    // Sizes relative to the application font, largest first; Strong is the body size in bold.
    enum class Text { Display, Title, Subtitle, Strong, Body, Small, Smaller, Caption, Fine };

    // `symbol` is one of the bundled symbol names, e.g. "edit-copy", "user-trash"; it is drawn in the
    // palette's button text colour.
    static QIcon icon(const QString& symbol);
    // The symbol as one silhouette in `tint` (its alpha included). Unknown names give a null icon.
    static QIcon icon(const QString& symbol, const QColor& tint);
    static bool hasSymbol(const QString& symbol);
    static QFont font(Text style, QFont::Weight weight = QFont::Normal);
    static void setFont(QWidget* widget, Text style, QFont::Weight weight = QFont::Normal);
    // The text style in the desktop's fixed-width face, for passwords and extensions.
    static QFont monospaceFont(Text style);

    // A flat icon-only button named for screen readers by `accessibleName`, else by its tooltip
    // (Qt takes neither on its own), reached with Tab. A `fixedSize` makes a row button.
    static QToolButton* symbolButton(int iconSize, const QString& tooltip, const QString& accessibleName = {},
                                     QSize fixedSize = {});
    // A thin horizontal line between the panel's sections.
    static QFrame* divider();
    // A thin busy bar, `width` wide: the panel's spinner.
    static QProgressBar* spinner(int width, const QString& accessibleName = {});

    // Whether the application's palette has a dark window.
    static bool isDark();
    static QColor green();
    static QColor orange();
    static QColor red();
    static QColor blue();
    static QColor accent();
    static QColor secondary();
    // `color` at `opacity` times its own alpha.
    static QColor faded(QColor color, qreal opacity);
    // The widget keeps its space in its layout while hidden.
    static void keepPlaceWhenHidden(QWidget* widget);
    // Text in `color` through the palette: unlike a style sheet it costs nothing per widget,
    // which counts in long lists.
    static void setTextColor(QWidget* widget, const QColor& color);
    // `color` as a style-sheet colour, e.g. for a label's text.
    static QString css(const QColor& color);
};
