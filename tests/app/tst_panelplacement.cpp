#include "PanelPlacement.h"

#include <QTest>

class TestPanelPlacement : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void storedSizeFallsBackAndIsCapped() {
        QCOMPARE(PanelPlacement::storedSize(250, 300), QSize(380, 560));
        QCOMPARE(PanelPlacement::storedSize(600, 800), QSize(600, 800));
        QCOMPARE(PanelPlacement::storedSize(0, 0), QSize(380, 560)); // keys missing
        QCOMPARE(PanelPlacement::storedSize(320, 400), QSize(320, 400));
        QCOMPARE(PanelPlacement::storedSize(319, 900), QSize(380, 900));
        QCOMPARE(PanelPlacement::storedSize(2000, 1000), QSize(700, 900));
    }

    void hangsCentredBelowTheIconInsideTheScreen() {
        const QRect screen(0, 27, 1920, 1053); // below a 27-pixel top bar
        const QSize panel(380, 560);

        QCOMPARE(PanelPlacement::topLeft(QRect(1000, 0, 24, 27), panel, screen), QPoint(822, 31));
        // Far right: the right edge stays 8 inside; far left: the left edge 8 inside.
        const QPoint right = PanelPlacement::topLeft(QRect(1896, 0, 24, 27), panel, screen);
        QCOMPARE(right.x() + panel.width(), 1920 - 8);
        QCOMPARE(right.y(), 31);
        QCOMPARE(PanelPlacement::topLeft(QRect(0, 0, 24, 27), panel, screen), QPoint(8, 31));

        // A second screen to the right of the first.
        const QRect second(1920, 0, 2560, 1440);
        QCOMPARE(PanelPlacement::topLeft(QRect(4450, 0, 30, 30), panel, second).x(), 1920 + 2560 - 380 - 8);
        QCOMPARE(PanelPlacement::topLeft(QRect(1900, 0, 30, 30), panel, second).x(), 1920 + 8);

        // A tray at the bottom: the panel ends where the available area ends, above the bar.
        const QRect aboveBar(0, 0, 1920, 1040);
        QCOMPARE(PanelPlacement::topLeft(QRect(1700, 1050, 24, 24), panel, aboveBar), QPoint(1522, 480));
        // Taller than the screen: its top stays visible.
        QCOMPARE(PanelPlacement::topLeft(QRect(900, 0, 24, 27), QSize(380, 900), QRect(0, 20, 1280, 700)).y(),
                 20);
        // Without a screen nothing is clamped.
        QCOMPARE(PanelPlacement::topLeft(QRect(0, 0, 24, 27), panel, std::nullopt), QPoint(-178, 31));
    }

    void anchorFallsBackFromTrayToPointerToCorner() {
        const QRect primary(0, 32, 1920, 1048);
        const QRect tray(1800, 4, 24, 24);
        const QPoint pointer(1500, 10);
        QCOMPARE(PanelPlacement::anchor(tray, pointer, primary), tray);
        // StatusNotifierItem trays report an empty rectangle.
        QCOMPARE(PanelPlacement::anchor(QRect(), pointer, primary).topLeft(), pointer);
        QCOMPARE(
            PanelPlacement::topLeft(PanelPlacement::anchor(QRect(), pointer, primary), {380, 560}, primary),
            QPoint(1310, 32)); // the pointer is on the top bar: the panel starts below the bar

        const QRect corner = PanelPlacement::anchor(std::nullopt, std::nullopt, primary);
        QCOMPARE(PanelPlacement::topLeft(corner, {380, 560}, primary), QPoint(1920 - 380 - 8, 32 + 4));
    }
};

QTEST_APPLESS_MAIN(TestPanelPlacement)
#include "tst_panelplacement.moc"
