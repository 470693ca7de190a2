#include "Style.h"

#include <QApplication>
#include <QFrame>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QProgressBar>
#include <QStyle>
#include <QToolButton>
#include <QWidget>

namespace {
struct Symbol {
    QStringList themeNames;
    QStyle::StandardPixmap fallback;
};

const QHash<QString, Symbol>& symbols() {
    static const QHash<QString, Symbol> table = {
        {"arrow.up.doc.fill", {{"document-send", "go-up"}, QStyle::SP_ArrowUp}},
        {"arrow.up.doc", {{"document-send", "go-up"}, QStyle::SP_ArrowUp}},
        {"gearshape",
         {{"preferences-system", "configure", "emblem-system"}, QStyle::SP_FileDialogDetailedView}},
        {"power", {{"system-shutdown", "application-exit"}, QStyle::SP_DialogCloseButton}},
        {"checkmark.circle.fill",
         {{"emblem-ok", "dialog-ok", "object-select"}, QStyle::SP_DialogApplyButton}},
        {"checkmark.circle", {{"dialog-ok", "object-select"}, QStyle::SP_DialogApplyButton}},
        {"checkmark", {{"object-select", "dialog-ok"}, QStyle::SP_DialogApplyButton}},
        {"xmark", {{"window-close", "dialog-close"}, QStyle::SP_TitleBarCloseButton}},
        {"xmark.circle.fill", {{"process-stop", "dialog-cancel"}, QStyle::SP_DialogCancelButton}},
        {"doc.on.doc", {{"edit-copy"}, QStyle::SP_FileLinkIcon}},
        {"lock.fill",
         {{"object-locked", "changes-prevent", "system-lock-screen"}, QStyle::SP_MessageBoxWarning}},
        {"lock.open", {{"object-unlocked", "changes-allow"}, QStyle::SP_FileIcon}},
        {"arrow.down.circle", {{"download", "go-down"}, QStyle::SP_ArrowDown}},
        {"arrow.down.circle.fill", {{"download", "go-down"}, QStyle::SP_ArrowDown}},
        {"trash", {{"edit-delete", "user-trash"}, QStyle::SP_TrashIcon}},
        {"chevron.up", {{"go-up", "pan-up-symbolic"}, QStyle::SP_ArrowUp}},
        {"chevron.down", {{"go-down", "pan-down-symbolic"}, QStyle::SP_ArrowDown}},
        {"arrow.clockwise", {{"view-refresh"}, QStyle::SP_BrowserReload}},
        {"exclamationmark.triangle", {{"dialog-warning"}, QStyle::SP_MessageBoxWarning}},
        {"eye.slash", {{"view-hidden", "view-private"}, QStyle::SP_DialogNoButton}},
        {"server.rack", {{"network-server"}, QStyle::SP_DriveNetIcon}},
        {"tray", {{"mail-inbox", "folder-download"}, QStyle::SP_DirIcon}},
        {"network", {{"network-workgroup", "network-wired"}, QStyle::SP_DriveNetIcon}},
    };
    return table;
}

qreal scale(Style::Text style) {
    switch (style) {
    case Style::Text::LargeTitle:
        return 1.6;
    case Style::Text::Title:
        return 1.35;
    case Style::Text::Title3:
        return 1.15;
    case Style::Text::Headline:
        return 1.0;
    case Style::Text::Subheadline:
        return 0.92;
    case Style::Text::Body:
        return 1.0;
    case Style::Text::Callout:
        return 0.94;
    case Style::Text::Caption:
        return 0.85;
    case Style::Text::Caption2:
        return 0.77;
    }
    return 1.0;
}
} // namespace

QIcon Style::icon(const QString& symbol) {
    const auto it = symbols().constFind(symbol);
    if (it == symbols().constEnd())
        return {};
    for (const QString& name : it->themeNames)
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    return QApplication::style()->standardIcon(it->fallback);
}

QIcon Style::icon(const QString& symbol, const QColor& tint) {
    // Lists build the same few tinted symbols for every row.
    static QHash<QString, QIcon> cache;
    const QString key = symbol + QLatin1Char('|') + QString::number(quint64(tint.rgba64()), 16);
    if (const auto cached = cache.constFind(key); cached != cache.constEnd())
        return *cached;
    const auto it = symbols().constFind(symbol);
    if (it == symbols().constEnd())
        return {};
    QIcon base;
    for (const QString& name : it->themeNames) {
        if (QIcon::hasThemeIcon(name)) {
            base = QIcon::fromTheme(name);
            break;
        }
    }
    QIcon tinted;
    if (base.isNull()) {
        // The style's own pictures are multicoloured: as a silhouette an arrow in a circle
        // would become a plain disc, so they keep their colours.
        tinted = QApplication::style()->standardIcon(it->fallback);
    } else {
        for (const int side : {12, 14, 16, 22, 24, 32, 48, 64}) {
            QPixmap pixmap = base.pixmap(QSize(side, side));
            if (pixmap.isNull())
                continue;
            QPainter painter(&pixmap);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), tint);
            painter.end();
            tinted.addPixmap(pixmap);
        }
    }
    cache.insert(key, tinted);
    return tinted;
}

QFont Style::font(Text style, QFont::Weight weight) {
    QFont font = QApplication::font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    font.setPointSizeF(base * scale(style));
    font.setWeight(style == Text::Headline && weight == QFont::Normal ? QFont::DemiBold : weight);
    return font;
}

void Style::setFont(QWidget* widget, Text style, QFont::Weight weight) {
    widget->setFont(font(style, weight));
}

QColor Style::green() {
    return QColor(0x34, 0xC7, 0x59);
}

QColor Style::orange() {
    return QColor(0xFF, 0x95, 0x00);
}

QColor Style::red() {
    return QColor(0xFF, 0x3B, 0x30);
}

QColor Style::blue() {
    return QColor(0x00, 0x7A, 0xFF);
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
    if (fixedSize.isValid()) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(fixedSize);
    }
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
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
