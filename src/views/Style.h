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

// The panel's look in one place: symbol names mapped to the desktop's icon
// theme (with Qt's own drawn pixmaps where a theme lacks one, so nothing is
// blank), named colours, and text styles relative to the application font.
class Style {
public:
    enum class Text { LargeTitle, Title, Title3, Headline, Subheadline, Body, Callout, Caption, Caption2 };

    // `symbol` is one of the panel's symbol names, e.g. "doc.on.doc", "trash".
    static QIcon icon(const QString& symbol);
    // A theme's symbol recoloured as one silhouette in `tint` (its alpha included),
    // the way the panel's coloured symbols look; the style's fallback as it is.
    static QIcon icon(const QString& symbol, const QColor& tint);
    static QFont font(Text style, QFont::Weight weight = QFont::Normal);
    static void setFont(QWidget* widget, Text style, QFont::Weight weight = QFont::Normal);
    // The text style in the desktop's fixed-width face, for passwords and extensions.
    static QFont monospaceFont(Text style);

    // A flat icon-only button named for screen readers by `accessibleName`, else by its tooltip
    // (Qt takes neither on its own). A `fixedSize` makes a row button, which takes no focus.
    static QToolButton* symbolButton(int iconSize, const QString& tooltip, const QString& accessibleName = {},
                                     QSize fixedSize = {});
    // A thin horizontal line between the panel's sections.
    static QFrame* divider();
    // A thin busy bar, `width` wide: the panel's spinner.
    static QProgressBar* spinner(int width, const QString& accessibleName = {});

    static QColor green();
    static QColor orange();
    static QColor red();
    static QColor blue();
    static QColor accent();
    static QColor secondary();
    // `color` at `opacity` times its own alpha.
    static QColor faded(QColor color, qreal opacity);
    // Text in `color` through the palette: unlike a style sheet it costs nothing per widget,
    // which counts in long lists.
    static void setTextColor(QWidget* widget, const QColor& color);
    // `color` as a style-sheet colour, e.g. for a label's text.
    static QString css(const QColor& color);
};
