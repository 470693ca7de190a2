#include "PanelFixture.h"
#include "RecordedRequests.h"
#include "TemporaryHome.h"
#include "WidgetLookup.h"
#include "services/APIServiceOutgoing.h"
#include "views/AlertDialog.h"
#include "views/BuildInfo.h"
#include "views/CopiedOverlay.h"
#include "views/ElidedLabel.h"
#include "views/ReceiveTab.h"
#include "views/RenameDialog.h"
#include "views/RowListView.h"
#include "views/SendTab.h"
#include "views/SettingsPage.h"
#include "views/Style.h"
#include "views/TransferRow.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
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

// Pixels of two images of one size that differ visibly (not just in the rounding of a blend).
int differingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return a.width() * a.height();
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            count += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                         std::abs(p.blue() - q.blue()) >
                     48;
        }
    return count;
}
} // namespace

// The panel frame, the send tab, its rows with their password flow, the rename dialog and the glyphs,
// on a real session talking to the bundled server.
class TestSendTab : public QObject {
    Q_OBJECT

    TemporaryHome home; // a download lands in its Downloads folder
    std::unique_ptr<PanelFixture> fixture;
    TransferSession* session = nullptr;
    Uploads* uploads = nullptr;
    SentTransfers* sent = nullptr;
    ReceivedUploads* received = nullptr;
    SendTab* tab = nullptr;

    TransferServer& server() { return fixture->server(); }
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

    // The live row of the transfer, made as if the pointer rested on it.
    TransferRow* rowFor(const QString& code) {
        for (int i = 0; i < rowCount(); ++i)
            if (sent->model()->record(i).code == code)
                return tab->row(i);
        return nullptr;
    }

    // "METHOD body" of every request to the path.
    QStringList sentTo(const QString& path) {
        QStringList seen;
        for (const auto& request : requestsTo(server(), path))
            seen << request.method + u' ' + QString::fromUtf8(request.body);
        return seen;
    }

private Q_SLOTS:
    void initTestCase() {
        CopiedOverlay::setDuration(std::chrono::milliseconds(100));
        TransferRow::setPasswordCopiedDuration(std::chrono::milliseconds(100));
    }

    void init() {
        fixture = std::make_unique<PanelFixture>();
        session = fixture->session;
        uploads = fixture->uploads;
        sent = fixture->sent;
        received = fixture->received;
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
        QCOMPARE(requestLines(server(), QStringLiteral("/api/outgoing")), QStringList{"GET /api/outgoing"});
        QVERIFY(!shows(QStringLiteral("hint")));
        QVERIFY(shows(QStringLiteral("transferList")));
        QCOMPARE(tab->row(0)->transfer().fileName, QStringLiteral("Angebot.pdf"));

        // Deleted at once, without a question; a refusal of the server is said here, not on the other tab.
        server().failNext(QStringLiteral("/api/outgoing/") + sent->transfers()[0].code, 1, 500, "kaputt");
        QTest::mouseClick(child<QToolButton>(tab->row(0), "deleteButton"), Qt::LeftButton);
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
        QVERIFY(!shownNamed(tab, QStringLiteral("Passwort kopieren")));
        fixture->desktop.copiedTexts.clear();
        shownNamed(tab, QStringLiteral("Kopieren"))->click();
        QCOMPARE(fixture->desktop.copiedTexts, QStringList{first.downloadURL});

        uploads->uploadFiles({writeFile(QStringLiteral("Vertrag.pdf"), "vertrag")},
                             QStringLiteral("Geheim-42"), false);
        QTRY_VERIFY_WITH_TIMEOUT(uploads->justCompleted() && uploads->justCompleted()->id != first.id &&
                                     !uploads->isUploading(),
                                 runTimeout);
        QVERIFY(shows(QStringLiteral("bannerPassword")));
        QCOMPARE(label(QStringLiteral("bannerPassword")), QStringLiteral("Geheim-42"));
        fixture->desktop.copiedTexts.clear();
        shownNamed(tab, QStringLiteral("Passwort kopieren"))->click();
        shownNamed(tab, QStringLiteral("Kopieren"))->click();
        QCOMPARE(fixture->desktop.copiedTexts,
                 (QStringList{QStringLiteral("Geheim-42"), uploads->justCompleted()->downloadURL}));

        shownNamed(tab, QStringLiteral("Schließen"))->click();
        QVERIFY(!uploads->justCompleted());
        QVERIFY(!shows(QStringLiteral("banner")));
        QCOMPARE(rowCount(), 2); // the list, not the hint
        QVERIFY(shows(QStringLiteral("transferList")));
    }

