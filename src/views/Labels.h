#pragma once

#include "views/Style.h"

#include <QLabel>

// The panel's small label kinds, shared by the tabs and rows.
class Labels {
public:
    // A symbol drawn in `tint` at `size` × `size` points.
    static QLabel* symbol(const QString& symbol, const QColor& tint, int size);

    // Text in a style and colour; the colour goes through the palette, which costs nothing per
    // widget (unlike a style sheet) and counts in long lists.
    template <typename Label = QLabel>
    static Label* text(Style::Text style, const QColor& color, QFont::Weight weight = QFont::Normal) {
        auto* label = new Label();
        // Names, messages and errors come from servers and customers: never read as markup.
        label->setTextFormat(Qt::PlainText);
        Style::setFont(label, style, weight);
        Style::setTextColor(label, color);
        return label;
    }

    // Sets the text and the same accessible name, so screen readers read what is shown.
    static void setText(QLabel* label, const QString& text);
};
