#include "app/TrayIcon.h"

#include "models/Logging.h"

#include <QPainter>
#include <cmath>

// Resources compiled into a static library are only registered when something
// refers to them; Q_INIT_RESOURCE must be used outside any namespace.
static void registerResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(zanvolt);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace {
constexpr int iconHeight = 18;

QImage blank(int width, qreal devicePixelRatio) {
    QImage image(QSize(width, iconHeight) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    return image;
}
} // namespace

namespace TrayIcon {

QImage create(qreal devicePixelRatio) {
    registerResources();
    return create(QString::fromLatin1(logoResource), devicePixelRatio);
}

QImage create(const QString& path, qreal devicePixelRatio) {
    // The format named: detecting it would load every image plugin (SVG, JPEG, …) at start.
    const QImage logo(path, "PNG");
    const QSizeF size = logo.deviceIndependentSize();
    if (logo.isNull() || size.height() <= 0) {
        qCWarning(lcUi) << "tray logo not loaded, the icon stays blank:" << path;
        return blank(iconHeight, devicePixelRatio);
    }

    const int width = static_cast<int>(std::lround(size.width() / size.height() * iconHeight));
    QImage image = blank(width, devicePixelRatio);
    // Qt's smooth scaling averages areas when shrinking; a painter's bilinear
    // filter would alias a large logo at 18 pixels.
    const QImage scaled = logo.scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&image);
    painter.drawImage(QRectF(0, 0, width, iconHeight), scaled);
    return image;
}

} // namespace TrayIcon
