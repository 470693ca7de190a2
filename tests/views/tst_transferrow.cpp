#include "AlertDialog.h"
#include "FileTypeIcon.h"
#include "RecordingDesktopServices.h"
#include "RenameFileSheet.h"
#include "SendenTabView.h"
#include "Style.h"
#include "TestServerFixture.h"
#include "TransferManager.h"
#include "TransferRowView.h"
#include "UserDefaults.h"

#include <QAction>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {
constexpr int runTimeout = 30000;

QStringList texts(const QMenu* menu) {
    QStringList list;
    for (const QAction* action : menu->actions())
        list << (action->isSeparator() ? QStringLiteral("—") : action->text());
    return list;
}

void trigger(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action->trigger();
    QFAIL(qPrintable(QStringLiteral("no entry ") + text));
}

// By the label's full text: a shortened one names it in full.
bool showsLabel(QWidget* root, const QString& text) {
    for (const QLabel* label : root->findChildren<QLabel*>())
        if ((label->text() == text || label->accessibleName() == text) && label->isVisibleTo(root))
            return true;
    return false;
}

template <typename T = QToolButton> T* named(QWidget* root, const QString& name) {
    for (T* child : root->findChildren<T*>())
        if (child->accessibleName() == name)
            return child;
    return nullptr;
}

// Pixels of `image` within a few steps of `color`, ignoring alpha.
int pixelsOf(const QImage& image, const QColor& color) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            count += pixel.alpha() > 200 && std::abs(pixel.red() - color.red()) < 12 &&
                     std::abs(pixel.green() - color.green()) < 12 &&
                     std::abs(pixel.blue() - color.blue()) < 12;
        }
    return count;
}
// Text pixels clearly tinted red, whatever the antialiasing blends them with.
int reddishPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            count += pixel.red() > pixel.green() + 80 && pixel.red() > pixel.blue() + 80;
        }
    return count;
}
} // namespace

// A transfer's row, its password flow against the bundled server, the rename sheet and the glyphs.
class TestTransferRow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TestServerFixture> fixture;
    std::unique_ptr<UserDefaults> defaults;
    RecordingDesktopServices desktop;
    std::unique_ptr<TransferManager> manager;

    TransferServer& server() { return fixture->server(); }

    QStringList requestsTo(const QString& path) {
        QStringList seen;
        for (const auto& request : server().requests())
            if (request.path == path)
                seen << request.method + u' ' + QString::fromUtf8(request.body);
        return seen;
    }

