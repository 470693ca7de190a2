#include "Contrast.h"
#include "FakeUpdaterBackend.h"
#include "RecordedRequests.h"
#include "SessionFixture.h"
#include "TestFiles.h"
#include "WaitForTask.h"
#include "app/Application.h"
#include "app/PanelPlacement.h"
#include "app/PanelWindow.h"
#include "app/StatusIconAnimator.h"
#include "app/StatusIcons.h"
#include "app/TrayIcon.h"
#include "app/UpdateDialogs.h"
#include "app/UpdateWindowRaiser.h"
#include "cli/SingleInstance.h"
#include "models/Format.h"
#include "models/UserText.h"
#include "platform/Settings.h"
#include "transfers/UpdaterManager.h"
#include "views/PanelView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoroTask>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSizeGrip>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <QXmlStreamReader>
#include <cmath>
#include <memory>

using namespace std::chrono_literals;

// Re-executed with this variable set to a socket path, the test binary plays a second start of the
// client: it hands its arguments over and exits with the outcome as its code.
static const char* const secondStartVariable = "ZANVOLT_TEST_SECOND_START";

namespace {
// Keeps this process's event loop turning, so that the running instance answers.
int secondStart(const QString& socketPath, const QStringList& arguments, const QString& workingDir) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(secondStartVariable), socketPath);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingDir);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    return finished.wait(20000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

constexpr int handedOver = int(SingleInstance::Outcome::HandedOver);
constexpr int refused = int(SingleInstance::Outcome::Refused);

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
constexpr qreal scale = 4; // drawn at 4× so that single sample points sit well inside strokes

// Only the number inside the ring: everything from its inner edge (radius 7.25) outwards is cleared.
QImage number(double fraction) {
    QImage image = StatusIcons::createProgressIcon(fraction, scale, Qt::black);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (std::hypot(x / scale - 11, y / scale - 11) > 6.75)
                image.setPixel(x, y, 0);
    return image;
}

// WCAG contrast of the darkest and the lightest pixel within `radius` units of the icon's centre,
// with the icon laid over a tray bar of colour `bar`.
double labelContrast(const QImage& icon, const QColor& bar, double radius) {
    QImage composed(icon.size(), QImage::Format_ARGB32);
    composed.setDevicePixelRatio(icon.devicePixelRatio());
    composed.fill(bar);
    QPainter painter(&composed);
    painter.drawImage(QPoint(0, 0), icon);
    painter.end();
    double darkest = 1, lightest = 0;
    for (int y = 0; y < composed.height(); ++y)
        for (int x = 0; x < composed.width(); ++x)
            if (std::hypot(x / scale - 11, y / scale - 11) < radius) {
                const double l = relativeLuminance(composed.pixelColor(x, y));
                darkest = std::min(darkest, l);
                lightest = std::max(lightest, l);
            }
    return contrastRatio(lightest, darkest);
}

void activate(QWidget* window) {
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

QList<QWidget*> visibleUpdateDialogs() {
    QList<QWidget*> found;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && UpdateDialogs::isUpdateDialog(window))
            found << window;
    return found;
}

QMessageBox* visibleBox(const QString& text) {
    for (QWidget* window : visibleUpdateDialogs())
        if (auto* box = qobject_cast<QMessageBox*>(window); box && box->text() == text)
            return box;
    return nullptr;
}

// What a screen reader reads on the buttons.
QStringList buttonTexts(QMessageBox* box) {
    QStringList texts;
    for (QAbstractButton* button : box->buttons())
        texts << button->accessibleName();
    texts.sort();
    return texts;
}

// The German of the English catalogue, cut at placeholders and line ends: every piece that its
// translation does not also contain.
QStringList germanPieces() {
    QFile catalogue(QStringLiteral(ZANVOLT_SOURCE_DIR "/translations/zanvolt_en.ts"));
    if (!catalogue.open(QIODevice::ReadOnly))
        return {};
    QStringList pieces;
    QXmlStreamReader xml(&catalogue);
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"source")
            source = xml.readElementText();
        if (xml.name() != u"translation")
            continue;
        const QString translation = xml.readElementText();
        for (QString piece : source.split(QRegularExpression(QStringLiteral("%\\d|\\n")))) {
            piece = piece.trimmed();
            if (piece.size() >= 4 && piece.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2}"))) &&
                !translation.contains(piece))
                pieces << piece;
        }
    }
    return pieces;
}
} // namespace

