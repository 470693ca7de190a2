#include "Contrast.h"
#include "PanelFixture.h"
#include "WidgetLookup.h"
#include "transfers/TransferPresenter.h"
#include "views/ElidedLabel.h"
#include "views/FileTypeIcon.h"
#include "views/ReceiveTab.h"
#include "views/RowListView.h"
#include "views/SendTab.h"
#include "views/Style.h"
#include "views/TabSegment.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

namespace {
constexpr int runTimeout = 30000;

// Every symbol name the panel's sources ask for (lower-case literals on the lines that draw
// symbols, e.g. "lock-filled", "user-trash").
QStringList symbolNamesInSources() {
    QStringList names;
    const QString root = QStringLiteral(ZANVOLT_SOURCE_DIR);
    const QRegularExpression literal(QStringLiteral(R"re(QStringLiteral\("([a-z]+(?:-[a-z]+)*)"\))re"));
    for (const QString& folder : {QStringLiteral("/src/views"), QStringLiteral("/src/app")}) {
        QDirIterator files(root + folder, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
        while (files.hasNext()) {
            QFile file(files.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString text = QString::fromUtf8(file.readAll());
            bool continued = false; // the line before ended in "Style::icon("
            for (const QString& line : text.split(u'\n')) {
                const bool draws = continued || line.contains(QLatin1String("Style::icon(")) ||
                                   line.contains(QLatin1String("Labels::symbol("));
                continued = line.trimmed().endsWith(QLatin1String("Style::icon("));
                if (!draws)
                    continue;
                auto matches = literal.globalMatch(line);
                while (matches.hasNext())
                    names << matches.next().captured(1);
            }
        }
    }
    names.removeDuplicates();
    names.sort();
    return names;
}

// The colours of the opaque pixels of the icon at `side` pixels.
QSet<QRgb> opaqueColours(const QIcon& icon, int side) {
    const QImage image = icon.pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32);
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) == 255)
                colours.insert(image.pixel(x, y) | 0xFF000000);
    return colours;
}

// The list item whose name starts with `text`, searched from `node` down as a screen reader walks.
QAccessibleInterface* itemNamed(QAccessibleInterface* node, const QString& text) {
    if (!node)
        return nullptr;
    if (node->role() == QAccessible::ListItem && node->text(QAccessible::Name).startsWith(text))
        return node;
    for (int i = 0; i < node->childCount(); ++i)
        if (QAccessibleInterface* found = itemNamed(node->child(i), text))
            return found;
    return nullptr;
}

QPalette darkDesktop() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    return dark;
}
} // namespace

// The panel as a desktop citizen: the file chooser, the bundled symbols, light and dark, columns
// that line up, and what keyboards and screen readers get.
class TestDesktop : public QObject {
    Q_OBJECT

    std::unique_ptr<PanelFixture> fixture;

private Q_SLOTS:
    void init() { fixture = std::make_unique<PanelFixture>(); }

    void cleanup() {
        fixture.reset();
        QApplication::setPalette(QPalette());
    }

    void chooserSendsFilesAndFoldersLikeADrop() {
        PanelView& panel = *fixture->panel;
        panel.show();
        SendTab* tab = panel.sendTab();
        QCOMPARE(tab->findChild<QLabel*>(QStringLiteral("hintText"))->text(),
                 QStringLiteral("Dateien hierher ziehen oder auswählen,\num einen Upload zu starten."));

        const QUrl first = fixture->file(QStringLiteral("pick/Angebot.pdf"), "angebot");
        fixture->file(QStringLiteral("pick/Skizze.png"), "skizze");
        auto chooser = [&]() -> QFileDialog* {
            QFileDialog* dialog = nullptr;
            [&] { QTRY_VERIFY((dialog = panel.findChild<QFileDialog*>(QStringLiteral("fileChooser")))); }();
            return dialog;
        };

        shownNamed(tab, QStringLiteral("Dateien auswählen…"))->click();
        QFileDialog* files = chooser();
        QVERIFY(files->isVisible());
        QCOMPARE(files->fileMode(), QFileDialog::ExistingFiles);
        QCOMPARE(files->supportedSchemes(), QStringList{QStringLiteral("file")});
        tab->chooseFiles(SendTab::Choice::Folder); // asked again meanwhile: still the one chooser
        QCOMPARE(panel.findChildren<QFileDialog*>().size(), 1);
        files->setDirectory(QFileInfo(first.toLocalFile()).absolutePath());
        files->selectFile(QStringLiteral("\"Angebot.pdf\" \"Skizze.png\""));

        QMetaObject::invokeMethod(files, "accept");
        QTRY_VERIFY_WITH_TIMEOUT(fixture->uploads->justCompleted() && !fixture->uploads->isUploading(),
                                 runTimeout);
        // Two files go as one archive, as a drop of both would.
        QVERIFY(fixture->uploads->justCompleted()->fileName.endsWith(QLatin1String(".zip")));
        QTRY_VERIFY(!panel.findChild<QFileDialog*>(QStringLiteral("fileChooser")));

        fixture->uploads->dismissJustCompleted();
        tab->chooseFiles(SendTab::Choice::Folder);
        QFileDialog* folder = chooser();
        QCOMPARE(folder->fileMode(), QFileDialog::Directory);
        folder->setDirectory(fixture->dir.path());
        folder->selectFile(QStringLiteral("pick"));
        QMetaObject::invokeMethod(folder, "accept");
        QTRY_VERIFY_WITH_TIMEOUT(fixture->uploads->justCompleted() && !fixture->uploads->isUploading(),
                                 runTimeout);
        const QString folderArchive = fixture->uploads->justCompleted()->fileName;
        QVERIFY2(folderArchive.startsWith(QLatin1String("pick_")), qPrintable(folderArchive));
    }

