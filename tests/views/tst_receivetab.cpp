#include "PanelFixture.h"
#include "RecordedRequests.h"
#include "TemporaryHome.h"
#include "WaitForTask.h"
#include "WidgetLookup.h"
#include "services/APIServiceIncoming.h"
#include "transfers/IncomingPresenter.h"
#include "views/ElidedLabel.h"
#include "views/ReceiveTab.h"
#include "views/RowListView.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QVariantAnimation>

namespace {
const QList<DevServer::SeedFile> fourFiles = {{QStringLiteral("Angebot.pdf"), "angebot"},
                                              {QStringLiteral("Plan.dwg"), "plan"},
                                              {QStringLiteral("Foto.jpg"), QByteArray(2048, 'f')},
                                              {QStringLiteral("Liste.xlsx"), "liste"}};

} // namespace

// The receive tab of the panel on a real session that talks to the bundled server.
class TestReceiveTab : public QObject {
    Q_OBJECT

    TemporaryHome home; // downloads land in its Downloads folder
    std::unique_ptr<PanelFixture> fixture;
    ClientSession* session = nullptr;
    ReceivedUploads* received = nullptr;
    ReceiveTab* tab = nullptr;

    DevServer& server() { return fixture->server(); }
    void refresh() { waitForTask(received->refresh()); }

    int rowCount() { return tab->list()->model()->rowCount(); }
    int rowOf(const QString& token) {
        for (int i = 0; i < rowCount(); ++i)
            if (received->model()->record(i).token == token)
                return i;
        return -1;
    }
    QModelIndex index(const QString& token) { return received->model()->index(rowOf(token)); }
    const IncomingUpload& record(const QString& token) { return received->model()->record(rowOf(token)); }
    bool has(const QString& token, RowStates::Flag flag) {
        return received->model()->states()->has(token, flag);
    }
    QRect button(const QString& token, const QString& action) {
        return tab->list()->buttonRect(index(token), action);
    }
    // A click where the row draws the button that does `action`, once shown whole.
    void click(const QString& token, const QString& action) {
        QTRY_VERIFY(!tab->list()->findChild<QVariantAnimation*>(QStringLiteral("unfoldAnimation")));
        QVERIFY2(button(token, action).isValid(), qPrintable(action));
        QTest::mouseClick(tab->list()->viewport(), Qt::LeftButton, {}, button(token, action).center());
    }
    // The lines the row draws below its main line, as a screen reader reads them.
    QStringList lines(const QString& token) {
        QStringList texts;
        for (const RowPaint::Line& line : tab->list()->lines(index(token)))
            texts << line.text;
        return texts;
    }
    bool shown(QWidget* widget) { return widget->isVisibleTo(fixture->panel.get()); }
    QStringList deleteRequests() { return requestLines(server(), QStringLiteral("/api/incoming/")); }

private Q_SLOTS:
    void init() {
        fixture = std::make_unique<PanelFixture>();
        session = fixture->session;
        received = fixture->received;
        received->model()->states()->setFlashDuration(RowStates::LinkCopied, std::chrono::milliseconds(50));
        session->setSelectedTab(1);
        tab = fixture->panel->receiveTab();
        fixture->panel->show();
    }

    void cleanup() { fixture.reset(); }

    void notConfiguredWheneverNoCredentialsAreStored() {
        server().seedIncoming(QStringLiteral("Müller GmbH"), fourFiles);
        refresh();
        QVERIFY(!shown(child<QWidget>(tab, "notConfigured")));
        QVERIFY(shown(tab->list()));

        // A key removed elsewhere: the list still holds the upload, the tab shows only the hint.
        fixture->storeCredentials(server().baseURL(), QString());
        tab->hide();
        tab->show();
        QTRY_VERIFY(shown(child<QWidget>(tab, "notConfigured")));
        QVERIFY(!shown(tab->list()) && !shown(child<QToolButton>(tab, "refreshButton")));
        QTest::mouseClick(child<QPushButton>(tab, "openSettingsButton"), Qt::LeftButton);
        QVERIFY(session->showSettings());
    }

    void rowsShowHeadlineFactsAndUnfold() {
        const QDateTime sent(QDate(2024, 3, 7), QTime(9, 5));
        const QString none = server().seedIncoming(QStringLiteral("Müller GmbH"), {},
                                                   QStringLiteral("A-1234"), {}, true, sent);
        const QString one =
            server().seedIncoming(QStringLiteral("Schmidt AG"), {{QStringLiteral("Plan.pdf"), "plan"}});
        const QString four = server().seedIncoming(QStringLiteral("Weber KG"), fourFiles);
        const QString withMessage =
            server().seedIncoming(QStringLiteral("Braun OHG"), {{QStringLiteral("Plan.pdf"), "plan"}}, {},
                                  QStringLiteral("Bitte bis Freitag drucken."));
        refresh();

        const auto presenter = [this](const QString& token) { return IncomingPresenter(record(token)); };
        QCOMPARE(presenter(none).headline(), QStringLiteral("Müller GmbH"));
        QCOMPARE(presenter(one).headline(), QStringLiteral("Plan.pdf"));
        QCOMPARE(presenter(four).headline(), QStringLiteral("Angebot.pdf (+3)"));
        QCOMPARE(presenter(none).date(), QStringLiteral("07.03. 09:05"));
        QCOMPARE(presenter(none).order(), QStringLiteral("· Auftrag A-1234"));
        QVERIFY(presenter(one).order().isEmpty() && presenter(one).fileCount().isEmpty());
        QCOMPARE(presenter(four).fileCount(), QStringLiteral("· 4 Dateien"));

        // A click on the line outside the buttons copies the link and shows "Link kopiert" for a while.
        const QRect line = tab->list()->visualRect(index(one));
        QTest::mouseClick(tab->list()->viewport(), Qt::LeftButton, {}, line.topLeft() + QPoint(40, 10));
        QCOMPARE(fixture->desktop.copiedTexts.size(), 1);
        QVERIFY(has(one, RowStates::LinkCopied));
        QTRY_VERIFY(!has(one, RowStates::LinkCopied));

        // Only a message or several files unfold.
        QVERIFY(!button(one, QStringLiteral("Details")).isValid());
        QVERIFY(lines(withMessage).isEmpty());
        click(withMessage, QStringLiteral("Details"));
        QCOMPARE(lines(withMessage), QStringList{QStringLiteral("Bitte bis Freitag drucken.")});
        click(four, QStringLiteral("Details"));
        QCOMPARE(lines(four).size(), 4);
        QVERIFY(lines(four)[2].startsWith(QStringLiteral("Foto.jpg ")));
        QTRY_VERIFY(tab->list()->visualRect(index(four)).height() >
                    tab->list()->visualRect(index(withMessage)).height());
    }