    void progressQueueAndCancel() {
        showTab();
        // Every completion waits, so the three uploads queue up behind each other.
        server().delayNext(QStringLiteral("/api/upload-complete"), 3, 1500);
        for (const char* name : {"eins.txt", "zwei.txt", "drei.txt"})
            uploads->uploadFiles({writeFile(QString::fromLatin1(name), name)}, std::nullopt, false);

        // An empty list during an upload is shown as the (empty) list, never as the hint.
        QVERIFY(sent->transfers().isEmpty());
        QVERIFY(shows(QStringLiteral("transferList")));
        QVERIFY(!shows(QStringLiteral("hint")));
        QVERIFY(shows(QStringLiteral("progressText")));
        QCOMPARE(label(QStringLiteral("queueLine")), QStringLiteral("2 weitere Uploads in Warteschlange"));

        // Progress reports redraw the progress block only; the list is never rebuilt.
        QSignalSpy reset(tab->list()->model(), &QAbstractItemModel::modelReset);
        QSignalSpy changed(tab->list()->model(), &QAbstractItemModel::dataChanged);

        QTRY_COMPARE_WITH_TIMEOUT(uploads->queueCount(), 1, runTimeout);
        QCOMPARE(label(QStringLiteral("queueLine")), QStringLiteral("1 weiterer Upload in Warteschlange"));
        QTRY_COMPARE_WITH_TIMEOUT(uploads->queueCount(), 0, runTimeout);
        QVERIFY(uploads->isUploading());
        QVERIFY(!shows(QStringLiteral("queueLine")));
        QVERIFY(shows(QStringLiteral("progressText")));
        QCOMPARE(tab->findChild<QProgressBar*>()->value(), qRound(uploads->progress() * 1000));
        QCOMPARE(label(QStringLiteral("progressText")), uploads->progressText());

        shownNamed(tab, QStringLiteral("Upload abbrechen"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!uploads->isUploading(), runTimeout);
        QVERIFY(!shows(QStringLiteral("progressText")));
        QCOMPARE(errorLine(), QStringLiteral("Upload abgebrochen"));
        QVERIFY(reset.isEmpty() && changed.isEmpty());
        QCOMPARE(rowCount(), 2);
    }

    void errorShowsTwoLines() {
        const QString code = server().seedTransfer({{QStringLiteral("a.txt"), "a"}}, QStringLiteral("pw"));
        server().failNext(QStringLiteral("/api/outgoing/") + code + QStringLiteral("/password"), 1, 500,
                          "Zeile eins\nZeile zwei\nZeile drei");
        showTab();
        fixture->panel->resize(700, 560);
        QVERIFY(!QCoro::waitFor(sent->revealPassword(code)));
        QTest::qWait(0);
        auto* error = tab->findChild<ElidedLabel*>(QStringLiteral("errorText"));
        QVERIFY(error->isVisibleTo(tab));
        QCOMPARE(error->fullText(), QStringLiteral("Passwort konnte nicht geladen werden: Server-Fehler 500: "
                                                   "Zeile eins\nZeile zwei\nZeile drei"));
        QCOMPARE(error->text(), QStringLiteral("Passwort konnte nicht geladen werden: Server-Fehler 500: "
                                               "Zeile eins\nZeile zwei\u2026"));
        QVERIFY(error->height() < 3 * error->fontMetrics().lineSpacing());

        // A long single line that wraps is held to two lines as well.
        fixture->panel->resize(320, 560);
        QTest::qWait(0);
        const QStringList shown = error->text().split(QLatin1Char('\n'));
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown.last().endsWith(QChar(0x2026)));
        QVERIFY(!error->text().contains(QStringLiteral("drei")));
    }

