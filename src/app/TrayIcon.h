#pragma once

#include <QImage>
#include <QString>

// The idle picture of the tray icon: the logo, 18 units high.
namespace TrayIcon {

inline constexpr auto logoResource = ":/icons/zanvolt-logo.png";

// Height 18, width by the logo's aspect ratio (rounded half away from zero),
// drawn at the given device pixel ratio. An empty 18 × 18 image when the logo
// is missing or does not load.
QImage create(qreal devicePixelRatio = 1.0);
// The same for another PNG logo file or resource; tests use it.
QImage create(const QString& path, qreal devicePixelRatio = 1.0);

} // namespace TrayIcon