private Q_SLOTS:
    void initTestCase() {
        TransferRowView::setCopiedOverlayDuration(std::chrono::milliseconds(100));
        TransferRowView::setPasswordCopiedDuration(std::chrono::milliseconds(100));
    }

    void init() {
        dir = std::make_unique<QTemporaryDir>();
        fixture = std::make_unique<TestServerFixture>();
        server().setRecordBodies(true);
        defaults = std::make_unique<UserDefaults>(dir->filePath(QStringLiteral("settings.ini")));
        desktop = RecordingDesktopServices();
        TransferManager::Environment env;
        env.historyDirectory = dir->filePath(QStringLiteral("history"));
        env.secretStore = &fixture->store();
        env.desktop = &desktop;
        env.defaults = defaults.get();
        env.firstPollDelay = env.pollInterval = std::chrono::hours(1);
        fixture->storeCredentials(QString(), QString());
        manager = std::make_unique<TransferManager>(env);
        fixture->storeCredentials(server().baseURL(), server().apiKey());
    }

    void cleanup() {
        manager.reset();
        fixture.reset();
    }

    void mainLineButtonsAndMenus() {
        TransferItem item;
        item.fileName = QStringLiteral("Unterlagen_05-03-2024.zip");
        item.code = QStringLiteral("K7");
        item.downloadURL = QStringLiteral("https://transfer.example.test/d/K7");
        item.uploadDate = QDateTime(QDate(2024, 3, 5), QTime(14, 7)).toUTC();
        item.originalFileNames = {QStringLiteral("a.pdf"), QStringLiteral("b.docx"), QStringLiteral("c.png")};
        item.downloadedAt = QDateTime(QDate(2024, 3, 6), QTime(9, 5)).toUTC();
        item.hasPassword = true;
        TransferRowView row(item, manager.get(), &desktop);
        row.resize(380, 200);
        row.show();

        QVERIFY(showsLabel(&row, QStringLiteral("05.03.2024 14:07")));
        QVERIFY(showsLabel(&row, QStringLiteral("· 3 Dateien")));
        QVERIFY(showsLabel(&row, QStringLiteral("· Datei heruntergeladen: 06.03.24 - 09:05")));
        QVERIFY(named<QLabel>(&row, QStringLiteral("Passwortgeschützt"))->isVisibleTo(&row));
        QStringList tooltips;
        for (const QToolButton* button :
             row.findChild<QWidget*>(QStringLiteral("mainLine"))->findChildren<QToolButton*>())
            tooltips << button->toolTip();
        QCOMPARE(tooltips, (QStringList{"Passwort verwalten", "Herunterladen", "Link kopieren",
                                        "Vom Server löschen", ""}));
        QCOMPARE(texts(row.findChild<QMenu*>(QStringLiteral("passwordMenu"))),
                 (QStringList{"Passwort anzeigen", "Passwort kopieren", "—", "Neu erzeugen",
                              "Passwortschutz entfernen"}));
        QMenu* context = row.findChild<QMenu*>(QStringLiteral("contextMenu"));
        QCOMPARE(texts(context),
                 (QStringList{"Umbenennen…", "Link kopieren", "Herunterladen", "—", "Löschen"}));

        // Download and delete only ask the tab; deleting is never confirmed here.
        QSignalSpy copy(&row, &TransferRowView::copyLinkRequested);
        QSignalSpy download(&row, &TransferRowView::downloadRequested);
        QSignalSpy remove(&row, &TransferRowView::deleteRequested);
        AlertDialog::setNextAnswer(1);
        named(&row, QStringLiteral("Herunterladen"))->click();
        named(&row, QStringLiteral("Vom Server löschen"))->click();
        trigger(context, QStringLiteral("Löschen"));
        QCOMPARE(download.size(), 1);
        QCOMPARE(remove.size(), 2);
        QVERIFY(!AlertDialog::lastShown());

        // The context menu's copy asks without the overlay; a click on the line shows it for a while.
        trigger(context, QStringLiteral("Link kopieren"));
        QCOMPARE(copy.size(), 1);
        QVERIFY(!row.showCopied());
        QTest::mouseClick(row.findChild<QWidget*>(QStringLiteral("mainLine")), Qt::LeftButton, {},
                          QPoint(60, 10));
        QCOMPARE(copy.size(), 2);
        QVERIFY(row.findChild<QWidget*>(QStringLiteral("copiedOverlay"))->isVisible());
        QVERIFY(showsLabel(&row, QStringLiteral("Link kopiert")));
        QTRY_VERIFY(!row.findChild<QWidget*>(QStringLiteral("copiedOverlay"))->isVisible());

        // The unfolded list is 18 points per name, at most ten names high.
        QScrollArea* files = row.findChild<QScrollArea*>();
        QVERIFY(!files->isVisibleTo(&row));
        named(&row, QStringLiteral("Dateiliste"))->click();
        QVERIFY(files->isVisibleTo(&row));
        QCOMPARE(files->height(), 54);
        for (int i = 0; i < 12; ++i)
            item.originalFileNames << QStringLiteral("weitere-%1.txt").arg(i);
        row.setTransfer(item);
        QCOMPARE(files->height(), 180);
        QVERIFY(row.isExpanded()); // an in-place change keeps the row's states
        QVERIFY(showsLabel(&row, QStringLiteral("· 15 Dateien")));

        item.originalFileNames.clear();
        item.hasPassword = false;
        item.downloadedAt.reset();
        row.setTransfer(item);
        QVERIFY(!named(&row, QStringLiteral("Dateiliste"))->isVisibleTo(&row));
        QVERIFY(!files->isVisibleTo(&row));
        QVERIFY(!showsLabel(&row, QStringLiteral("· 15 Dateien")));
        QVERIFY(!named<QLabel>(&row, QStringLiteral("Passwortgeschützt"))->isVisibleTo(&row));
        QCOMPARE(named(&row, QStringLiteral("Passwort hinzufügen"))->toolTip(),
                 QStringLiteral("Passwort hinzufügen"));
        QCOMPARE(texts(row.findChild<QMenu*>(QStringLiteral("passwordMenu"))),
                 QStringList{"Passwort erzeugen"});
    }

    void passwordFlow() {
        const QString code =
            server().seedTransfer({{QStringLiteral("Preise.xlsx"), "x"}}, QStringLiteral("Alt-123"));
        const QString path = QStringLiteral("/api/outgoing/") + code + QStringLiteral("/password");
        SendenTabView tab(manager.get(), &desktop);
        tab.resize(380, 400);
        tab.show();
        QCoro::waitFor(manager->refreshOutgoing());
        TransferRowView* row = tab.rows().value(0);
        QVERIFY(row);
        QMenu* menu = row->findChild<QMenu*>(QStringLiteral("passwordMenu"));
        QWidget* line = row->findChild<QWidget*>(QStringLiteral("passwordLine"));
        QWidget* loading = row->findChild<QWidget*>(QStringLiteral("loadingLine"));

        trigger(menu, QStringLiteral("Passwort anzeigen"));
        QVERIFY(loading->isVisibleTo(row));
        QVERIFY(showsLabel(row, QStringLiteral("Passwort wird geladen...")));
        QTRY_VERIFY_WITH_TIMEOUT(line->isVisibleTo(row), runTimeout);
        QVERIFY(!loading->isVisibleTo(row));
        QCOMPARE(row->findChild<QLabel*>(QStringLiteral("password"))->text(), QStringLiteral("Alt-123"));
        QCOMPARE(requestsTo(path), QStringList{QStringLiteral("GET ")});

        // Known now: hiding and showing again asks nobody.
        named(row, QStringLiteral("Verbergen"))->click();
        QVERIFY(!line->isVisibleTo(row));
        trigger(menu, QStringLiteral("Passwort anzeigen"));
        QVERIFY(line->isVisibleTo(row));
        QCOMPARE(requestsTo(path).size(), 1);

        // The menu's copy gives no feedback; the line's copy button does, for a while.
        trigger(menu, QStringLiteral("Passwort kopieren"));
        QCOMPARE(desktop.copiedTexts, QStringList{QStringLiteral("Alt-123")});
        QVERIFY(!row->passwordCopied());
        named(row, QStringLiteral("Passwort kopieren"))->click();
        QCOMPARE(desktop.copiedTexts.size(), 2);
        QVERIFY(row->passwordCopied());
        QTRY_VERIFY(!row->passwordCopied());

        // "Abbrechen" in either alert changes nothing.
        AlertDialog::setNextAnswer(1);
        trigger(menu, QStringLiteral("Neu erzeugen"));
        QCOMPARE(AlertDialog::lastShown()->message, QStringLiteral("Neues Passwort erzeugen?"));
        QCOMPARE(AlertDialog::lastShown()->informativeText,
                 QStringLiteral("Das aktuelle Passwort wird sofort ungültig. Kunden müssen mit dem neuen "
                                "Passwort downloaden."));
        QCOMPARE(AlertDialog::lastShown()->buttons, (QStringList{"Neu erzeugen", "Abbrechen"}));
        AlertDialog::setNextAnswer(1);
        trigger(menu, QStringLiteral("Passwortschutz entfernen"));
        QCOMPARE(AlertDialog::lastShown()->message, QStringLiteral("Passwortschutz entfernen?"));
        QCOMPARE(AlertDialog::lastShown()->informativeText,
                 QStringLiteral("Der Link ist danach ohne Passwort abrufbar."));
        QCOMPARE(AlertDialog::lastShown()->buttons, (QStringList{"Entfernen", "Abbrechen"}));
        QTest::qWait(100);
        QCOMPARE(requestsTo(path).size(), 1);
        QCOMPARE(row->transfer().password, std::optional<QString>(QStringLiteral("Alt-123")));

        // Confirmed: a new password replaces the old one in the same row, its line still open.
        AlertDialog::setNextAnswer(0);
        trigger(menu, QStringLiteral("Neu erzeugen"));
        QTRY_VERIFY_WITH_TIMEOUT(row->transfer().password !=
                                         std::optional<QString>(QStringLiteral("Alt-123")) &&
                                     !row->isLoadingPassword(),
                                 runTimeout);
        QVERIFY(requestsTo(path).last().startsWith(QStringLiteral("PATCH ")));
        QCOMPARE(QJsonDocument::fromJson(requestsTo(path).last().mid(6).toUtf8()).object(),
                 (QJsonObject{{"generate", true}}));
        QCOMPARE(tab.rows().value(0), row);
        QVERIFY(line->isVisibleTo(row));
        QCOMPARE(row->findChild<QLabel*>(QStringLiteral("password"))->text(), *row->transfer().password);

        AlertDialog::setNextAnswer(0);
        trigger(menu, QStringLiteral("Passwortschutz entfernen"));
        QTRY_VERIFY_WITH_TIMEOUT(!row->transfer().hasPassword, runTimeout);
        QCOMPARE(QJsonDocument::fromJson(requestsTo(path).last().mid(6).toUtf8()).object(),
                 (QJsonObject{{"password", QJsonValue::Null}}));
        QTRY_VERIFY(!line->isVisibleTo(row));
        QCOMPARE(named(row, QStringLiteral("Passwort hinzufügen"))->toolTip(),
                 QStringLiteral("Passwort hinzufügen"));

        // Without a password the menu only makes one, without asking.
        const auto asked = AlertDialog::lastShown();
        trigger(menu, QStringLiteral("Passwort erzeugen"));
        QVERIFY(loading->isVisibleTo(row));
        QTRY_VERIFY_WITH_TIMEOUT(line->isVisibleTo(row) && row->transfer().hasPassword, runTimeout);
        QCOMPARE(AlertDialog::lastShown()->message, asked->message);
        QCOMPARE(requestsTo(path).size(), 4);
        QCOMPARE(tab.rows().value(0), row);
    }

    void renameSheetRules() {
        const QString code = server().seedTransfer({{QStringLiteral("Bericht.final.pdf"), "b"}});
        QCoro::waitFor(manager->refreshOutgoing());
        const QString path = QStringLiteral("/api/outgoing/") + code + QStringLiteral("/files");
        QWidget panel;
        RenameFileSheet sheet(code, QStringLiteral("Bericht.final.pdf"), manager.get(), &panel);
        sheet.show();
        auto* field = sheet.findChild<QLineEdit*>();
        auto* save = named<QPushButton>(&sheet, QStringLiteral("Speichern"));
        auto* counter = sheet.findChild<QLabel*>(QStringLiteral("counter"));
        QCOMPARE(field->text(), QStringLiteral("Bericht.final"));
        QCOMPARE(sheet.findChild<QLabel*>(QStringLiteral("extension"))->text(), QStringLiteral(".pdf"));
        QCOMPARE(counter->text(), QStringLiteral("13 / 60"));
        // The unchanged stem cannot be saved, not even with Return, also when only blanks were added.
        QVERIFY(!save->isEnabled());
        field->setText(QStringLiteral(" Bericht.final  "));
        QVERIFY(!save->isEnabled());
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(sheet.isVisible());
        field->setText(QStringLiteral("   "));
        QVERIFY(!save->isEnabled());
        QCOMPARE(counter->text(), QStringLiteral("0 / 60"));

        // Counted in user-perceived characters: "ä" written as a + combining diaeresis is one.
        const QString umlaut = QStringLiteral("a\u0308");
        field->setText(umlaut.repeated(60));
        QCOMPARE(counter->text(), QStringLiteral("60 / 60"));
        QVERIFY(save->isEnabled());
        const QImage allowed = counter->grab().toImage();
        field->setText(umlaut.repeated(61));
        QCOMPARE(counter->text(), QStringLiteral("61 / 60"));
        QVERIFY(!save->isEnabled());
        QCOMPARE(reddishPixels(allowed), 0);
        QVERIFY(reddishPixels(counter->grab().toImage()) > 5);

        // A failure keeps the sheet open with the manager's message, and the text for another try.
        server().failNext(path, 1, 409, "Name bereits vergeben");
        server().delayNext(path, 1, 300);
        field->setText(QStringLiteral("  Bericht \t"));
        QCOMPARE(counter->text(), QStringLiteral("7 / 60"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(save->text(), QStringLiteral("Speichere…"));
        QVERIFY(!save->isEnabled());
        auto* error = sheet.findChild<QLabel*>(QStringLiteral("error"));
        QTRY_VERIFY_WITH_TIMEOUT(error->isVisibleTo(&sheet), runTimeout);
        QCOMPARE(error->text(),
                 QStringLiteral("Umbenennen fehlgeschlagen: Server-Fehler 409: Name bereits vergeben"));
        QVERIFY(sheet.isVisible());
        QCOMPARE(save->text(), QStringLiteral("Speichern"));
        QVERIFY(save->isEnabled());
        QCOMPARE(field->text(), QStringLiteral("  Bericht \t"));

        save->click();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isVisible(), runTimeout);
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        const QStringList sent = requestsTo(path);
        QCOMPARE(QJsonDocument::fromJson(sent.last().mid(6).toUtf8()).object(),
                 (QJsonObject{{"oldName", "Bericht.final.pdf"}, {"newName", "Bericht.pdf"}}));
        QCOMPARE(manager->transfers().value(0).fileName, QStringLiteral("Bericht.pdf"));

        // A leading dot is no extension: the whole name is the basis and nothing is appended.
        RenameFileSheet hidden(code, QStringLiteral(".htaccess"), manager.get(), &panel);
        QCOMPARE(hidden.findChild<QLineEdit*>()->text(), QStringLiteral(".htaccess"));
        QCOMPARE(hidden.findChild<QLabel*>(QStringLiteral("extension"))->text(), QString());
        QCOMPARE(RenameFileSheet::extension(QStringLiteral("README")), QString());

        // "Umbenennen…" in the row's menu opens the sheet for that transfer, modal to the panel.
        SendenTabView tab(manager.get(), &desktop);
        tab.show();
        TransferRowView* row = tab.rows().value(0);
        trigger(row->findChild<QMenu*>(QStringLiteral("contextMenu")), QStringLiteral("Umbenennen…"));
        QVERIFY(row->renameSheet() && row->renameSheet()->isVisible());
        QVERIFY(row->renameSheet()->isModal());
        QCOMPARE(row->renameSheet()->basis(), QStringLiteral("Bericht"));
        named<QPushButton>(row->renameSheet(), QStringLiteral("Abbrechen"))->click();
        QTRY_VERIFY(!row->renameSheet());
    }

    void fileTypeGlyphs() {
        using Kind = FileTypeIcon::Kind;
        QCOMPARE(FileTypeIcon::kind(QStringLiteral("Bericht.docx")), Kind::document);
        QCOMPARE(FileTypeIcon::kind(QStringLiteral("FOTO.JPG")), Kind::image);
        QCOMPARE(FileTypeIcon::kind(QStringLiteral("notes")), Kind::other);
        QCOMPARE(FileTypeIcon::kind(QStringLiteral("archive.tar.bz2")), Kind::other);
        QCOMPARE(FileTypeIcon::kind(QStringLiteral("backup.tar.gz")), Kind::archive);
        QCOMPARE(FileTypeIcon::kind(QStringLiteral("Ordner.v2/Satz.INDD")), Kind::layout);
        QCOMPARE(FileTypeIcon::kind(QStringLiteral(".pdf")), Kind::other);

        // Drawn at 48 points, 2 pixels per unit: the W of a document passes (12,13); the fold at
        // (14,5) belongs to every document outline but not to the image glyph.
        const QImage docx = FileTypeIcon::pixmap(QStringLiteral("Bericht.docx"), 48).toImage();
        const QColor blue = FileTypeIcon::color(Kind::document);
        QVERIFY(pixelsOf(docx.copy(22, 24, 5, 5), blue) > 0);
        QVERIFY(pixelsOf(docx.copy(27, 9, 3, 3), blue) > 0);
        const QImage photo = FileTypeIcon::pixmap(QStringLiteral("FOTO.JPG"), 48).toImage();
        QCOMPARE(photo.copy(27, 9, 3, 3).pixelColor(1, 1).alpha(), 0);
        QVERIFY(pixelsOf(photo, FileTypeIcon::color(Kind::image)) > 100);
        const QImage plain = FileTypeIcon::pixmap(QStringLiteral("notes"), 48).toImage();
        QCOMPARE(plain.pixelColor(24, 26).alpha(), 0); // outline only, nothing inside
        QVERIFY(plain.pixelColor(8, 30).alpha() > 0);  // the page's left edge at x = 4
    }
};

QTEST_MAIN(TestTransferRow)
#include "tst_transferrow.moc"