// The tray icon and its pictures, the panel window (placement, size, keys and drops) and the
// update dialogs.
class TestShell : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void iconFollowsTheUploadWithoutCheckmarkBetweenZipAndProgress() {
        SessionFixture fixture;
        Uploads& uploads = *fixture.uploads;

        StatusIconAnimator animator(&uploads, {10ms, 20ms, 100ms}, 2.0);
        QList<StatusIconAnimator::Picture> pictures{animator.picture()};
        connect(&animator, &StatusIconAnimator::iconChanged, this,
                [&](const QImage& image, StatusIconAnimator::Picture picture) {
                    QCOMPARE(image.devicePixelRatio(), 2.0);
                    if (pictures.last() != picture)
                        pictures << picture;
                });
        using P = StatusIconAnimator::Picture;
        QTRY_COMPARE(animator.picture(), P::Idle);

        // Without a server nothing shows as a run, nothing goes to the desktop's job view, and the
        // settings page comes up instead.
        fixture.storeCredentials(QString(), QString());
        waitForTask(fixture.session->account()->reload());
        QSignalSpy uploading(&uploads, &Uploads::isUploadingChanged);
        uploads.uploadFiles({fixture.file(QStringLiteral("c.txt"), "c")}, std::nullopt, false);
        QTRY_VERIFY(fixture.session->showSettings());
        QVERIFY(uploading.isEmpty() && fixture.desktop.jobs.isEmpty());
        QCOMPARE(pictures, (QList<P>{P::Checkmark, P::Idle}));
        fixture.storeCredentials(fixture.server().baseURL(), fixture.server().apiKey());
        waitForTask(fixture.session->account()->reload());

        // Random bytes take zip long enough to show a frame of its animation even on a busy machine.
        const QByteArray noise = randomBytes(1 << 21, 7);
        const QList<QUrl> urls{fixture.file(QStringLiteral("a.bin"), noise),
                               fixture.file(QStringLiteral("b.bin"), noise)};
        fixture.server().delayNext(QStringLiteral("/api/upload-chunk"), 1, 300);
        uploads.uploadFiles(urls, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(!uploads.isUploading(), 20000);
        QTRY_COMPARE(animator.picture(), P::Idle);
        QCOMPARE(pictures,
                 (QList<P>{P::Checkmark, P::Idle, P::Progress, P::Zip, P::Progress, P::Checkmark, P::Idle}));
        QCOMPARE(fixture.desktop.jobs, (QStringList{QStringLiteral("begin"), QStringLiteral("end ")}));
    }

    void remembersSizeTakesOnlyFileDropsAndWaitsForADrag() {
        QTemporaryDir dir;
        Settings defaults(dir.filePath(QStringLiteral("settings.ini")));
        PanelWindow panel(&defaults);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        panel.resize(600, 800);
        QTRY_COMPARE(Settings(dir.filePath(QStringLiteral("settings.ini"))).panelWidth(), 600);
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
        const QUrl file = QUrl::fromLocalFile(dir.filePath(QStringLiteral("settings.ini")));
        QVERIFY(drop({QUrl(QStringLiteral("https://example.com/x")), file}));
        QCOMPARE(dropped.first().first().value<QList<QUrl>>(), QList<QUrl>{file});

        // Deactivated by a press in another window that becomes a drag: the panel waits while the
        // button is held and keeps itself once the drag enters it.
        panel.setHideGrace(std::chrono::milliseconds(20));
        bool buttonHeld = false;
        panel.setButtonProbe([&] { return buttonHeld; });
        QWidget fileManager;
        QMimeData mime;
        mime.setUrls({file});
        activate(&panel);
        buttonHeld = true;
        activate(&fileManager);
        QTest::qWait(100);
        QVERIFY(panel.isVisible() && panel.isHidePending());
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&panel, &enter);
        QVERIFY(enter.isAccepted() && !panel.isHidePending());
        buttonHeld = false;
        QTest::qWait(100);
        QVERIFY(panel.isVisible());
        // The drag goes elsewhere after all: the panel hides once the grace has passed.
        QDragLeaveEvent leave;
        QApplication::sendEvent(&panel, &leave);
        QTRY_VERIFY(!panel.isVisible());