    void symbolsAreBundledDistinctAndTintedFromThePalette() {
        const QStringList names = symbolNamesInSources();
        QVERIFY2(names.size() >= 20, qPrintable(names.join(u' ')));
        // No theme can stand in: none is set, and the symbols still draw.
        QIcon::setThemeName(QStringLiteral("no-such-theme"));
        const QColor tint(0x12, 0x9a, 0x45);
        QHash<QByteArray, QString> pictures;
        for (const QString& name : names) {
            QVERIFY2(Style::hasSymbol(name), qPrintable(name));
            const QIcon icon = Style::icon(name, tint);
            const QSet<QRgb> colours = opaqueColours(icon, 32);
            QVERIFY2(colours == QSet<QRgb>{tint.rgb()}, qPrintable(name));
            // No symbol is drawn like another.
            const QImage image = icon.pixmap(32, 32).toImage();
            const QByteArray bits(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
            QVERIFY2(!pictures.contains(bits), qPrintable(name + u'=' + pictures.value(bits)));
            pictures.insert(bits, name);
        }

        // Without a tint the palette's button text colour is used, whatever it is now.
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::ButtonText, QColor(0xcc, 0x11, 0x22));
        QApplication::setPalette(palette);
        QCOMPARE(opaqueColours(Style::icon(QStringLiteral("preferences-system")), 24),
                 QSet<QRgb>{qRgb(0xcc, 0x11, 0x22)});
        QApplication::setPalette(darkDesktop());
        QCOMPARE(opaqueColours(Style::icon(QStringLiteral("preferences-system")), 24),
                 QSet<QRgb>{qRgb(0xee, 0xee, 0xee)});
    }

    // The named colours stand out from a light and a dark window.
    void namedColoursStandOutOnLightAndDark() {
        for (const QPalette& palette : {QPalette(QColor(0xef, 0xef, 0xef)), darkDesktop()}) {
            QApplication::setPalette(palette);
            const QColor window = palette.color(QPalette::Window);
            for (const QColor& colour : {Style::green(), Style::orange(), Style::red(), Style::blue()})
                QVERIFY2(contrastRatio(colour, window) >= 3.0,
                         qPrintable(colour.name() + u' ' + window.name()));
        }
        QVERIFY(Style::isDark());
    }

    void tabsAndKeysFollowTheVisualOrder() {
        PanelView& panel = *fixture->panel;
        panel.show();
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        auto* gear = named(&panel, QStringLiteral("Einstellungen"));
        auto* senden = named<TabSegment>(&panel, QStringLiteral("Senden"));
        auto* empfangen = named<TabSegment>(&panel, QStringLiteral("Empfangen"));
        auto* choose = named(&panel, QStringLiteral("Dateien auswählen…"));
        auto* quit = named(&panel, QStringLiteral("Zanvolt beenden"));

        // Tab walks header, tabs, the tab's content, footer.
        gear->setFocus(Qt::TabFocusReason);
        QList<QWidget*> walked{QApplication::focusWidget()};
        for (int i = 0; i < 12 && walked.size() < 12; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << QApplication::focusWidget();
        }
        // The two tabs are one stop, as in any tab bar: the selected one.
        QCOMPARE(walked.mid(0, 3), (QList<QWidget*>{gear, senden, choose}));
        QVERIFY(!walked.contains(empfangen) && walked.indexOf(quit) > 2);

        // Arrow keys move between the tabs and switch; Return activates the focused one.
        senden->setFocus(Qt::TabFocusReason);
        QTest::keyClick(senden, Qt::Key_Right);
        QCOMPARE(fixture->session->selectedTab(), 1);
        QCOMPARE(QApplication::focusWidget(), empfangen);
        QTest::keyClick(empfangen, Qt::Key_Left);
        QCOMPARE(fixture->session->selectedTab(), 0);
        QCOMPARE(QApplication::focusWidget(), senden);
        empfangen->setFocus(Qt::TabFocusReason);
        QTest::keyClick(empfangen, Qt::Key_Return);
        QCOMPARE(fixture->session->selectedTab(), 1);
    }

