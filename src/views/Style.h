#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QWidget;

// The panel's look in one place: symbol names mapped to the desktop's icon
// theme (with Qt's own drawn pixmaps where a theme lacks one, so nothing is
// blank), named colours, and text styles relative to the application font.
class Style {
public:
    enum class Text { LargeTitle, Title, Title3, Headline, Subheadline, Body, Callout, Caption, Caption2 };

    // `symbol` is one of the panel's symbol names, e.g. "doc.on.doc", "trash".
    static QIcon icon(const QString& symbol);
    static QFont font(Text style, QFont::Weight weight = QFont::Normal);
    static void setFont(QWidget* widget, Text style, QFont::Weight weight = QFont::Normal);

    static QColor green();
    static QColor orange();
    static QColor red();
    static QColor blue();
    static QColor accent();
    static QColor secondary();
    // `color` as a style-sheet colour, e.g. for a label's text.
    static QString css(const QColor& color);
};
