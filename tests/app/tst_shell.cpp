#include "PanelWindow.h"
#include "RecordingDesktopServices.h"
#include "StatusIconAnimator.h"
#include "TestServerFixture.h"
#include "TransferManager.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
// A child that notes the keys that reach it.
class KeyProbe : public QWidget {
public:
    using QWidget::QWidget;
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override { keys << event->key(); }
};

bool deliverEscape(QWidget* target) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    return QApplication::sendEvent(target, &press);
}
} // namespace

class TestShell : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void iconFollowsTheUploadWithoutCheckmarkBetweenZipAndProgress() {
        TestServerFixture fixture;
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("settings.ini")));
        RecordingDesktopServices desktop;
        TransferManager::Environment environment;
        environment.historyDirectory = dir.path();
        environment.desktop = &desktop;
        environment.defaults = &defaults;
        environment.firstPollDelay = environment.pollInterval = std::chrono::hours(1);
        TransferManager manager(environment);

        int installAttempts = 0;
        using namespace std::chrono_literals;
        StatusIconAnimator animator(
            &manager, [&] { ++installAttempts; }, {10ms, 20ms, 100ms}, 2.0);
        QList<StatusIconAnimator::Picture> pictures{animator.picture()};
        connect(&animator, &StatusIconAnimator::iconChanged, this,
                [&](const QImage& image, StatusIconAnimator::Picture picture) {
                    QCOMPARE(image.devicePixelRatio(), 2.0);
                    if (pictures.last() != picture)
                        pictures << picture;
                });
        using P = StatusIconAnimator::Picture;
        QCOMPARE(pictures, QList<P>{P::Checkmark}); // both states are delivered once at start
        QCOMPARE(installAttempts, 2);
        QTRY_COMPARE(animator.picture(), P::Idle);

        QList<QUrl> urls;
        for (const char* name : {"a.txt", "b.txt"}) {
            QFile file(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(200000, 'z'));
            urls << QUrl::fromLocalFile(file.fileName());
        }
        fixture.server().delayNext(QStringLiteral("/api/upload-chunk"), 1, 300);
        manager.uploadFiles(urls, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isUploading(), 20000);
        QTRY_COMPARE(animator.picture(), P::Idle);
        QCOMPARE(pictures,
                 (QList<P>{P::Checkmark, P::Idle, P::Progress, P::Zip, P::Progress, P::Checkmark, P::Idle}));
        QVERIFY(installAttempts >= 3); // again once the client became idle
    }

    void escapeIsConsumedOnlyWhileShown() {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("settings.ini")));
        PanelWindow panel(&defaults);
        auto* probe = new KeyProbe;
        panel.setContent(probe);

        deliverEscape(probe);
        QCOMPARE(probe->keys, QList<int>{Qt::Key_Escape}); // hidden: reaches the control as usual

        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        deliverEscape(probe);
        QVERIFY(!panel.isVisible());
        QCOMPARE(probe->keys.size(), 1); // shown: hidden and swallowed
    }

    void remembersSizeAndTakesOnlyFileDrops() {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("settings.ini")));
        defaults.setPopoverSize(250, 300);
        PanelWindow panel(&defaults);
        QCOMPARE(panel.size(), QSize(380, 560));
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        panel.resize(600, 800);
        QTRY_COMPARE(UserDefaults(dir.filePath(QStringLiteral("settings.ini"))).popoverWidth(), 600);
        QCOMPARE(PanelWindow(&defaults).size(), QSize(600, 800));

        QSignalSpy dropped(&panel, &PanelWindow::filesDropped);
        auto drop = [&](const QList<QUrl>& urls) {
            QMimeData mime;
            mime.setUrls(urls);
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&panel, &enter);
            QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&panel, &drop);
            return enter.isAccepted() && drop.isAccepted();
        };
        QVERIFY(!drop({QUrl(QStringLiteral("https://example.com/x"))}));
        QVERIFY(dropped.isEmpty());
        const QUrl file = QUrl::fromLocalFile(dir.filePath(QStringLiteral("settings.ini")));
        QVERIFY(drop({QUrl(QStringLiteral("https://example.com/x")), file}));
        QCOMPARE(dropped.size(), 1);
        QCOMPARE(dropped.first().first().value<QList<QUrl>>(), QList<QUrl>{file});
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
