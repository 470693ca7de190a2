#include "PanelFixture.h"
#include "RecordedRequests.h"
#include "TemporaryHome.h"
#include "WidgetLookup.h"
#include "services/APIServiceOutgoing.h"
#include "transfers/TransferPresenter.h"
#include "views/BuildInfo.h"
#include "views/ElidedLabel.h"
#include "views/ReceiveTab.h"
#include "views/RenameDialog.h"
#include "views/RowListView.h"
#include "views/SendTab.h"
#include "views/SentRowPainter.h"
#include "views/SettingsPage.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVariantAnimation>

namespace {
constexpr int runTimeout = 30000;

// A desktop that turns widget animations off.
class NoAnimations : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        return hint == SH_Widget_Animation_Duration ? 0 : QProxyStyle::styleHint(hint, option, widget, data);
    }
};

} // namespace

// The panel frame, the send tab, its rows with their password flow, the rename dialog and the glyphs,
// on a real session talking to the bundled server.
class TestSendTab : public QObject {
    Q_OBJECT

    TemporaryHome home; // a download lands in its Downloads folder
    std::unique_ptr<PanelFixture> fixture;
    ClientSession* session = nullptr;
    Uploads* uploads = nullptr;
    SentTransfers* sent = nullptr;
    SentTransferOperations* operations = nullptr;
    ReceivedUploads* received = nullptr;
    SendTab* tab = nullptr;

    DevServer& server() { return fixture->server(); }
    QUrl writeFile(const QString& name, const QByteArray& content) { return fixture->file(name, content); }
    void showTab() { fixture->panel->show(); }

    bool shows(const QString& objectName) {
        QWidget* widget = tab->findChild<QWidget*>(objectName);
        return widget && widget->isVisibleTo(tab);
    }

    QString label(const QString& objectName) { return tab->findChild<QLabel*>(objectName)->text(); }
    // The whole text of the error line, empty while it is hidden.
    QString errorLine() {
        auto* error = tab->findChild<ElidedLabel*>(QStringLiteral("errorText"));
        return error->isVisibleTo(tab) ? error->fullText() : QString();
    }

    // The shown tab, listing what the server holds.
    void showListed() {
        showTab();
        QCoro::waitFor(sent->refresh());
    }

    int rowCount() { return tab->list()->model()->rowCount(); }

    const TransferItem& record(int row) { return sent->model()->record(row); }
    bool has(int row, RowStates::Flag flag) { return sent->model()->states()->has(record(row).code, flag); }
    int rowOf(const QString& code) {
        for (int i = 0; i < rowCount(); ++i)
            if (record(i).code == code)
                return i;
        return -1;
    }
    // A click where the row draws the button that does `action`, once shown whole, no menu open.
    void click(int row, const QString& action) {
        QTRY_VERIFY(!tab->list()->findChild<QVariantAnimation*>(QStringLiteral("unfoldAnimation")));
        qDeleteAll(tab->list()->findChildren<QMenu*>());
        const QRect button = tab->list()->buttonRect(sent->model()->index(row), action);
        QVERIFY2(button.isValid(), qPrintable(action));
        QTest::mouseClick(tab->list()->viewport(), Qt::LeftButton, {}, button.center());
    }
    // The menu of the row's button, opened by a click; the context menu for no button.
    QMenu* menu(int row, const QString& button = {}) {
        RowListView* list = tab->list();
        qDeleteAll(list->findChildren<QMenu*>());
        if (button.isEmpty()) {
            const QPoint at = list->visualRect(sent->model()->index(row)).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
            QApplication::sendEvent(list->viewport(), &event);
        } else {
            click(row, button);
        }
        return list->findChild<QMenu*>();
    }

    // "METHOD body" of every request to the path.
    QStringList sentTo(const QString& path) {
        QStringList seen;
        for (const auto& request : requestsTo(server(), path))
            seen << request.method + u' ' + QString::fromUtf8(request.body);
        return seen;
    }

private Q_SLOTS:
    void init() {
        fixture = std::make_unique<PanelFixture>();
        session = fixture->session;
        uploads = fixture->uploads;
        sent = fixture->sent;
        operations = fixture->operations;
        received = fixture->received;
        for (const RowStates::Flag flag : {RowStates::LinkCopied, RowStates::PasswordCopied})
            sent->model()->states()->setFlashDuration(flag, std::chrono::milliseconds(100));
        tab = fixture->panel->sendTab();
    }

