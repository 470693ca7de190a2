#pragma once

#include <QColor>
#include <QImage>

// The drawn pictures of the tray icon while the client works. Each is drawn
// at the given device pixel ratio in full colour, never as a mask.
class StatusIcons {
public:
    static inline const QColor orange{0xFF, 0x95, 0x00};
    static inline const QColor grey{0x8E, 0x8E, 0x93};
    static inline const QColor blue{0x00, 0x7A, 0xFF};
    static inline const QColor checkmarkGreen = QColor::fromRgbF(0, 0.78f, 0.33f);

    // 22 × 22: an orange arc of 2.0 radians starting at `angle` degrees
    // (counter-clockwise on screen) over a faint track, "ZIP" on a light plate in the middle.
    static QImage createZipIcon(double angle, qreal devicePixelRatio = 1.0,
                                const QColor& labelColor = defaultLabelColor());
    // 22 × 22: a blue ring from the top, clockwise over `percent` (a fraction,
    // at least a 0.02 stub) of a grey track, the whole percentage on a light plate inside.
    static QImage createProgressIcon(double percent, qreal devicePixelRatio = 1.0,
                                     const QColor& labelColor = defaultLabelColor());
    // 18 × 18: a white check mark on a green disc.
    static QImage createCheckmarkIcon(qreal devicePixelRatio = 1.0);

    // Dark ink for the label, which sits on a light plate inside the ring so that it reads on
    // dark and light tray bars alike.
    static QColor defaultLabelColor();
};