    void refreshKeepsRowsAndWhatIsOpenInThem() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString first =
            server().seedTransfer({{QStringLiteral("neu.pdf"), "n"}, {QStringLiteral("b.txt"), "b"}},
                                  QStringLiteral("Erstes-1"), now);
        server().seedTransfer({{QStringLiteral("alt.pdf"), "a"}}, {}, now.addDays(-1));
        showListed();
        QCOMPARE(rowCount(), 2);
        TransferRow* row = tab->row(0);
        QCOMPARE(row->transfer().code, first);
        row->revealPassword();
        QTRY_VERIFY_WITH_TIMEOUT(row->passwordVisible() && !row->isLoadingPassword(), runTimeout);
        QVERIFY(row->findChild<QWidget*>(QStringLiteral("passwordLine"))->isVisibleTo(tab));
        QTest::mouseClick(child<QToolButton>(row, "expandButton"), Qt::LeftButton);

        // The other row gets a password in place. The first, no longer under the pointer, stays a
        // live row while something is open in it, and the list gives it the height it needs.
        TransferRow* other = tab->row(1);
        AlertDialog::setNextAnswer(0);
        other->generatePassword();
        QTRY_VERIFY_WITH_TIMEOUT(other->transfer().hasPassword && !other->isLoadingPassword(), runTimeout);
        QCOMPARE(tab->list()->rowWidget(0), row);
        QVERIFY(row->passwordVisible() && row->isExpanded());
        QTRY_COMPARE(tab->list()->visualRect(sent->model()->index(0)).height(),
                     row->parentWidget()->sizeHint().height());
        QCOMPARE(row->parentWidget()->geometry(), tab->list()->visualRect(sent->model()->index(0)));
        QVERIFY(tab->list()->visualRect(sent->model()->index(0)).height() >
                tab->list()->visualRect(sent->model()->index(1)).height());

        // A refresh renews the ids of server items, but rows are kept by code: what is open stays open.
        QCoro::waitFor(sent->refresh());
        QCOMPARE(tab->list()->rowWidget(0), row);
        QCOMPARE(tab->list()->rowWidget(1), other);
        QVERIFY(row->passwordVisible() && row->isExpanded());
        QCOMPARE(row->transfer().password, std::optional<QString>(QStringLiteral("Erstes-1")));

        // Folded up and hidden again, away from the pointer: it goes back to being painted.
        child<QToolButton>(row, "hidePasswordButton")->click();
        child<QToolButton>(row, "expandButton")->click();
        const QPointer<TransferRow> folded(row);
        QTRY_VERIFY(!folded);
        QTRY_COMPARE(tab->findChildren<TransferRow*>().size(), tab->list()->liveCount()); // none left behind