    void rowsLineUpAreReadAndFocusedInTheOrderShown() {
        fixture->server().seedTransfer({{QStringLiteral("Alt.pdf"), "alt"}, {QStringLiteral("b.txt"), "b"}},
                                       {}, QDateTime::currentDateTimeUtc().addDays(-1));
        PanelView& panel = *fixture->panel;
        panel.show();
        QCoro::waitFor(fixture->sent->refresh());
        RowListView* list = panel.sendTab()->list();
        // A newer transfer is drawn above the older row, which was made first.
        fixture->server().seedTransfer({{QStringLiteral("Neu.pdf"), "neu"}});
        QCoro::waitFor(fixture->sent->refresh());

        // One accessible item per row, with the row's texts, in the order shown.
        QAccessibleInterface* items = QAccessible::queryAccessibleInterface(list);
        QStringList read;
        for (int i = 0; i < items->childCount(); ++i)
            read << items->child(i)->text(QAccessible::Name);
        QVERIFY2(read.size() == 2 && read[0].startsWith(QStringLiteral("Neu.pdf ")) &&
                     read[1].startsWith(QStringLiteral("Alt.pdf ")),
                 qPrintable(read.join(u'|')));

        // The copy buttons stand in one column whether or not a row can unfold (only the older can).
        const auto button = [list](int row, const QString& action) {
            return list->buttonRect(list->model()->index(row, 0), action);
        };
        QVERIFY(button(1, QStringLiteral("Dateiliste")).isValid() &&
                !button(0, QStringLiteral("Dateiliste")).isValid());
        const QRect copy = button(0, QStringLiteral("Link kopieren"));
        QCOMPARE(copy.x(), button(1, QStringLiteral("Link kopieren")).x());
        // Two rows fit: no scroll bar.
        QVERIFY(!list->verticalScrollBar()->isVisible());
        // The painted row names its buttons.
        QHelpEvent help(QEvent::ToolTip, copy.center(), list->viewport()->mapToGlobal(copy.center()));
        QApplication::sendEvent(list->viewport(), &help);
        QCOMPARE(QToolTip::text(), QStringLiteral("Link kopieren"));
        TransferItem one;
        one.originalFileNames = {QStringLiteral("Nur.pdf")};
        QCOMPARE(TransferPresenter(one).fileCount(), QStringLiteral("· 1 Datei"));

        // Up and Down move the current row; Tab goes on to its buttons in their order, then past the
        // list, and Shift+Tab comes back.
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        list->setFocus(Qt::TabFocusReason);
        QTest::keyClick(list, Qt::Key_End);
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(list->currentIndex().row(), 0);
        // What a screen reader is told has the focus: a widget, or in the list the current row's
        // button, its last child while the keyboard is on it.
        const auto focused = [list, items] {
            QWidget* focus = QApplication::focusWidget();
            if (focus != list)
                return focus->accessibleName();
            QAccessibleInterface* row = items->child(list->currentIndex().row());
            QAccessibleInterface* button = row->child(row->childCount() - 1);
            return button && button->role() == QAccessible::Button && button->state().focused
                       ? button->text(QAccessible::Name)
                       : QString();
        };
        QStringList walked;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << focused();
        }
        QCOMPARE(walked, (QStringList{"Passwort hinzufügen", "Herunterladen", "Link kopieren",
                                      "Vom Server löschen", "Aktualisieren"}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(focused(), QStringLiteral("Vom Server löschen"));
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), list);
        QCOMPARE(focused(), QString());
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentIndex().row(), 1);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(list, Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("Link kopieren"));
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(fixture->desktop.copiedTexts.value(0), fixture->sent->model()->record(1).downloadURL);
        fixture->desktop.copiedTexts.clear(); // the focused button's item presses it too
        items->child(1)->child(0)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(fixture->desktop.copiedTexts.value(0), fixture->sent->model()->record(1).downloadURL);
    }

    // Every button and menu entry of a row is an action of its accessible item, and invoking one
    // clicks it: no pointer comes near the list, no row is made live first.
    void rowActionsAreActionsOfTheirItems() {
        fixture->server().seedTransfer({{QStringLiteral("Preise.xlsx"), "x"}, {QStringLiteral("b.txt"), "b"}},
                                       QStringLiteral("Alt-123"));
        fixture->server().seedIncoming(QStringLiteral("Müller GmbH"), {{QStringLiteral("Plan.pdf"), "plan"}});
        PanelView& panel = *fixture->panel;
        panel.show();
        QCoro::waitFor(fixture->sent->refresh());
        QCoro::waitFor(fixture->received->refresh());
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&panel);
        QAccessibleInterface* row = itemNamed(root, QStringLiteral("Preise"));
        QVERIFY(row);
        QCOMPARE(row->text(QAccessible::Description), QStringLiteral("Passwortgeschützt"));
        QAccessibleActionInterface* actions = row->actionInterface();
        QCOMPARE(actions->actionNames(),
                 (QStringList{"Link kopieren", "Passwort verwalten", "Passwort anzeigen", "Passwort kopieren",
                              "Neu erzeugen", "Passwortschutz entfernen", "Herunterladen", "Umbenennen…",
                              "Vom Server löschen", "Dateiliste"}));
        actions->doAction(QStringLiteral("Link kopieren"));
        QCOMPARE(fixture->desktop.copiedTexts, QStringList{fixture->sent->transfers().value(0).downloadURL});
        // What opens in the row is read as its lines, in the order drawn.
        actions->doAction(QStringLiteral("Passwort anzeigen"));
        const auto lines = [row] {
            QStringList read;
            for (int i = 0; i < row->childCount(); ++i)
                read << row->child(i)->text(QAccessible::Name);
            return read;
        };
        QTRY_COMPARE_WITH_TIMEOUT(lines(), QStringList{"Alt-123"}, runTimeout);
        QVERIFY(actions->actionNames().contains(QStringLiteral("Verbergen")));
        actions->doAction(QStringLiteral("Dateiliste"));
        QCOMPARE(lines(), (QStringList{"Alt-123", "Preise.xlsx", "b.txt"}));
        // ... each where it is drawn, one below the other under the main line.
        for (int i = 0, above = row->rect().top(); i < row->childCount();
             above = row->child(i++)->rect().top())
            QVERIFY(row->child(i)->rect().top() > above);
        QVERIFY(row->state().expandable && row->state().expanded);
        actions->doAction(QStringLiteral("Passwort verwalten"));
        const QMenu* menu = panel.sendTab()->list()->findChild<QMenu*>(QStringLiteral("passwordMenu"));
        QVERIFY(menu && menu->isVisible());
        actions->doAction(QStringLiteral("Vom Server löschen"));
        QCOMPARE(fixture->sent->model()->rowCount(), 0);

        fixture->session->setSelectedTab(1);
        QAccessibleInterface* upload = itemNamed(root, QStringLiteral("Plan.pdf Müller GmbH"));
        QCOMPARE(upload->actionInterface()->actionNames(),
                 (QStringList{"Dateien herunterladen", "Link kopieren", "Vom Server löschen"}));
        upload->actionInterface()->doAction(QStringLiteral("Dateien herunterladen"));
        QTRY_COMPARE_WITH_TIMEOUT(upload->actionInterface()->actionNames().value(0),
                                  QStringLiteral("Erneut herunterladen"), runTimeout);
    }

    void elidedNamesKeepTheDotsOfCapitalUmlauts() {
        const auto render = [](const QString& text) {
            ElidedLabel label(Qt::ElideMiddle);
            Style::setFont(&label, Style::Text::Caption, QFont::Medium);
            label.setFullText(text);
            label.resize(label.sizeHint());
            return label.grab().toImage();
        };
        // The dots are the only difference; clipped, at most a faint trace of them is left.
        const auto dotPixels = [&](const QString& withDots, const QString& without) {
            const QImage a = render(withDots);
            const QImage b = render(without);
            int count = 0;
            for (int y = 0; y < qMin(a.height(), b.height()); ++y)
                for (int x = 0; x < qMin(a.width(), b.width()); ++x)
                    count += qAbs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 64;
            return count;
        };
        QVERIFY(dotPixels(QStringLiteral("Ä.zip"), QStringLiteral("A.zip")) >= 2);
        QVERIFY(dotPixels(QStringLiteral("Übergabe"), QStringLiteral("Ubergabe")) >= 2);
    }

    void fileTypeGlyphs() {
        using Kind = FileTypeIcon::Kind;
        const QList<std::pair<const char*, Kind>> kinds = {
            {"Bericht.docx", Kind::document},     {"FOTO.JPG", Kind::image},        {"notes", Kind::other},
            {"archive.tar.bz2", Kind::other},     {"backup.tar.gz", Kind::archive}, {".pdf", Kind::other},
            {"Ordner.v2/Satz.INDD", Kind::layout}};
        for (const auto& [name, kind] : kinds)
            QVERIFY2(FileTypeIcon::kind(QString::fromUtf8(name)) == kind, name);
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
