#include "views/CopiedOverlay.h"

#include "views/Style.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QPainter>

namespace {
constexpr int iconSize = 13;
constexpr int spacing = 6;
} // namespace

void CopiedOverlay::paint(QPainter* painter, const QRect& line, qreal opacity) {
    if (opacity <= 0)
        return;
    painter->save();
    painter->setOpacity(opacity);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(Style::faded(Style::green(), 0.85));
    painter->drawRoundedRect(QRectF(line), 6, 6);
    // The check mark and the text, centred together.
    const QString text = QCoreApplication::translate("CopiedOverlay", "Link kopiert");
    const QFont font = Style::font(Style::Text::Caption, QFont::Medium);
    const int textWidth = QFontMetrics(font).horizontalAdvance(text);
    const int left = line.center().x() - (iconSize + spacing + textWidth) / 2;
    const QPixmap check = Style::icon(QStringLiteral("emblem-ok-filled"), Qt::white)
                              .pixmap(QSize(iconSize, iconSize), painter->device()->devicePixelRatioF());
    painter->drawPixmap(QPoint(left, line.center().y() - iconSize / 2), check);
    painter->setFont(font);
    painter->setPen(Qt::white);
    painter->drawText(QRect(left + iconSize + spacing, line.top(), textWidth + 1, line.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, text);
    painter->restore();
}