        // A dropped drag leaves the panel shown with the files handed on.
        activate(&panel);
        activate(&fileManager);
        QVERIFY(drop({file}));
        QTest::qWait(100);
        QVERIFY(panel.isVisible());
        QCOMPARE(dropped.size(), 2);

        // A plain click elsewhere hides it.
        activate(&panel);
        activate(&fileManager);
        QTRY_VERIFY(!panel.isVisible());
    }

    void sizeGripResizesWithinLimitsAndEscapeHides() {
        QTemporaryDir dir;
        Settings defaults(dir.filePath(QStringLiteral("settings.ini")));
        PanelWindow panel(&defaults);
        auto* probe = new KeyProbe;
        panel.setContent(probe);
        deliverEscape(probe);
        QCOMPARE(probe->keys, QList<int>{Qt::Key_Escape}); // hidden: Escape reaches the control as usual
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        auto* grip = panel.findChild<QSizeGrip*>();
        QVERIFY(grip->isVisible());

        auto pull = [&](QPoint by) {
            const QPoint start = grip->mapToGlobal(grip->rect().center());
            QMouseEvent press(QEvent::MouseButtonPress, grip->rect().center(), start, Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(grip, &press);
            QMouseEvent move(QEvent::MouseMove, grip->rect().center() + by, start + by, Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(grip, &move);
            QMouseEvent release(QEvent::MouseButtonRelease, grip->rect().center() + by, start + by,
                                Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(grip, &release);
        };
        pull(QPoint(2000, 2000));
        // The grip also keeps the window on its screen, which may be lower than the limit.
        QTRY_COMPARE(panel.width(), 700);
        QVERIFY(panel.height() > 400 && panel.height() <= 900);
        pull(QPoint(-2000, -2000));
        QTRY_COMPARE(panel.size(), QSize(320, 400));

        // Shown: Escape hides the panel and is swallowed.
        deliverEscape(probe);
        QVERIFY(!panel.isVisible());
        QCOMPARE(probe->keys.size(), 1);
    }

    void trayMenuReachesEverything() {
        InMemorySecretStore nothingStored;
        Application app(Application::Options{&nothingStored});
        app.start({});
        const auto trigger = [&app](const QString& text) {
            app.hidePanel();
            for (QAction* action : app.trayMenu()->actions())
                if (action->text() == text)
                    action->trigger();
        };
        trigger(QStringLiteral("Einstellungen"));
        QVERIFY(app.panel()->isVisible() && app.session()->showSettings());
        // Files handed over without a server: the panel opens on the settings page.
        app.hidePanel();
        app.session()->setShowSettings(false);
        Q_EMIT app.session()->uploads()->configurationMissing();
        QVERIFY(app.panel()->isVisible() && app.session()->showSettings());

        trigger(QStringLiteral("Panel öffnen"));
        QVERIFY(app.panel()->isVisible());

        app.session()->setSelectedTab(1);
        trigger(QStringLiteral("Dateien senden…"));
        QVERIFY(app.panel()->isVisible() && !app.session()->showSettings());
        QCOMPARE(app.session()->selectedTab(), 0);
        QFileDialog* chooser = nullptr;
        QTRY_VERIFY((chooser = app.panel()->findChild<QFileDialog*>(QStringLiteral("fileChooser"))));
        chooser->reject();
        // The chooser is the panel's own: the panel stays while it is open and after it.
        QVERIFY(app.panel()->isVisible());

        // A new palette reaches the panel: not while it is in use, but when it opens next.
        const QPalette before = QApplication::palette();
        QPalette dark = before;
        dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        dark.setColor(QPalette::PlaceholderText, QColor(0xa1, 0xa2, 0xa3));
        const QPointer<PanelView> shown = app.view();
        QSignalSpy changed(app.panel(), &PanelWindow::paletteChanged);
        QApplication::setPalette(dark);
        QTRY_VERIFY(!changed.isEmpty()); // Qt hands the new palette to the widgets by a posted event
        QCOMPARE(app.view(), shown.data());
        app.hidePanel();
        app.showPanel();
        auto* hint = app.view()->findChild<QLabel*>(QStringLiteral("hintText"));
        QCOMPARE(hint->palette().color(QPalette::WindowText), QColor(0xa1, 0xa2, 0xa3));
        QApplication::setPalette(before);
    }

    // Under an English UI language no German is left in the panel, the tray menu, the time texts or
    // on the command line.
    void anEnglishSessionLeavesNoGerman() {
        const QStringList german = germanPieces();
        QVERIFY(german.size() > 150);
        const auto leftovers = [&](const QString& text) {
            QStringList found;
            for (const QString& piece : german)
                if (text.contains(piece))
                    found << piece;
            return found.join(QStringLiteral(" | "));
        };
        QProcessEnvironment english = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            english.remove(QString::fromLatin1(name));
        english.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
        for (const QStringList& arguments :
             {QStringList{"--help"}, QStringList{"list", "extra"}, QStringList{"send", "/nicht/da.pdf"}}) {
            QProcess cli;
            cli.setProcessEnvironment(english);
            cli.start(QStringLiteral(ZANVOLT_BINARY), arguments);
            QVERIFY(cli.waitForFinished(60000));
            const QString output =
                QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError());
            QVERIFY2(output.size() > 10 && leftovers(output).isEmpty(), qPrintable(output));
        }

        const auto backToGerman = qScopeGuard([] {
            qunsetenv("LANG");
            UserText::installTranslations();
        });
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            qunsetenv(name);
        qputenv("LANG", "en_US.UTF-8");
        UserText::installTranslations();
        {
            InMemorySecretStore nothingStored;
            Application app(Application::Options{&nothingStored});
            app.start({});
            QStringList shown;
            for (QAction* action : app.trayMenu()->actions())
                shown << action->text();
            for (QWidget* widget : app.panel()->findChildren<QWidget*>()) {
                shown << widget->accessibleName() << widget->toolTip();
                if (auto* label = qobject_cast<QLabel*>(widget))
                    shown << label->text();
                if (auto* button = qobject_cast<QAbstractButton*>(widget))
                    shown << button->text();
                if (auto* field = qobject_cast<QLineEdit*>(widget))
                    shown << field->placeholderText();
            }
            QVERIFY(shown.contains(QStringLiteral("Quit Zanvolt")));
            QVERIFY2(leftovers(shown.join(u'\n')).isEmpty(), qPrintable(leftovers(shown.join(u'\n'))));
        }
        QCOMPARE(Format::remaining(0.5, 1048576, 7200LL * 1048576), QStringLiteral("approx. 1h 0 min"));
    }

    // The icons a tray shows: the bundled logo, and labels that read on dark and light bars; a
    // percentage is cut, not rounded (99.9 % is no finished upload).
    void trayIconsReadOnDarkAndLightBars() {
        QCOMPARE(TrayIcon::create(2).pixelColor(18, 18).alpha(), 255);
        QCOMPARE(number(0.999), number(0.99));
        QVERIFY(number(0.99) != number(1));
        const QColor gnomeBar(0x1d, 0x1d, 0x1d), lightBar(0xf0, 0xf0, 0xf0);
        for (const QColor& bar : {gnomeBar, lightBar}) {
            for (const QImage& icon :
                 {StatusIcons::createProgressIcon(0.42, scale), StatusIcons::createProgressIcon(1.0, scale),
                  StatusIcons::createZipIcon(30, scale)}) {
                const double contrast = labelContrast(icon, bar, 5.5);
                QVERIFY2(contrast >= 7, qPrintable(QString::number(contrast) + u' ' + bar.name()));
            }
        }
    }

    void placementFollowsTheIconWithinTheScreen() {
        const QRect screen(0, 27, 1920, 1053); // below a 27-pixel top bar
        const QSize panel(380, 560);
        QCOMPARE(PanelPlacement::topLeft(QRect(1000, 0, 24, 27), panel, screen), QPoint(822, 31));
        // On a second screen to the right of the first: far right, the right edge stays 8 inside; far
        // left, the left edge.
        const QRect second(1920, 0, 2560, 1440);
        QCOMPARE(PanelPlacement::topLeft(QRect(4450, 0, 30, 30), panel, second).x(), 1920 + 2560 - 380 - 8);
        QCOMPARE(PanelPlacement::topLeft(QRect(1900, 0, 30, 30), panel, second).x(), 1920 + 8);

        // A tray at the bottom: the panel ends where the available area ends, above the bar.
        const QRect aboveBar(0, 0, 1920, 1040);
        QCOMPARE(PanelPlacement::topLeft(QRect(1700, 1050, 24, 24), panel, aboveBar), QPoint(1522, 480));
        // Taller than the screen: its top stays visible.
        QCOMPARE(PanelPlacement::topLeft(QRect(900, 0, 24, 27), QSize(380, 900), QRect(0, 20, 1280, 700)).y(),
                 20);

        // The anchor: the tray's rectangle, else the pointer (StatusNotifierItem trays report an
        // empty rectangle), else the top-right corner of the primary screen.
        const QRect primary(0, 32, 1920, 1048);
        const QRect tray(1800, 4, 24, 24);
        const QPoint pointer(1500, 10);
        QCOMPARE(PanelPlacement::anchor(tray, pointer, primary), tray);
        QCOMPARE(PanelPlacement::topLeft(PanelPlacement::anchor(QRect(), pointer, primary), panel, primary),
                 QPoint(1310, 32)); // the pointer is on the top bar: the panel starts below the bar
        const QRect corner = PanelPlacement::anchor(std::nullopt, std::nullopt, primary);
        QCOMPARE(PanelPlacement::topLeft(corner, panel, primary), QPoint(1920 - 380 - 8, 32 + 4));

        // The click position is not trusted under Wayland.
        QVERIFY(PanelPlacement::pointerTrusted(QStringLiteral("x11"), QString()));
        QVERIFY(!PanelPlacement::pointerTrusted(QStringLiteral("wayland"), QString()));
        QVERIFY(!PanelPlacement::pointerTrusted(QStringLiteral("x11"), QStringLiteral("wayland-0")));
    }

    // The update dialogs: raised once announced, with their texts.
    void matchingWindowsAreRaisedShortlyAfterTheAnnouncement() {
        QVERIFY(UpdateWindowRaiser::shouldRaiseWindow(true, QStringLiteral("AKTUALISIERUNG läuft"), false));
        QVERIFY(UpdateWindowRaiser::shouldRaiseWindow(true, QStringLiteral("Hinweis"), true));
        QVERIFY(!UpdateWindowRaiser::shouldRaiseWindow(false, QStringLiteral("Aktualisierung"), true));
        Settings defaults(m_dir.filePath(QStringLiteral("raise.ini")));
        UpdaterManager manager({std::make_unique<FakeUpdaterBackend>(), &defaults});
        UpdateDialogs::attach(manager);

        QWidget update, untitled, other;
        update.setWindowTitle(QStringLiteral("Zanvolt – Softwareaktualisierung"));
        other.setWindowTitle(QStringLiteral("Notizen"));
        for (QWidget* window : {&update, &untitled, &other})
            window->show();
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
        QSignalSpy hiddenOrShown(update.windowHandle(), &QWindow::visibleChanged);

        Q_EMIT manager.updateDialogWillShow();
        QTest::qWait(50);
        QCOMPARE(QApplication::activeWindow(), &other); // not before the dialog could show
        QTRY_COMPARE(QApplication::activeWindow(), &update);
        // Brought forward as it is: its window is neither hidden nor re-created (no flicker).
        QCOMPARE(hiddenOrShown.size(), 0);
    }

    // Which texts the updater shows, and when, is the updater's own test; here: the widgets.
    void dialogsCarryTheirTexts() {
        UpdateDialogs dialogs;
        const QString notes =
            QStringLiteral("<a href=\"https://u.example/notes/2.0.0.html\">Versionshinweise</a>");
        auto offer = dialogs.ask(QStringLiteral("Zanvolt 2.0.0 ist verfügbar."), notes,
                                 QStringLiteral("Installieren"), QStringLiteral("Später"));
        QMessageBox* box = visibleBox(QStringLiteral("Zanvolt 2.0.0 ist verfügbar."));
        QCOMPARE(box->windowTitle(), QStringLiteral("Software-Update"));
        QCOMPARE(box->accessibleName(), QStringLiteral("Zanvolt 2.0.0 ist verfügbar."));
        QCOMPARE(buttonTexts(box), (QStringList{"Installieren", "Später"}));
        QLabel* link = nullptr;
        for (QLabel* label : box->findChildren<QLabel*>())
            if (label->text() == notes)
                link = label;
        QVERIFY(link && link->openExternalLinks());
        QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
        for (QAbstractButton* button : box->buttons())
            if (button->text() == QStringLiteral("Später"))
                QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!QCoro::waitFor(std::move(offer)));

        // The progress window is gone as soon as the updater hides it, before its next message.
        dialogs.showProgress(QStringLiteral("Lade herunter…"), 1, 2, {});
        QCOMPARE(visibleUpdateDialogs().size(), 1);
        dialogs.hideProgress();
        QVERIFY(visibleUpdateDialogs().isEmpty());
    }

    void secondStartHandsOverToTheRunningOne() {
        QTemporaryDir dir;
        // Left by an instance that died.
        const QString socketPath =
            writeFile(dir.filePath(QStringLiteral("instance.socket")), {}).toLocalFile();
        SingleInstance running(socketPath);
        QCOMPARE(running.start({}), SingleInstance::Outcome::Primary);
        QCOMPARE(QFile::permissions(socketPath) & 0x0077, QFileDevice::Permissions()); // private to the user
        QSignalSpy files(&running, &SingleInstance::filesReceived);
        QSignalSpy shows(&running, &SingleInstance::showRequested);

        const QString absolute =
            writeFile(dir.filePath(QStringLiteral("Bericht März #1.pdf")), {}).toLocalFile();
        writeFile(dir.filePath(QStringLiteral("relative.txt")), {});
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Ordner")));
        QCOMPARE(secondStart(socketPath, {absolute, "relative.txt", "Ordner"}, dir.path()), handedOver);
        QCOMPARE(files.size(), 1);
        QCOMPARE(
            files.first().first().value<QList<QUrl>>(),
            (QList<QUrl>{QUrl::fromLocalFile(absolute), QUrl::fromLocalFile(dir.filePath("relative.txt")),
                         QUrl::fromLocalFile(dir.filePath("Ordner"))}));

        QCOMPARE(secondStart(socketPath, {}, dir.path()), handedOver);
        QCOMPARE(shows.size(), 1);

        // No file URL among the arguments (an empty one is not the working folder): refused, nothing
        // shown.
        const QStringList noFiles{"https://example.com/a.txt", dir.filePath("gone.txt"), QString()};
        QCOMPARE(secondStart(socketPath, noFiles, dir.path()), refused);
        QCOMPARE(shows.size() + files.size(), 2);

        // Of a mixed list only the files are taken, and a link to nothing too, so that the upload says
        // it cannot be sent.
        const QString dangling = dir.filePath(QStringLiteral("Verweis"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("weg")), dangling));
        QCOMPARE(secondStart(socketPath, noFiles + QStringList{absolute, dangling}, dir.path()), handedOver);
        QCOMPARE(files.last().first().value<QList<QUrl>>(),
                 (QList<QUrl>{QUrl::fromLocalFile(absolute), QUrl::fromLocalFile(dangling)}));
    }
    void quitEndsTheClientDuringAnUploadWithThePanelOpen() {
        TestServerFixture fixture;
        const QString chunkPath = QStringLiteral("/api/upload-chunk");
        fixture.server().delayNext(chunkPath, 1, 30000);
        QTemporaryDir dir;
        Application app(Application::Options{&fixture.store(), {.pinsFolder = fixture.pinsFolder()}});
        app.start({writeFile(dir.filePath(QStringLiteral("a.txt")), "a")});
        app.showPanel(); // the panel hides instead of closing: it must not hold the quit
        QTRY_VERIFY_WITH_TIMEOUT(!requestsTo(fixture.server(), chunkPath).isEmpty(), 20000);
        QAction* quit = app.trayMenu()->actions().constLast();
        QCOMPARE(quit->text(), QStringLiteral("Zanvolt beenden"));
        QTimer::singleShot(0, quit, &QAction::trigger);
        QTimer failed; // ends the loop only when quitting did not
        failed.callOnTimeout([] { QCoreApplication::exit(1); });
        failed.start(20000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!app.session()->uploads()->isUploading());
        QVERIFY(requestsTo(fixture.server(), QStringLiteral("/api/upload-complete")).isEmpty());
    }
};

int main(int argc, char* argv[]) {
    if (const QString socketPath = qEnvironmentVariable(secondStartVariable); !socketPath.isEmpty()) {
        QCoreApplication app(argc, argv);
        return int(SingleInstance(socketPath).start(app.arguments().mid(1)));
    }
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestShell test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_shell.moc"
