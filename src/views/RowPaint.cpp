#include "views/RowPaint.h"

#include "views/LayoutSlot.h"
#include "views/Style.h"

#include <QFrame>
#include <QPainter>
#include <QStyleOption>
#include <QWidget>
#include <QtMath>

int RowPaint::lineHeight(const QFont& font) {
    const QFontMetrics metrics(font);
    const int tallest = metrics.boundingRect(QStringLiteral("ÄÖÜÅ_gj")).height();
    return std::max({metrics.lineSpacing(), metrics.height() + 1, tallest + 1});
}

void RowPaint::elidedHints(LayoutSlot* slot, const QFont& font, const QString& text) {
    const QFontMetrics metrics(font);
    const int height = lineHeight(font);
    const int width = qCeil(QFontMetricsF(font).horizontalAdvance(QString(text).replace(u'\n', u' ')));
    slot->setHints(QSize(width, height), QSize(metrics.averageCharWidth(), height));
}

void RowPaint::labelHints(LayoutSlot* slot, const QFont& font, const QString& text) {
    const QSize size = QFontMetrics(font).boundingRect(0, 0, 2000, 2000, Qt::AlignLeft, text).size();
    slot->setHints(size, size);
}

QBoxLayout* RowPaint::box(QBoxLayout::Direction direction, int spacing, QMargins margins) {
    auto* layout = new QBoxLayout(direction);
    layout->setSpacing(spacing);
    layout->setContentsMargins(margins);
    return layout;
}

void RowPaint::text(QPainter* painter, const QRect& rect, const QFont& font, const QColor& color,
                    const QString& text, Qt::TextElideMode mode) {
    if (text.isEmpty())
        return;
    QString shown = text;
    if (mode != Qt::ElideNone) {
        const QString oneLine = QString(text).replace(u'\n', u' ');
        if (oneLine != text || QFontMetricsF(font).horizontalAdvance(oneLine) > qMax(1, rect.width()))
            shown = QFontMetrics(font).elidedText(oneLine, mode, qMax(1, rect.width()));
    }
    // As QLabel draws plain text: aligned to the side the text reads from.
    const bool rightToLeft = shown.isRightToLeft();
    const int flags = Qt::AlignVCenter | Qt::TextExpandTabs | (rightToLeft ? Qt::AlignRight : Qt::AlignLeft) |
                      (rightToLeft ? Qt::TextForceRightToLeft : Qt::TextForceLeftToRight);
    painter->setFont(font);
    painter->setPen(color);
    painter->drawText(rect, flags, shown);
}

void RowPaint::button(QPainter* painter, const QWidget* widget, const QRect& rect, const QIcon& icon,
                      int iconSize, bool hovered, bool pressed, bool focused) {
    if (focused)
        focusFrame(painter, widget, QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5));
    QStyleOptionToolButton option;
    option.initFrom(widget);
    option.state &= ~(QStyle::State_MouseOver | QStyle::State_HasFocus);
    option.state |= QStyle::State_AutoRaise | (pressed ? QStyle::State_Sunken : QStyle::State_Raised);
    if (hovered || pressed)
        option.state |= QStyle::State_MouseOver;
    option.rect = rect;
    option.icon = icon;
    option.iconSize = QSize(iconSize, iconSize);
    option.subControls = QStyle::SC_ToolButton;
    option.activeSubControls = pressed ? QStyle::SC_ToolButton : QStyle::SC_None;
    option.toolButtonStyle = Qt::ToolButtonIconOnly;
    option.palette = widget->palette();
    widget->style()->drawComplexControl(QStyle::CC_ToolButton, &option, painter, widget);
}

void RowPaint::symbol(QPainter* painter, const QRect& rect, const QIcon& icon, int size) {
    painter->drawPixmap(rect.topLeft(),
                        icon.pixmap(QSize(size, size), painter->device()->devicePixelRatioF()));
}

QColor RowPaint::dividerColor() {
    return Style::faded(Style::secondary(), 0.3);
}

void RowPaint::divider(QPainter* painter, const QWidget* widget, const QRect& rect) {
    QStyleOptionFrame option;
    option.initFrom(widget);
    option.rect = rect;
    option.frameShape = QFrame::HLine;
    option.lineWidth = 1;
    option.midLineWidth = 0;
    option.state &= ~(QStyle::State_Sunken | QStyle::State_Raised);
    option.palette.setColor(QPalette::WindowText, dividerColor());
    // The line's end point is drawn too; a QFrame clips it off.
    painter->save();
    painter->setClipRect(rect, Qt::IntersectClip);
    widget->style()->drawControl(QStyle::CE_ShapedFrame, &option, painter, widget);
    painter->restore();
}

void RowPaint::focusFrame(QPainter* painter, const QWidget* widget, const QRectF& rect) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(widget->palette().color(QPalette::Highlight), 1.5));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(rect, 4, 4);
    painter->restore();
}