    void cleanup() { fixture.reset(); }

    void hintUntilThereIsSomethingToShow() {
        showTab();
        QVERIFY(shows(QStringLiteral("hint")));
        QVERIFY(!shows(QStringLiteral("transferList")));

        // "Aktualisieren" still reloads, and a listed transfer replaces the hint with its row.
        server().seedTransfer({{QStringLiteral("Angebot.pdf"), "pdf"}});
        shownNamed(tab, QStringLiteral("Aktualisieren"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(rowCount(), 1, runTimeout);
        QVERIFY(!shows(QStringLiteral("hint")) && shows(QStringLiteral("transferList")));

        // Deleted at once, without a question; a refusal of the server is said here, not on the other tab.
        server().failNext(QStringLiteral("/api/outgoing/") + sent->transfers()[0].code, 1, 500, "kaputt");
        click(0, QStringLiteral("Vom Server löschen"));
        QCOMPARE(rowCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(
            errorLine(),
            QStringLiteral("Server-Löschung fehlgeschlagen: Netzwerk-Fehler: Löschen fehlgeschlagen"),
            runTimeout);
        QVERIFY(!received->error());
    }

    void bannerWithAndWithoutPassword() {
        showTab();
        uploads->uploadFiles({writeFile(QStringLiteral("Plan.pdf"), "plan")}, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(uploads->justCompleted() && !uploads->isUploading(), runTimeout);
        const auto first = *uploads->justCompleted();
        QVERIFY(shows(QStringLiteral("banner")));
        QCOMPARE(tab->findChild<ElidedLabel*>(QStringLiteral("bannerFileName"))->fullText(),
                 QStringLiteral("Plan.pdf"));
        QCOMPARE(tab->findChild<ElidedLabel*>(QStringLiteral("bannerLink"))->fullText(), first.downloadURL);
        QVERIFY(!shows(QStringLiteral("bannerPassword"))); // three lines only
        fixture->desktop.copiedTexts.clear();
        shownNamed(tab, QStringLiteral("Kopieren"))->click();
        QCOMPARE(fixture->desktop.copiedTexts, QStringList{first.downloadURL});

        uploads->uploadFiles({writeFile(QStringLiteral("Vertrag.pdf"), "vertrag")},
                             QStringLiteral("Geheim-42"), false);
        QTRY_VERIFY_WITH_TIMEOUT(uploads->justCompleted() && uploads->justCompleted()->id != first.id &&
                                     !uploads->isUploading(),
                                 runTimeout);
        QCOMPARE(label(QStringLiteral("bannerPassword")), QStringLiteral("Geheim-42"));
        fixture->desktop.copiedTexts.clear();
        shownNamed(tab, QStringLiteral("Passwort kopieren"))->click();
        shownNamed(tab, QStringLiteral("Kopieren"))->click();
        QCOMPARE(fixture->desktop.copiedTexts,
                 (QStringList{QStringLiteral("Geheim-42"), uploads->justCompleted()->downloadURL}));

        shownNamed(tab, QStringLiteral("Schließen"))->click();
        QVERIFY(!uploads->justCompleted());
        QVERIFY(!shows(QStringLiteral("banner")) && shows(QStringLiteral("transferList")));
    }

    void progressQueueAndCancel() {
        showTab();
        // Every completion waits, so the three uploads queue up behind each other; the last one
        // until it is cancelled, however slow the machine.
        server().delayNext(QStringLiteral("/api/upload-complete"), 2, 1500);
        server().delayNext(QStringLiteral("/api/upload-complete"), 1, 60000);
        for (const char* name : {"eins.txt", "zwei.txt", "drei.txt"})
            uploads->uploadFiles({writeFile(QString::fromLatin1(name), name)}, std::nullopt, false);

        // An empty list during an upload is shown as the (empty) list, never as the hint.
        QVERIFY(shows(QStringLiteral("transferList")) && !shows(QStringLiteral("hint")));
        QCOMPARE(label(QStringLiteral("queueLine")), QStringLiteral("2 weitere Uploads in Warteschlange"));

        // Progress reports redraw the progress block only; the list is never rebuilt.
        QSignalSpy reset(tab->list()->model(), &QAbstractItemModel::modelReset);
        QSignalSpy changed(tab->list()->model(), &QAbstractItemModel::dataChanged);

        QTRY_COMPARE_WITH_TIMEOUT(uploads->queueCount(), 1, runTimeout);
        QCOMPARE(label(QStringLiteral("queueLine")), QStringLiteral("1 weiterer Upload in Warteschlange"));
        QTRY_COMPARE_WITH_TIMEOUT(uploads->queueCount(), 0, runTimeout);
        QVERIFY(!shows(QStringLiteral("queueLine")));
        QCOMPARE(tab->findChild<QProgressBar*>()->value(), qRound(uploads->progress() * 1000));
        QCOMPARE(label(QStringLiteral("progressText")), uploads->progressText());

        shownNamed(tab, QStringLiteral("Upload abbrechen"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!uploads->isUploading(), runTimeout);
        QVERIFY(!shows(QStringLiteral("progressText")));
        QCOMPARE(errorLine(), QStringLiteral("Upload abgebrochen"));
        QVERIFY(reset.isEmpty() && changed.isEmpty());
    }

    void errorShowsTwoLines() {
        const QString code = server().seedTransfer({{QStringLiteral("a.txt"), "a"}}, QStringLiteral("pw"));
        server().failNext(QStringLiteral("/api/outgoing/") + code + QStringLiteral("/password"), 1, 500,
                          "Zeile eins\nZeile zwei\nZeile drei");
        showTab();
        fixture->panel->resize(700, 560);
        QVERIFY(!QCoro::waitFor(operations->revealPassword(code)));
        QTest::qWait(0);
        auto* error = tab->findChild<ElidedLabel*>(QStringLiteral("errorText"));
        QVERIFY(error->isVisibleTo(tab));
        QCOMPARE(error->text(), QStringLiteral("Passwort konnte nicht geladen werden: Server-Fehler 500: "
                                               "Zeile eins\nZeile zwei\u2026"));
        QVERIFY(error->height() < 3 * error->fontMetrics().lineSpacing());

        // A long single line that wraps is held to two lines as well.
        fixture->panel->resize(320, 560);
        QTest::qWait(0);
        const QStringList shown = error->text().split(QLatin1Char('\n'));
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown.last().endsWith(QChar(0x2026)));
    }

    void refreshKeepsRowsAndWhatIsOpenInThem() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString first =
            server().seedTransfer({{QStringLiteral("neu.pdf"), "n"}, {QStringLiteral("b.txt"), "b"}},
                                  QStringLiteral("Erstes-1"), now);
        server().seedTransfer({{QStringLiteral("alt.pdf"), "a"}}, {}, now.addDays(-1));
        showListed();
        RowListView* list = tab->list();
        // A row unfolds, animated, to where an instant unfold puts it; at once where the desktop turns
        // animations off.
        const auto below = [list, this] { return list->visualRect(sent->model()->index(1)).top(); };
        const int folded = below();
        NoAnimations still;
        list->setStyle(&still);
        click(0, QStringLiteral("Dateiliste"));
        QTRY_VERIFY(below() > folded);
        const int instant = below();
        QVERIFY(!list->findChild<QVariantAnimation*>());
        click(0, QStringLiteral("Dateiliste"));
        QTRY_COMPARE(below(), folded);
        list->setStyle(nullptr);
        click(0, QStringLiteral("Dateiliste"));
        QPointer<QVariantAnimation> animation;
        QTRY_VERIFY((animation = list->findChild<QVariantAnimation*>(QStringLiteral("unfoldAnimation"))));
        QTRY_VERIFY(!animation);
        QTRY_COMPARE(below(), instant);

        list->invoke(sent->model()->index(0), QStringLiteral("Passwort anzeigen"));
        QTRY_VERIFY_WITH_TIMEOUT(has(0, RowStates::PasswordShown) && !has(0, RowStates::PasswordLoading),
                                 runTimeout);

        // The other row gets a password in place; the first keeps what is open in it, and the list
        // gives it the height it needs.
        list->invoke(sent->model()->index(1), QStringLiteral("Passwort erzeugen"));
        QTRY_VERIFY_WITH_TIMEOUT(record(1).hasPassword && !has(1, RowStates::PasswordLoading), runTimeout);
        QVERIFY(has(0, RowStates::PasswordShown) && has(0, RowStates::Unfolded));
        const auto height = [list, this](int row) {
            return list->visualRect(sent->model()->index(row)).height();
        };
        QTRY_VERIFY(height(0) > height(1));

        // A refresh renews the ids of server items, but rows are kept by code: what is open stays open.
        QCoro::waitFor(sent->refresh());
        QVERIFY(has(0, RowStates::PasswordShown) && has(0, RowStates::Unfolded));
        QCOMPARE(record(0).password, std::optional<QString>(QStringLiteral("Erstes-1")));

        // Folded up and hidden again, by its buttons.
        click(0, QStringLiteral("Verbergen"));
        click(0, QStringLiteral("Dateiliste"));
        QCOMPARE(sent->model()->states()->of(first), 0);
        QTRY_VERIFY(height(0) < height(1));

        // At the narrowest panel, with a downloaded file, nothing may be pushed out of view.
        QCoro::waitFor(operations->downloadOutgoing(sent->model()->record(1)));
        QCoro::waitFor(sent->refresh());
        fixture->panel->resize(Settings::minimumPanelWidth, Settings::defaultPanelHeight);
        QTRY_VERIFY(list->buttonRect(sent->model()->index(1), QStringLiteral("Vom Server löschen")).right() <
                    list->viewport()->width());
    }

    void panelFrame() {
        PanelView& panel = *fixture->panel;
        panel.show();
        auto* senden = shownNamed(&panel, QStringLiteral("Senden"));
        auto* empfangen = shownNamed(&panel, QStringLiteral("Empfangen"));
        // An unknown tab number shows the receive tab with neither button checked; a click picks one.
        // (Switching by keys and screen readers: tst_desktop.)
        session->setSelectedTab(7);
        QVERIFY(panel.receiveTab()->isVisibleTo(&panel));
        QVERIFY(!senden->isChecked() && !empfangen->isChecked());
        QTest::mouseClick(senden, Qt::LeftButton);
        QCOMPARE(session->selectedTab(), 0);
        QVERIFY(senden->isChecked() && panel.sendTab()->isVisibleTo(&panel));

        // The gear is the way in and out of the settings; the picker is gone meanwhile.
        auto* gear = shownNamed(&panel, QStringLiteral("Einstellungen"));
        QTest::mouseClick(gear, Qt::LeftButton);
        QVERIFY(panel.settingsPage()->isVisibleTo(&panel));
        QVERIFY(!senden->isVisibleTo(&panel) && !panel.sendTab()->isVisibleTo(&panel));
        QTest::mouseClick(gear, Qt::LeftButton);
        QVERIFY(!session->showSettings() && senden->isVisibleTo(&panel));

        const QString built = QFileInfo(QCoreApplication::applicationFilePath())
                                  .lastModified()
                                  .toString(QStringLiteral("dd.MM.yyyy HH:mm"));
        QCOMPARE(panel.findChild<QLabel*>(QStringLiteral("footerVersion"))->text(),
                 QStringLiteral("v" ZANVOLT_VERSION " \u2022 ") + built);
        QCOMPARE(BuildInfo::displayVersion(QString()), QStringLiteral("?"));
    }

    void mainLineButtonsAndMenus() {
        TransferItem item;
        item.uploadDate = QDateTime(QDate(2024, 3, 5), QTime(14, 7)).toUTC();
        item.downloadedAt = QDateTime(QDate(2024, 3, 6), QTime(9, 5)).toUTC();
        QCOMPARE(TransferPresenter(item).date(), QStringLiteral("05.03.2024 14:07"));
        QCOMPARE(TransferPresenter(item).downloaded(),
                 QStringLiteral("· Datei heruntergeladen: 06.03.24 - 09:05"));
        // The unfolded list grows with the names up to ten, then scrolls.
        SentRowPainter painter(0);
        item.originalFileNames = QStringList(9, QStringLiteral("a.pdf"));
        const int nine = painter.height(380, item, RowStates::Unfolded);
        item.originalFileNames << QStringLiteral("b.pdf");
        const int ten = painter.height(380, item, RowStates::Unfolded);
        QVERIFY(ten > nine);
        item.originalFileNames << QStringLiteral("c.pdf");
        QCOMPARE(painter.height(380, item, RowStates::Unfolded), ten);

        // The context menu's copy gives no feedback; a click on the line copies and shows "Link
        // kopiert" for a while, once the clipboard took the link.
        server().seedTransfer({{QStringLiteral("Unterlagen.pdf"), "u"}});
        showListed();
        trigger(menu(0), QStringLiteral("Link kopieren"));
        QCOMPARE(fixture->desktop.copiedTexts.last(), record(0).downloadURL);
        QVERIFY(!has(0, RowStates::LinkCopied));
        const auto clickLine = [this] {
            QTest::mouseClick(tab->list()->viewport(), Qt::LeftButton, {}, QPoint(60, 10));
        };
        fixture->desktop.refuseCopies = true;
        clickLine();
        QVERIFY(!has(0, RowStates::LinkCopied));
        fixture->desktop.refuseCopies = false;
        clickLine();
        QVERIFY(has(0, RowStates::LinkCopied));
        QVERIFY(tab->list()->findChild<QVariantAnimation*>(QStringLiteral("copiedFade")));
        QTRY_VERIFY(!has(0, RowStates::LinkCopied));

        // Deleting from the menu is never confirmed.
        trigger(menu(0), QStringLiteral("Löschen"));
        QCOMPARE(rowCount(), 0);
        QVERIFY(!openAlert(fixture->panel.get()));
    }

    void passwordFlow() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString code =
            server().seedTransfer({{QStringLiteral("Preise.xlsx"), "x"}}, QStringLiteral("Alt-123"), now);
        const QString other = server().seedTransfer({{QStringLiteral("Plan.pdf"), "p"}},
                                                    QStringLiteral("Alt-2"), now.addDays(-1));
        const QString path = QStringLiteral("/api/outgoing/") + code + QStringLiteral("/password");
        showListed();
        const auto passwordMenu = [this] { return menu(0, TransferPresenter(record(0)).passwordButton()); };
        const auto line = [this] { return has(0, RowStates::PasswordShown) && record(0).password; };
        const auto loading = [this] { return has(0, RowStates::PasswordLoading); };

        trigger(passwordMenu(), QStringLiteral("Passwort anzeigen"));
        QVERIFY(loading());
        QTRY_VERIFY_WITH_TIMEOUT(line() && !loading(), runTimeout);

        // Known now: hiding and showing again asks nobody.
        click(0, QStringLiteral("Verbergen"));
        QVERIFY(!line());
        trigger(passwordMenu(), QStringLiteral("Passwort anzeigen"));
        QVERIFY(line());
        QCOMPARE(sentTo(path).size(), 1);

        // The menu's copy gives no feedback; the line's copy button does, for a while.
        trigger(passwordMenu(), QStringLiteral("Passwort kopieren"));
        QCOMPARE(fixture->desktop.copiedTexts, QStringList{QStringLiteral("Alt-123")});
        QVERIFY(!has(0, RowStates::PasswordCopied));
        click(0, QStringLiteral("Passwort kopieren"));
        QCOMPARE(fixture->desktop.copiedTexts.size(), 2);
        QVERIFY(has(0, RowStates::PasswordCopied));
        QTRY_VERIFY(!has(0, RowStates::PasswordCopied));

        // "Abbrechen" in either alert changes nothing.
        trigger(passwordMenu(), QStringLiteral("Neu erzeugen"));
        QMessageBox* alert = openAlert(fixture->panel.get(), QStringLiteral("Neues Passwort erzeugen?"));
        QVERIFY(alert);
        QCOMPARE(alert->informativeText(),
                 QStringLiteral("Das aktuelle Passwort wird sofort ungültig. Kunden müssen mit dem neuen "
                                "Passwort downloaden."));
        QCOMPARE(alertButtons(alert), (QStringList{"Neu erzeugen", "Abbrechen"}));
        answerAlert(alert, QStringLiteral("Abbrechen"));
        trigger(passwordMenu(), QStringLiteral("Passwortschutz entfernen"));
        alert = openAlert(fixture->panel.get(), QStringLiteral("Passwortschutz entfernen?"));
        QVERIFY(alert);
        QCOMPARE(alert->informativeText(), QStringLiteral("Der Link ist danach ohne Passwort abrufbar."));
        QCOMPARE(alertButtons(alert), (QStringList{"Entfernen", "Abbrechen"}));
        answerAlert(alert, QStringLiteral("Abbrechen"));
        QTest::qWait(100);
        QCOMPARE(sentTo(path).size(), 1);

        // Confirmed: a new password replaces the old one in the same row, its line still open.
        trigger(passwordMenu(), QStringLiteral("Neu erzeugen"));
        QVERIFY(alert = openAlert(fixture->panel.get(), QStringLiteral("Neues Passwort erzeugen?")));
        answerAlert(alert, QStringLiteral("Neu erzeugen"));
        QTRY_VERIFY_WITH_TIMEOUT(record(0).password != std::optional<QString>(QStringLiteral("Alt-123")) &&
                                     !loading(),
                                 runTimeout);
        QVERIFY(line());

        // A poll while the alert is open: the alert stays and acts on its transfer only.
        trigger(passwordMenu(), QStringLiteral("Passwortschutz entfernen"));
        QPointer<QMessageBox> kept =
            openAlert(fixture->panel.get(), QStringLiteral("Passwortschutz entfernen?"));
        QCoro::waitFor(sent->refresh());
        QVERIFY(kept && kept->isVisible());
        answerAlert(kept, QStringLiteral("Entfernen"));
        QTRY_VERIFY_WITH_TIMEOUT(!record(0).hasPassword, runTimeout);
        QTRY_VERIFY(!line() && !kept);
        QVERIFY(record(rowOf(other)).hasPassword);

        // Without a password the menu only makes one, without asking.
        trigger(passwordMenu(), QStringLiteral("Passwort erzeugen"));
        QVERIFY(!openAlert(fixture->panel.get()));
        QVERIFY(loading());
        QTRY_VERIFY_WITH_TIMEOUT(line() && record(0).hasPassword, runTimeout);

        // Answered after the transfer was deleted elsewhere, its row gone: no crash, nothing asked.
        const QString otherPath = QStringLiteral("/api/outgoing/") + other + QStringLiteral("/password");
        trigger(menu(rowOf(other), QStringLiteral("Passwort verwalten")), QStringLiteral("Neu erzeugen"));
        kept = openAlert(fixture->panel.get(), QStringLiteral("Neues Passwort erzeugen?"));
        QCoro::waitFor(APIService::deleteOutgoing(fixture->connection(), other));
        QCoro::waitFor(sent->refresh());
        QCOMPARE(rowOf(other), -1);
        answerAlert(kept, QStringLiteral("Neu erzeugen"));
        QTest::qWait(200);
        QVERIFY(sentTo(otherPath).isEmpty());
        QVERIFY(!sent->error());
    }

    void renameDialogRules() {
        const QString code = server().seedTransfer({{QStringLiteral("Bericht.final.pdf"), "b"}});
        QCoro::waitFor(sent->refresh());
        const QString path = QStringLiteral("/api/outgoing/") + code + QStringLiteral("/files");
        QWidget panel;
        RenameDialog dialog(code, QStringLiteral("Bericht.final.pdf"), sent, operations, &panel);
        dialog.show();
        auto* field = dialog.findChild<QLineEdit*>();
        auto* save = child<QPushButton>(&dialog, "saveButton");
        auto* counter = dialog.findChild<QLabel*>(QStringLiteral("counter"));
        QCOMPARE(field->text(), QStringLiteral("Bericht.final"));
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("extension"))->text(), QStringLiteral(".pdf"));
        // The unchanged stem (also with blanks added) or none cannot be saved; counted in user-perceived
        // characters ("ä" written as a + combining diaeresis is one), 60 at most.
        const QString umlaut = QStringLiteral("a\u0308");
        const auto enter = [&](const QString& text, const QString& counted, bool saves) {
            field->setText(text);
            QCOMPARE(counter->text(), counted);
            QCOMPARE(save->isEnabled(), saves);
        };
        enter(QStringLiteral(" Bericht.final  "), QStringLiteral("13 / 60"), false);
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        enter(QStringLiteral("   "), QStringLiteral("0 / 60"), false);
        enter(umlaut.repeated(60), QStringLiteral("60 / 60"), true);
        const QColor withinLimit = counter->palette().color(QPalette::WindowText);
        enter(umlaut.repeated(61), QStringLiteral("61 / 60"), false);
        QVERIFY(counter->palette().color(QPalette::WindowText) != withinLimit);

        // A failure keeps the dialog open with the sent transfers' message, and the text for another try.
        server().failNext(path, 1, 409, "Name bereits vergeben");
        server().delayNext(path, 1, 300);
        field->setText(QStringLiteral("  Bericht \t"));
        QCOMPARE(counter->text(), QStringLiteral("7 / 60"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(save->text(), QStringLiteral("Speichere…"));
        QVERIFY(!save->isEnabled());
        auto* error = dialog.findChild<QLabel*>(QStringLiteral("error"));
        QTRY_VERIFY_WITH_TIMEOUT(error->isVisibleTo(&dialog), runTimeout);
        QCOMPARE(error->text(),
                 QStringLiteral("Umbenennen fehlgeschlagen: Server-Fehler 409: Name bereits vergeben"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(save->text(), QStringLiteral("Speichern"));
        QVERIFY(save->isEnabled());
        QCOMPARE(field->text(), QStringLiteral("  Bericht \t"));

        save->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), runTimeout);
        QCOMPARE(sentTo(path).last(),
                 QStringLiteral(R"(PATCH {"oldName":"Bericht.final.pdf","newName":"Bericht.pdf"})"));

        // A leading dot is no extension: the whole name is the basis and nothing is appended.
        QCOMPARE(RenameDialog::extension(QStringLiteral(".htaccess")), QString());
        QCOMPARE(RenameDialog::extension(QStringLiteral("README")), QString());
    }

    void renameDialogStaysUntilItsTransferIsGone() {
        const QString code = server().seedTransfer({{QStringLiteral("Bericht.pdf"), "b"}});
        showListed();
        const auto renameDialog = [this, code] { return RenameDialog::openFor(fixture->panel.get(), code); };
        // "Umbenennen…" in the row's menu opens the dialog for that transfer, modal to the panel.
        trigger(menu(0), QStringLiteral("Umbenennen…"));
        QVERIFY(renameDialog() && renameDialog()->isVisible() && renameDialog()->isModal());
        QCOMPARE(renameDialog()->basis(), QStringLiteral("Bericht"));
        child<QPushButton>(renameDialog(), "cancelButton")->click();
        QTRY_VERIFY(!renameDialog());
        trigger(menu(0), QStringLiteral("Umbenennen…"));
        const QPointer<RenameDialog> dialog = renameDialog();
        dialog->findChild<QLineEdit*>()->setText(QStringLiteral("Bericht neu"));

        // Refreshes: the dialog and the typing stay, and the row's menu finds it.
        QCoro::waitFor(sent->refresh());
        QCoro::waitFor(sent->refresh());
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->basis(), QStringLiteral("Bericht neu"));
        trigger(menu(0), QStringLiteral("Umbenennen…"));
        QTRY_COMPARE(fixture->panel->findChildren<RenameDialog*>().size(), 1);

        // Deleted on the server: the dialog closes and the send tab says why.
        QCoro::waitFor(APIService::deleteOutgoing(fixture->connection(), code));
        QCoro::waitFor(sent->refresh());
        QTRY_VERIFY(!dialog);
        QCOMPARE(errorLine(), QStringLiteral("Dieser Transfer ist nicht mehr auf dem Server."));
    }
};

QTEST_MAIN(TestSendTab)
#include "tst_sendtab.moc"
