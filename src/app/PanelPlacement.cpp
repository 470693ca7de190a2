#include "app/PanelPlacement.h"

#include <algorithm>
#include <cmath>

QSize PanelPlacement::storedSize(int width, int height) {
    const int w = width < minimumSize.width() ? defaultSize.width() : width;
    const int h = height < minimumSize.height() ? defaultSize.height() : height;
    return {std::min(w, maximumSize.width()), std::min(h, maximumSize.height())};
}

QRect PanelPlacement::anchor(const std::optional<QRect>& trayGeometry, const std::optional<QPoint>& pointer,
                             const QRect& primaryAvailable) {
    // A StatusNotifierItem tray reports no geometry (an empty rectangle).
    if (trayGeometry && trayGeometry->isValid())
        return *trayGeometry;
    if (pointer)
        return QRect(*pointer, QSize(0, 0));
    return QRect(primaryAvailable.x() + primaryAvailable.width(), primaryAvailable.y(), 0, 0);
}

bool PanelPlacement::pointerTrusted(const QString& sessionType, const QString& waylandDisplay) {
    return waylandDisplay.isEmpty() &&
           sessionType.compare(QLatin1String("wayland"), Qt::CaseInsensitive) != 0;
}

QPoint PanelPlacement::topLeft(const QRect& anchor, const QSize& size,
                               const std::optional<QRect>& available) {
    // QRect::right() and bottom() are one short of the edge; work with the edges.
    const double midX = anchor.x() + anchor.width() / 2.0;
    int x = static_cast<int>(std::lround(midX - size.width() / 2.0));
    int y = anchor.y() + anchor.height() + gapBelowAnchor;
    if (available) {
        const int availRight = available->x() + available->width();
        const int availBottom = available->y() + available->height();
        x = std::max(available->x() + screenMargin, std::min(x, availRight - size.width() - screenMargin));
        // With the tray at the bottom, the panel then sits on the tray bar's top
        // edge, since the available area leaves the bar out.
        y = std::max(available->y(), std::min(y, availBottom - size.height()));
    }
    return {x, y};
}