        // At the narrowest panel, with a downloaded file, nothing may be pushed out of view.
        QCoro::waitFor(sent->downloadOutgoing(sent->model()->record(1)));
        QCoro::waitFor(sent->refresh());
        QVERIFY(tab->row(1)->transfer().downloadedAt);
        fixture->panel->resize(Settings::minimumPanelWidth, Settings::defaultPanelHeight);
        QTRY_VERIFY(tab->row(1)->parentWidget()->width() <= tab->list()->viewport()->width());
    }

    // A row unfolds in 0.2 s, ease-in-out, to where an instant unfold puts it; at once where the
    // desktop turns animations off.
    void unfoldingMovesTheRowsBelowToTheSamePlace() {
        server().seedTransfer({{QStringLiteral("a.txt"), "a"}, {QStringLiteral("b.txt"), "b"}});
        server().seedTransfer({{QStringLiteral("c.txt"), "c"}}, {},
                              QDateTime::currentDateTimeUtc().addDays(-1));
        showListed();
        RowListView* list = tab->list();
        const QModelIndex below = sent->model()->index(1);
        const QRect folded = list->visualRect(below);
        const auto toggle = [this] { child<QToolButton>(tab->row(0), "expandButton")->click(); };
        NoAnimations still;
        list->setStyle(&still);
        toggle();
        QTRY_VERIFY(list->visualRect(below).top() > folded.top());
        const QRect instant = list->visualRect(below);
        QVERIFY(!list->findChild<QVariantAnimation*>());
        toggle();
        QTRY_COMPARE(list->visualRect(below), folded);

        list->setStyle(nullptr);
        toggle();
        QPointer<QVariantAnimation> animation;
        QTRY_VERIFY((animation = list->findChild<QVariantAnimation*>(QStringLiteral("unfoldAnimation"))));
        QCOMPARE(animation->duration(), 200);
        QCOMPARE(animation->easingCurve().type(), QEasingCurve::InOutQuad);
        QTRY_COMPARE(animation->state(), QAbstractAnimation::Stopped);
        QTRY_COMPARE(list->visualRect(below), instant);
        QCOMPARE(tab->row(0)->parentWidget()->geometry(), list->visualRect(sent->model()->index(0)));
    }

    void paintedRowsLookLikeLiveOnes() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        server().seedTransfer({{QStringLiteral("<b>fett<b> <img src=x>.pdf"), "p"}}, QStringLiteral("pw"),
                              now);
        server().seedTransfer(
            {{QStringLiteral("Ein sehr langer Name, der in der Zeile gekürzt werden muss.pdf"), "z"},
             {QStringLiteral("b.txt"), "b"}},
            {}, now.addDays(-1));
        server().seedIncoming(QStringLiteral("Müller GmbH"), {{QStringLiteral("a.pdf"), "a"}, {"b.png", "b"}},
                              QStringLiteral("A-1234"), QStringLiteral("Hallo"), true);
        server().seedIncoming(QStringLiteral("Schmidt AG"), {});
        showListed();
        QCoro::waitFor(received->refresh());
        for (RowListView* list : {tab->list(), fixture->panel->receiveTab()->list()}) {
            session->setSelectedTab(list == tab->list() ? 0 : 1);
            QTest::qWait(50);
            QCOMPARE(list->model()->rowCount(), 2);
            QCOMPARE(list->liveCount(), 0);
            const QImage painted = list->viewport()->grab().toImage();
            for (int i = 0; i < 2; ++i) {
                list->liveRow(i);
                QTest::qWait(50); // shortened labels take a second layout pass
                const int differing = differingPixels(list->viewport()->grab().toImage(), painted);
                QVERIFY2(differing < 30, qPrintable(QString::number(differing)));
            }
        }
    }

    void panelFrame() {
        PanelView& panel = *fixture->panel;
        panel.show();
        auto* senden = shownNamed(&panel, QStringLiteral("Senden"));
        auto* empfangen = shownNamed(&panel, QStringLiteral("Empfangen"));
        QVERIFY(senden && empfangen);
        QVERIFY(senden->isChecked() && !empfangen->isChecked());
        QVERIFY(panel.sendTab()->isVisibleTo(&panel));

        QTest::mouseClick(empfangen, Qt::LeftButton);
        QCOMPARE(session->selectedTab(), 1);
        QVERIFY(panel.receiveTab()->isVisibleTo(&panel) && !panel.sendTab()->isVisibleTo(&panel));
        // An unknown tab number shows the receive tab with neither button checked.
        session->setSelectedTab(7);
        QVERIFY(panel.receiveTab()->isVisibleTo(&panel));
        QVERIFY(!senden->isChecked() && !empfangen->isChecked());
        QTest::mouseClick(senden, Qt::LeftButton);
        QCOMPARE(session->selectedTab(), 0);
        QVERIFY(senden->isChecked() && panel.sendTab()->isVisibleTo(&panel));

        // The gear is the way in and out of the settings; the picker is gone meanwhile.
        auto* gear = shownNamed(&panel, QStringLiteral("Einstellungen"));
        QTest::mouseClick(gear, Qt::LeftButton);
        QVERIFY(session->showSettings());
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
        item.fileName = QStringLiteral("Unterlagen_05-03-2024.zip");
        item.code = QStringLiteral("K7");
        item.downloadURL = QStringLiteral("https://transfer.example.test/d/K7");
        item.uploadDate = QDateTime(QDate(2024, 3, 5), QTime(14, 7)).toUTC();
        item.originalFileNames = {QStringLiteral("a.pdf"), QStringLiteral("b.docx"), QStringLiteral("c.png")};
        item.downloadedAt = QDateTime(QDate(2024, 3, 6), QTime(9, 5)).toUTC();
        item.hasPassword = true;
        TransferRow row(item, sent);
        row.resize(380, 200);
        row.show();

        QVERIFY(showsLabel(&row, QStringLiteral("05.03.2024 14:07")));
        QVERIFY(showsLabel(&row, QStringLiteral("· 3 Dateien")));
        QVERIFY(showsLabel(&row, QStringLiteral("· Datei heruntergeladen: 06.03.24 - 09:05")));
        QVERIFY(child<QLabel>(&row, "lockIcon")->isVisibleTo(&row));
        QVERIFY(named(&row, QStringLiteral("Passwort verwalten")));
        QMenu* context = row.findChild<QMenu*>(QStringLiteral("contextMenu"));

        // Download and delete, by button or menu, only ask the tab; deleting is never confirmed here.
        QSignalSpy copy(&row, &TransferRow::copyLinkRequested);
        QSignalSpy download(&row, &TransferRow::downloadRequested);
        QSignalSpy remove(&row, &TransferRow::deleteRequested);
        AlertDialog::setNextAnswer(1);
        child<QToolButton>(&row, "downloadButton")->click();
        trigger(context, QStringLiteral("Herunterladen"));
        child<QToolButton>(&row, "deleteButton")->click();
        trigger(context, QStringLiteral("Löschen"));
        QCOMPARE(download.size(), 2);
        QCOMPARE(remove.size(), 2);
        QVERIFY(!AlertDialog::lastShown());

        // The context menu's copy asks without the overlay; a click on the line copies and shows it for
        // a while, once the clipboard took the link.
        trigger(context, QStringLiteral("Link kopieren"));
        QCOMPARE(copy.size(), 1);
        QVERIFY(!row.showCopied());
        const auto clickLine = [&row] {
            QTest::mouseClick(row.findChild<QWidget*>(QStringLiteral("mainLine")), Qt::LeftButton, {},
                              QPoint(60, 10));
        };
        fixture->desktop.refuseCopies = true;
        clickLine();
        QVERIFY(!row.showCopied());
        fixture->desktop.refuseCopies = false;
        clickLine();
        QCOMPARE(fixture->desktop.copiedTexts.last(), item.downloadURL);
        QVERIFY(row.findChild<QWidget*>(QStringLiteral("copiedOverlay"))->isVisible());
        QVERIFY(showsLabel(&row, QStringLiteral("Link kopiert")));
        QTRY_VERIFY(!row.findChild<QWidget*>(QStringLiteral("copiedOverlay"))->isVisible());

        // The unfolded list is 18 points per name, at most ten names high.
        QScrollArea* files = row.findChild<QScrollArea*>();
        QVERIFY(!files->isVisibleTo(&row));
        child<QToolButton>(&row, "expandButton")->click();
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
        QVERIFY(!child<QToolButton>(&row, "expandButton")->isVisibleTo(&row));
        QVERIFY(!files->isVisibleTo(&row));
        QVERIFY(!showsLabel(&row, QStringLiteral("· 15 Dateien")));
        QVERIFY(!child<QLabel>(&row, "lockIcon")->isVisibleTo(&row));
        QVERIFY(named(&row, QStringLiteral("Passwort hinzufügen")));
        QCOMPARE(menuTexts(row.findChild<QMenu*>(QStringLiteral("passwordMenu"))),
                 QStringList{"Passwort erzeugen"});
    }

    void passwordFlow() {
        const QString code =
            server().seedTransfer({{QStringLiteral("Preise.xlsx"), "x"}}, QStringLiteral("Alt-123"));
        const QString path = QStringLiteral("/api/outgoing/") + code + QStringLiteral("/password");
        showListed();
        TransferRow* row = tab->row(0);
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
        QCOMPARE(sentTo(path), QStringList{QStringLiteral("GET ")});

        // Known now: hiding and showing again asks nobody.
        child<QToolButton>(row, "hidePasswordButton")->click();
        QVERIFY(!line->isVisibleTo(row));
        trigger(menu, QStringLiteral("Passwort anzeigen"));
        QVERIFY(line->isVisibleTo(row));
        QCOMPARE(sentTo(path).size(), 1);

        // The menu's copy gives no feedback; the line's copy button does, for a while.
        trigger(menu, QStringLiteral("Passwort kopieren"));
        QCOMPARE(fixture->desktop.copiedTexts, QStringList{QStringLiteral("Alt-123")});
        QVERIFY(!row->passwordCopied());
        child<QToolButton>(row, "copyPasswordButton")->click();
        QCOMPARE(fixture->desktop.copiedTexts.size(), 2);
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
        QCOMPARE(sentTo(path).size(), 1);
        QCOMPARE(row->transfer().password, std::optional<QString>(QStringLiteral("Alt-123")));

        // Confirmed: a new password replaces the old one in the same row, its line still open.
        AlertDialog::setNextAnswer(0);
        trigger(menu, QStringLiteral("Neu erzeugen"));
        QTRY_VERIFY_WITH_TIMEOUT(row->transfer().password !=
                                         std::optional<QString>(QStringLiteral("Alt-123")) &&
                                     !row->isLoadingPassword(),
                                 runTimeout);
        QVERIFY(sentTo(path).last().startsWith(QStringLiteral("PATCH ")));
        QCOMPARE(tab->row(0), row);
        QVERIFY(line->isVisibleTo(row));
        QCOMPARE(row->findChild<QLabel*>(QStringLiteral("password"))->text(), *row->transfer().password);

        AlertDialog::setNextAnswer(0);
        trigger(menu, QStringLiteral("Passwortschutz entfernen"));
        QTRY_VERIFY_WITH_TIMEOUT(!row->transfer().hasPassword, runTimeout);
        QTRY_VERIFY(!line->isVisibleTo(row));

        // Without a password the menu only makes one, without asking.
        const auto asked = AlertDialog::lastShown();
        trigger(menu, QStringLiteral("Passwort erzeugen"));
        QVERIFY(loading->isVisibleTo(row));
        QTRY_VERIFY_WITH_TIMEOUT(line->isVisibleTo(row) && row->transfer().hasPassword, runTimeout);
        QCOMPARE(AlertDialog::lastShown()->message, asked->message);
        QCOMPARE(sentTo(path).size(), 4);
        QCOMPARE(tab->row(0), row);
    }

    void renameDialogRules() {
        const QString code = server().seedTransfer({{QStringLiteral("Bericht.final.pdf"), "b"}});
        QCoro::waitFor(sent->refresh());
        const QString path = QStringLiteral("/api/outgoing/") + code + QStringLiteral("/files");
        QWidget panel;
        RenameDialog dialog(code, QStringLiteral("Bericht.final.pdf"), sent, &panel);
        dialog.show();
        auto* field = dialog.findChild<QLineEdit*>();
        auto* save = child<QPushButton>(&dialog, "saveButton");
        auto* counter = dialog.findChild<QLabel*>(QStringLiteral("counter"));
        QCOMPARE(field->text(), QStringLiteral("Bericht.final"));
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("extension"))->text(), QStringLiteral(".pdf"));
        QCOMPARE(counter->text(), QStringLiteral("13 / 60"));
        // The unchanged stem cannot be saved, not even with Return, also when only blanks were added.
        QVERIFY(!save->isEnabled());
        field->setText(QStringLiteral(" Bericht.final  "));
        QVERIFY(!save->isEnabled());
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        field->setText(QStringLiteral("   "));
        QVERIFY(!save->isEnabled());
        QCOMPARE(counter->text(), QStringLiteral("0 / 60"));

        // Counted in user-perceived characters: "ä" written as a + combining diaeresis is one.
        const QString umlaut = QStringLiteral("a\u0308");
        field->setText(umlaut.repeated(60));
        QCOMPARE(counter->text(), QStringLiteral("60 / 60"));
        QVERIFY(save->isEnabled());
        const QColor withinLimit = counter->palette().color(QPalette::WindowText);
        field->setText(umlaut.repeated(61));
        QCOMPARE(counter->text(), QStringLiteral("61 / 60"));
        QVERIFY(!save->isEnabled());
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
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const QStringList bodies = sentTo(path);
        QCOMPARE(bodies.last(),
                 QStringLiteral(R"(PATCH {"oldName":"Bericht.final.pdf","newName":"Bericht.pdf"})"));
        QCOMPARE(sent->transfers().value(0).fileName, QStringLiteral("Bericht.pdf"));

        // A leading dot is no extension: the whole name is the basis and nothing is appended.
        QCOMPARE(RenameDialog::extension(QStringLiteral(".htaccess")), QString());
        QCOMPARE(RenameDialog::extension(QStringLiteral("README")), QString());
    }

    void passwordAlertsOutliveTheRowsARefreshRebuilds() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString first =
            server().seedTransfer({{QStringLiteral("Preise.xlsx"), "x"}}, QStringLiteral("Alt-1"), now);
        const QString second = server().seedTransfer({{QStringLiteral("Plan.pdf"), "p"}},
                                                     QStringLiteral("Alt-2"), now.addDays(-1));
        const auto passwordPath = [](const QString& code) {
            return QStringLiteral("/api/outgoing/") + code + QStringLiteral("/password");
        };
        showListed();
        const QPointer<TransferRow> row = rowFor(first);
        trigger(row->findChild<QMenu*>(QStringLiteral("passwordMenu")),
                QStringLiteral("Passwortschutz entfernen"));
        QPointer<QMessageBox> alert =
            openAlert(fixture->panel.get(), QStringLiteral("Passwortschutz entfernen?"));
        QVERIFY(alert);
        QVERIFY(alert->isModal());

        // A poll while the alert is open: the alert stays and acts on the transfer's code.
        QCoro::waitFor(sent->refresh());
        QCOMPARE(rowFor(first), row.data());
        QVERIFY(alert && alert->isVisible());
        answerAlert(alert, QStringLiteral("Entfernen"));
        QTRY_VERIFY_WITH_TIMEOUT(!rowFor(first)->transfer().hasPassword, runTimeout);
        QCOMPARE(sentTo(passwordPath(first)).size(), 1);
        QVERIFY(sentTo(passwordPath(first)).first().startsWith(QStringLiteral("PATCH ")));
        QVERIFY(rowFor(second)->transfer().hasPassword);
        QVERIFY(sentTo(passwordPath(second)).isEmpty());
        QTRY_VERIFY(!alert);

        // Answered after the transfer was deleted elsewhere, its row gone: no crash, nothing asked.
        trigger(rowFor(second)->findChild<QMenu*>(QStringLiteral("passwordMenu")),
                QStringLiteral("Neu erzeugen"));
        alert = openAlert(fixture->panel.get(), QStringLiteral("Neues Passwort erzeugen?"));
        QVERIFY(alert);
        QCoro::waitFor(APIService::deleteOutgoing(fixture->connection(), second));
        const QPointer<TransferRow> secondRow = rowFor(second);
        QCoro::waitFor(sent->refresh());
        QVERIFY(!rowFor(second));
        QTRY_VERIFY(!secondRow);
        answerAlert(alert, QStringLiteral("Neu erzeugen"));
        QTest::qWait(200);
        QVERIFY(sentTo(passwordPath(second)).isEmpty());
        QVERIFY(!sent->error());
    }

    void renameDialogStaysUntilItsTransferIsGone() {
        const QString code = server().seedTransfer({{QStringLiteral("Bericht.pdf"), "b"}});
        showListed();
        const QPointer<TransferRow> row = tab->row(0);
        QMenu* menu = row->findChild<QMenu*>(QStringLiteral("contextMenu"));
        // "Umbenennen…" in the row's menu opens the dialog for that transfer, modal to the panel.
        trigger(menu, QStringLiteral("Umbenennen…"));
        QVERIFY(row->renameDialog() && row->renameDialog()->isVisible() && row->renameDialog()->isModal());
        QCOMPARE(row->renameDialog()->basis(), QStringLiteral("Bericht"));
        child<QPushButton>(row->renameDialog(), "cancelButton")->click();
        QTRY_VERIFY(!row->renameDialog());
        trigger(menu, QStringLiteral("Umbenennen…"));
        const QPointer<RenameDialog> dialog = row->renameDialog();
        QCOMPARE(dialog->parentWidget(), static_cast<QWidget*>(fixture->panel.get()));
        dialog->findChild<QLineEdit*>()->setText(QStringLiteral("Bericht neu"));

        // Refreshes, with the row painted again meanwhile: the dialog and the typing stay, and the
        // row made afresh finds it.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(tab->list()->viewport(), &leave);
        QTRY_VERIFY(!row);
        QCoro::waitFor(sent->refresh());
        QCoro::waitFor(sent->refresh());
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->basis(), QStringLiteral("Bericht neu"));
        QCOMPARE(tab->row(0)->renameDialog(), dialog.data());
        trigger(tab->row(0)->findChild<QMenu*>(QStringLiteral("contextMenu")), QStringLiteral("Umbenennen…"));
        QCOMPARE(fixture->panel->findChildren<RenameDialog*>().size(), 1);

        // Deleted on the server: the dialog closes and the send tab says why.
        QCoro::waitFor(APIService::deleteOutgoing(fixture->connection(), code));
        QCoro::waitFor(sent->refresh());
        QTRY_VERIFY(!dialog);
        QCOMPARE(errorLine(), QStringLiteral("Dieser Transfer ist nicht mehr auf dem Server."));
        QVERIFY(sentTo(QStringLiteral("/api/outgoing/") + code + QStringLiteral("/files")).isEmpty());
    }
};

QTEST_MAIN(TestSendTab)
#include "tst_sendtab.moc"
