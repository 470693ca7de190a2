#include "views/Labels.h"

#include "models/Format.h"

QLabel* Labels::symbol(const QString& symbol, const QColor& tint, int size) {
    auto* label = new QLabel;
    label->setPixmap(Style::icon(symbol, tint).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

void Labels::setText(QLabel* label, const QString& text) {
    const QString shown = Format::shown(text);
    label->setText(shown);
    label->setAccessibleName(shown);
}