    void downloadChangesTheDot() {
        const QString token = server().seedIncoming(QStringLiteral("Müller GmbH"), fourFiles);
        refresh();
        // The dot sits 16 in, in the middle of the main line.
        const auto dot = [this, token] {
            const QRect row = tab->list()->visualRect(index(token));
            return tab->list()->viewport()->grab().toImage().pixelColor(row.left() + 20,
                                                                        row.top() + (row.height() - 3) / 2);
        };
        const QColor before = dot();

        server().delayNext(QStringLiteral("/api/incoming/*"), 1, 300);
        click(token, QStringLiteral("Dateien herunterladen"));
        QTRY_VERIFY(shown(child<QWidget>(tab, "downloadLine")));
        QVERIFY(child<QLabel>(tab, "downloadText")->text().startsWith(QStringLiteral("Lade ")));
        refresh(); // a poll while the download runs keeps its row
        QTRY_VERIFY(!shown(child<QWidget>(tab, "downloadLine")));
        QVERIFY(button(token, QStringLiteral("Erneut herunterladen")).isValid());
        QVERIFY(dot() != before);
    }

    void deleteAsksAndActsOnTheUploadWhenAnswered() {
        const QString kept = server().seedIncoming(QStringLiteral("Müller GmbH"), fourFiles);
        const QString gone = server().seedIncoming(QStringLiteral("Schulz KG"), fourFiles);
        refresh();
        server().clearRequests();

        click(kept, QStringLiteral("Vom Server löschen"));
        QMessageBox* asked =
            openAlert(fixture->panel.get(), QStringLiteral("Eingang von Müller GmbH löschen?"));
        QVERIFY(asked);
        QCOMPARE(asked->informativeText(),
                 QStringLiteral("Die Dateien werden unwiderruflich vom Server entfernt."));
        QCOMPARE(alertButtons(asked), QStringList({"Löschen", "Abbrechen"}));
        answerAlert(asked, QStringLiteral("Abbrechen"));
        QTest::qWait(100);
        QVERIFY(deleteRequests().isEmpty());

        // Open across a refresh: the answer deletes the upload it was asked about, its row at once.
        click(kept, QStringLiteral("Vom Server löschen"));
        QPointer<QMessageBox> alert =
            openAlert(fixture->panel.get(), QStringLiteral("Eingang von Müller GmbH löschen?"));
        QVERIFY(alert);
        refresh();
        QVERIFY(alert && alert->isVisible());
        answerAlert(alert, QStringLiteral("Löschen"));
        QVERIFY(rowOf(kept) < 0 && rowOf(gone) >= 0);
        QTRY_COMPARE(deleteRequests(), QStringList{QStringLiteral("DELETE /api/incoming/") + kept});

        // The upload vanished from the server meanwhile and its row with it: nothing is deleted.
        click(gone, QStringLiteral("Vom Server löschen"));
        alert = openAlert(fixture->panel.get(), QStringLiteral("Eingang von Schulz KG löschen?"));
        QVERIFY(alert);
        waitForTask(APIService::deleteIncoming(fixture->connection(), gone));
        refresh();
        QCOMPARE(rowOf(gone), -1);
        server().clearRequests();
        answerAlert(alert, QStringLiteral("Löschen"));
        QTest::qWait(200);
        QVERIFY(deleteRequests().isEmpty());
        QVERIFY(!received->error());
        // Nothing left: the empty view takes the list's place.
        QVERIFY(shown(child<QWidget>(tab, "emptyView")));
        QVERIFY(!shown(child<QWidget>(tab, "incomingList")));
    }

    void errorLineCanBeClosed() {
        server().failNext(QStringLiteral("/api/incoming"), 1, 503, "Wartung bis 18 Uhr");
        refresh();
        QVERIFY(shown(child<QWidget>(tab, "errorLine")));
        QCOMPARE(child<ElidedLabel>(tab, "errorText")->fullText(),
                 QStringLiteral("Server-Fehler 503: Wartung bis 18 Uhr"));
        QTest::mouseClick(child<QToolButton>(tab, "closeErrorButton"), Qt::LeftButton);
        QVERIFY(!received->error());
        QVERIFY(!shown(child<QWidget>(tab, "errorLine")));
    }
};

QTEST_MAIN(TestReceiveTab)
#include "tst_receivetab.moc"
