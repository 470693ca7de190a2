#include "views/Style.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QProgressBar>
#include <QToolButton>
#include <QWidget>

// Resources compiled into a static library are only registered when something refers to them;
// Q_INIT_RESOURCE must be used outside any namespace.
static void registerSymbols() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(symbols);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace {
QString symbolPath(const QString& symbol) {
    return QStringLiteral(":/symbols/") + symbol + QStringLiteral(".svg");
}

qreal scale(Style::Text style) {
    switch (style) {
    case Style::Text::Display:
        return 1.6;
    case Style::Text::Title:
        return 1.35;
    case Style::Text::Subtitle:
        return 1.15;
    case Style::Text::Strong:
        return 1.0;
    case Style::Text::Smaller:
        return 0.92;
    case Style::Text::Body:
        return 1.0;
    case Style::Text::Small:
        return 0.94;
    case Style::Text::Caption:
        return 0.85;
    case Style::Text::Fine:
        return 0.77;
    }
    return 1.0;
}
} // namespace

bool Style::hasSymbol(const QString& symbol) {
    registerSymbols();
    return !symbol.isEmpty() && QFile::exists(symbolPath(symbol));
}

QIcon Style::icon(const QString& symbol) {
    return icon(symbol, QApplication::palette().color(QPalette::ButtonText));
}

QIcon Style::icon(const QString& symbol, const QColor& tint) {
    // Lists build the same few tinted symbols for every row.
    static QHash<QString, QIcon> cache;
    const QString key = symbol + QLatin1Char('|') + QString::number(quint64(tint.rgba64()), 16);
    if (const auto cached = cache.constFind(key); cached != cache.constEnd())
        return *cached;
    if (!hasSymbol(symbol))
        return {};
    // The bundled symbols are black shapes on transparency; only their coverage counts, so any
    // colour the palette asks for comes out exactly.
    const QIcon base(symbolPath(symbol));
    QIcon tinted;
    for (const int side : {12, 13, 14, 16, 18, 20, 22, 24, 26, 28, 32, 36, 48, 56, 64}) {
        QPixmap pixmap = base.pixmap(QSize(side, side));
        if (pixmap.isNull())
            continue;
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), tint);
        painter.end();
        tinted.addPixmap(pixmap);
    }
    cache.insert(key, tinted);
    return tinted;
}

QFont Style::font(Text style, QFont::Weight weight) {
    QFont font = QApplication::font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    font.setPointSizeF(base * scale(style));
    font.setWeight(style == Text::Strong && weight == QFont::Normal ? QFont::DemiBold : weight);
    return font;
}

void Style::setFont(QWidget* widget, Text style, QFont::Weight weight) {
    widget->setFont(font(style, weight));
}

// The named colours in two shades: the bright ones read on a dark window, the deeper ones on a
// light window, where the bright green and orange would fade into white.
bool Style::isDark() {
    return QApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
}

QColor Style::green() {
    return isDark() ? QColor(0x30, 0xD1, 0x58) : QColor(0x24, 0x8A, 0x3D);
}

QColor Style::orange() {
    return isDark() ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xC9, 0x34, 0x00);
}

QColor Style::red() {
    return isDark() ? QColor(0xFF, 0x45, 0x3A) : QColor(0xD7, 0x00, 0x15);
}

QColor Style::blue() {
    return isDark() ? QColor(0x0A, 0x84, 0xFF) : QColor(0x00, 0x40, 0xDD);
}

QColor Style::accent() {
    return QApplication::palette().color(QPalette::Highlight);
}

QColor Style::secondary() {
    return QApplication::palette().color(QPalette::PlaceholderText);
}

QColor Style::faded(QColor color, qreal opacity) {
    color.setAlphaF(color.alphaF() * opacity);
    return color;
}

void Style::setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, color);
    widget->setPalette(palette);
}

QString Style::css(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF());
}

QFont Style::monospaceFont(Text style) {
    QFont mono = font(style);
    mono.setStyleHint(QFont::Monospace);
    mono.setFamily(QStringLiteral("monospace"));
    return mono;
}

QToolButton* Style::symbolButton(int iconSize, const QString& tooltip, const QString& accessibleName,
                                 QSize fixedSize) {
    auto* button = new QToolButton;
    button->setAutoRaise(true);
    button->setIconSize(QSize(iconSize, iconSize));
    if (!tooltip.isEmpty())
        button->setToolTip(tooltip);
    button->setAccessibleName(accessibleName.isEmpty() ? tooltip : accessibleName);
    // Reached with Tab (not by a click, which would leave a focus frame on a row).
    button->setFocusPolicy(Qt::TabFocus);
    if (fixedSize.isValid())
        button->setFixedSize(fixedSize);
    return button;
}

QProgressBar* Style::spinner(int width, const QString& accessibleName) {
    auto* bar = new QProgressBar;
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(width, 6);
    if (!accessibleName.isEmpty())
        bar->setAccessibleName(accessibleName);
    return bar;
}

QFrame* Style::divider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    // Plain in a mid tone: a sunken line draws a white edge that glares on a dark window.
    line->setFrameShadow(QFrame::Plain);
    setTextColor(line, faded(secondary(), 0.5));
    return line;
}

void Style::keepPlaceWhenHidden(QWidget* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}
