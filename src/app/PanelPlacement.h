#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

// Where the panel goes and how big it is, in Qt's screen coordinates (y grows
// downwards). Pure arithmetic, so that the shell stays thin.
class PanelPlacement {
public:
    static constexpr QSize minimumSize{320, 400};
    static constexpr QSize maximumSize{700, 900};
    static constexpr QSize defaultSize{380, 560};
    static constexpr int gapBelowAnchor = 4;
    static constexpr int screenMargin = 8;

    // The stored "popoverWidth"/"popoverHeight" (0 when missing): a width below
    // the minimum becomes the default width, a height below the minimum the
    // default height; both are capped at the maximum.
    static QSize storedSize(int width, int height);

    // What the panel hangs from: the tray icon's geometry when the tray reports
    // one, else the pointer position taken at the click, else the top-right
    // corner of the primary screen's available area.
    static QRect anchor(const std::optional<QRect>& trayGeometry, const std::optional<QPoint>& pointer,
                        const QRect& primaryAvailable);

    // Whether the pointer position read at a click on the tray tells where the tray is. In a
    // Wayland session an X client (XWayland) only learns the pointer while it is over one of its
    // own windows, so the position may be from long ago: `sessionType` is $XDG_SESSION_TYPE,
    // `waylandDisplay` is $WAYLAND_DISPLAY.
    static bool pointerTrusted(const QString& sessionType, const QString& waylandDisplay);

    // Top-left corner of a panel of `size` centred under `anchor`, 4 below it,
    // kept 8 inside the screen's available area horizontally and on it
    // vertically. Without an available area the position is not clamped.
    static QPoint topLeft(const QRect& anchor, const QSize& size, const std::optional<QRect>& available);
};
