#include "MenuBarIcon.h"
#include "StatusIcons.h"

#include <QTemporaryDir>
#include <QTest>
#include <cmath>

namespace {
constexpr qreal scale = 4; // drawn at 4× so that single sample points sit well inside strokes

// The pixel on the ring's centre line at `degrees` on screen (0 = three o'clock, counter-clockwise).
QColor ringPixel(const QImage& image, double degrees) {
    const double radians = degrees * M_PI / 180.0;
    return image.pixelColor(int((11 + 8.5 * std::cos(radians)) * scale),
                            int((11 - 8.5 * std::sin(radians)) * scale));
}

// Opaque in `color`, or with `alpha` the faint track in it.
bool is(const QColor& pixel, const QColor& color, double alpha = 1) {
    return std::abs(pixel.alpha() - alpha * 255) <= 3 && std::abs(pixel.red() - color.red()) <= 4 &&
           std::abs(pixel.green() - color.green()) <= 4 && std::abs(pixel.blue() - color.blue()) <= 4;
}

// Only the number inside the ring: everything from its inner edge (radius 7.25) outwards is cleared.
QImage number(double fraction) {
    QImage image = StatusIcons::createProgressIcon(fraction, scale, Qt::black);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (std::hypot(x / scale - 11, y / scale - 11) > 6.75)
                image.setPixel(x, y, 0);
    return image;
}
} // namespace

class TestStatusIcons : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void logoScalesToEighteenHigh() {
        const QImage logo = MenuBarIcon::create(2);
        QCOMPARE(logo.deviceIndependentSize(), QSizeF(18, 18));
        QCOMPARE(logo.size(), QSize(36, 36));
        QCOMPARE(logo.pixelColor(18, 18).alpha(), 255); // the bundled logo is found and drawn

        QTemporaryDir dir;
        QImage red(1024, 512, QImage::Format_ARGB32);
        red.fill(Qt::red);
        red.save(dir.filePath(QStringLiteral("wide.png")));
        red.copy(0, 0, 300, 512).save(dir.filePath(QStringLiteral("narrow.png")));
        QCOMPARE(MenuBarIcon::create(dir.filePath(QStringLiteral("wide.png"))).size(), QSize(36, 18));
        const QImage narrow = MenuBarIcon::create(dir.filePath(QStringLiteral("narrow.png")), 2);
        QCOMPARE(narrow.deviceIndependentSize(), QSizeF(11, 18)); // 10.55
        QCOMPARE(narrow.pixelColor(11, 18), QColor(Qt::red));

        QImage transparent(18, 18, QImage::Format_Alpha8);
        transparent.fill(0);
        QCOMPARE(MenuBarIcon::create(dir.filePath(QStringLiteral("none.png")))
                     .convertToFormat(QImage::Format_Alpha8),
                 transparent);
    }

    void progressRingGrowsClockwiseFromTheTop() {
        const QImage zero = StatusIcons::createProgressIcon(0, scale, Qt::black);
        QCOMPARE(zero.deviceIndependentSize(), QSizeF(22, 22));
        QCOMPARE(zero.size(), QSize(88, 88));
        QVERIFY(is(ringPixel(zero, 87), StatusIcons::blue)); // the 0.02 stub, just right of the top
        for (double degrees : {100.0, 0.0, 270.0, 180.0})
            QVERIFY(is(ringPixel(zero, degrees), StatusIcons::grey, 0.3));

        const QImage full = StatusIcons::createProgressIcon(1, scale, Qt::black);
        for (int degrees = 0; degrees < 360; degrees += 15)
            QVERIFY(is(ringPixel(full, degrees), StatusIcons::blue));

        QCOMPARE(number(0.999), number(0.99)); // cut, not rounded
        QCOMPARE(number(0.004), number(0));
        QVERIFY(number(0) != number(0.99));
        QVERIFY(number(0.99) != number(1));
        QVERIFY(number(0) != number(1));
    }

    void zipFrameSweepsTwoRadiansFromTheAngle() {
        const QImage start = StatusIcons::createZipIcon(0, scale, Qt::black);
        QCOMPARE(StatusIcons::createZipIcon(360, scale, Qt::black), start);
        QCOMPARE(StatusIcons::createZipIcon(-720, scale, Qt::black), start);
        QVERIFY(StatusIcons::createZipIcon(30, scale, Qt::black) != start);
        // 2.0 radians ≈ 114.6°, counter-clockwise on screen.
        for (double degrees : {10.0, 60.0, 105.0})
            QVERIFY(is(ringPixel(start, degrees), StatusIcons::orange));
        for (double degrees : {130.0, 200.0, 300.0, 345.0})
            QVERIFY(is(ringPixel(start, degrees), StatusIcons::orange, 0.2));
    }

    void checkmarkIsWhiteOnGreen() {
        const QImage check = StatusIcons::createCheckmarkIcon(scale);
        QCOMPARE(check.deviceIndependentSize(), QSizeF(18, 18));
        const QColor green = check.pixelColor(9 * scale, 4 * scale); // inside the disc, above the tick
        QCOMPARE(green.rgba(), qRgb(0, 199, 84));                    // (0, 0.78, 0.33)
        QCOMPARE(check.pixelColor(8 * scale, 11.5 * scale), QColor(Qt::white)); // the tick's lowest point
        QCOMPARE(check.pixelColor(12.5 * scale - 1, 6.5 * scale), QColor(Qt::white));
        QCOMPARE(check.pixelColor(5.5 * scale, 6.5 * scale), green); // it opens upwards on screen
        QCOMPARE(check.pixelColor(1, 1).alpha(), 0);
    }
};

QTEST_MAIN(TestStatusIcons)
#include "tst_statusicons.moc"
