#include "app/StatusIcons.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr qreal ringCanvas = 22;
constexpr qreal ringRadius = 8.5;
constexpr qreal ringLineWidth = 2.5;
const QRectF ringRect(ringCanvas / 2 - ringRadius, ringCanvas / 2 - ringRadius, 2 * ringRadius,
                      2 * ringRadius);

QImage canvas(qreal size, qreal devicePixelRatio) {
    const int pixels = static_cast<int>(std::ceil(size * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    // 72 dots per inch, so that a font's point size is its size in canvas units.
    image.setDotsPerMeterX(2835);
    image.setDotsPerMeterY(2835);
    image.fill(Qt::transparent);
    return image;
}

QPen roundPen(const QColor& color, qreal width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawTrack(QPainter& painter, QColor color, qreal alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    painter.setPen(roundPen(color, ringLineWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(ringRect);
}

// Qt measures arc angles as seen on screen (positive = counter-clockwise), so
// the angles of a y-up drawing carry over unchanged.
void drawArc(QPainter& painter, const QColor& color, qreal startDegrees, qreal spanDegrees) {
    QPainterPath arc;
    arc.arcMoveTo(ringRect, startDegrees);
    arc.arcTo(ringRect, startDegrees, spanDegrees);
    painter.strokePath(arc, roundPen(color, ringLineWidth));
}

// The tray's bar may be dark (GNOME) or light (many KDE panels), and the icon cannot know which:
// the label sits on a light plate inside the ring, so dark ink reads on either.
void drawPlate(QPainter& painter) {
    constexpr qreal plateRadius = ringRadius - ringLineWidth / 2 - 0.25;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawEllipse(QPointF(ringCanvas / 2, ringCanvas / 2), plateRadius, plateRadius);
}

void drawCentredText(QPainter& painter, const QString& text, qreal pointSize, const QColor& color) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(pointSize);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(0, 0, ringCanvas, ringCanvas), Qt::AlignCenter, text);
}

QPainter& prepared(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    return painter;
}
} // namespace

QImage StatusIcons::createZipIcon(double angle, qreal devicePixelRatio, const QColor& labelColor) {
    // Whole turns must give the same picture pixel for pixel.
    double start = std::isfinite(angle) ? std::fmod(angle, 360.0) : 0.0;
    if (start < 0)
        start += 360.0;

    QImage image = canvas(ringCanvas, devicePixelRatio);
    QPainter painter(&image);
    prepared(painter);
    drawTrack(painter, orange, 0.2);
    drawArc(painter, orange, start, 2.0 * 180.0 / std::numbers::pi);
    drawPlate(painter);
    drawCentredText(painter, QStringLiteral("ZIP"), 5.5, labelColor);
    return image;
}

QImage StatusIcons::createProgressIcon(double percent, qreal devicePixelRatio, const QColor& labelColor) {
    const double fraction = std::isfinite(percent) ? percent : 0.0;
    QImage image = canvas(ringCanvas, devicePixelRatio);
    QPainter painter(&image);
    prepared(painter);
    drawTrack(painter, grey, 0.3);
    // From the top, clockwise on screen.
    drawArc(painter, blue, 90.0, -360.0 * std::max(fraction, 0.02));
    drawPlate(painter);
    const auto whole = static_cast<long long>(std::trunc(fraction * 100.0));
    drawCentredText(painter, QString::number(whole), 7, labelColor);
    return image;
}

QImage StatusIcons::createCheckmarkIcon(qreal devicePixelRatio) {
    QImage image = canvas(18, devicePixelRatio);
    QPainter painter(&image);
    prepared(painter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(checkmarkGreen);
    painter.drawEllipse(QRectF(2, 2, 14, 14));
    // The y-up path (5.5, 9) → (8, 6.5) → (12.5, 11.5), flipped onto the 18-unit canvas.
    QPainterPath tick;
    tick.moveTo(5.5, 9);
    tick.lineTo(8, 11.5);
    tick.lineTo(12.5, 6.5);
    painter.strokePath(tick, roundPen(Qt::white, 2));
    return image;
}

QColor StatusIcons::defaultLabelColor() {
    return QColor(0x1C, 0x1C, 0x1E);
}
