#include "PanelFixture.h"
#include "RecordedRequests.h"
#include "TemporaryHome.h"
#include "WaitForTask.h"
#include "WidgetLookup.h"
#include "services/APIServiceIncoming.h"
#include "views/AlertDialog.h"
#include "views/CopiedOverlay.h"
#include "views/ElidedLabel.h"
#include "views/IncomingRow.h"
#include "views/ReceiveTab.h"
#include "views/RowListView.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {
const QList<TransferServer::SeedFile> fourFiles = {{QStringLiteral("Angebot.pdf"), "angebot"},
                                                   {QStringLiteral("Plan.dwg"), "plan"},
                                                   {QStringLiteral("Foto.jpg"), QByteArray(2048, 'f')},
                                                   {QStringLiteral("Liste.xlsx"), "liste"}};

} // namespace

// The receive tab of the panel on a real session that talks to the bundled server.
class TestReceiveTab : public QObject {
    Q_OBJECT

    TemporaryHome home; // downloads land in its Downloads folder
    std::unique_ptr<PanelFixture> fixture;
    TransferSession* session = nullptr;
    ReceivedUploads* received = nullptr;
    ReceiveTab* tab = nullptr;

    TransferServer& server() { return fixture->server(); }
    void refresh() { waitForTask(received->refresh()); }

    int rowCount() { return tab->list()->model()->rowCount(); }
    // The live row of the upload, made as if the pointer rested on it.
    IncomingRow* row(const QString& token) {
        for (int i = 0; i < rowCount(); ++i)
            if (received->model()->record(i).token == token)
                return tab->row(i);
        return nullptr;
    }
    bool shown(QWidget* widget) { return widget->isVisibleTo(fixture->panel.get()); }
    QStringList deleteRequests() { return requestLines(server(), QStringLiteral("/api/incoming/")); }

private Q_SLOTS:
    void initTestCase() { CopiedOverlay::setDuration(std::chrono::milliseconds(50)); }

    void init() {
        fixture = std::make_unique<PanelFixture>();
        session = fixture->session;
        received = fixture->received;
        session->setSelectedTab(1);
        tab = fixture->panel->receiveTab();
        fixture->panel->show();
    }

    void cleanup() { fixture.reset(); }

    void notConfiguredWheneverNoCredentialsAreStored() {
        server().seedIncoming(QStringLiteral("Müller GmbH"), fourFiles);
        refresh();
        QVERIFY(!shown(child<QWidget>(tab, "notConfigured")));
        QVERIFY(shown(tab->row(0)));

        // A key removed elsewhere: the list still holds the upload, the tab shows only the hint.
        fixture->storeCredentials(server().baseURL(), QString());
        tab->hide();
        tab->show();
        QTRY_VERIFY(shown(child<QWidget>(tab, "notConfigured")));
        QVERIFY(!shown(tab->row(0)));
        QVERIFY(!shown(child<QToolButton>(tab, "refreshButton")));
        QCOMPARE(received->uploads().size(), 1);
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

        QCOMPARE(child<ElidedLabel>(row(none), "headline")->fullText(), QStringLiteral("Müller GmbH"));
        QCOMPARE(child<ElidedLabel>(row(one), "headline")->fullText(), QStringLiteral("Plan.pdf"));
        QCOMPARE(child<ElidedLabel>(row(four), "headline")->fullText(), QStringLiteral("Angebot.pdf (+3)"));

        QCOMPARE(child<QLabel>(row(none), "date")->text(), QStringLiteral("07.03. 09:05"));
        ElidedLabel* order = child<ElidedLabel>(row(none), "order");
        QVERIFY(shown(order));
        QCOMPARE(order->fullText(), QStringLiteral("· Auftrag A-1234"));
        QVERIFY(!shown(child<QLabel>(row(one), "order")));
        QVERIFY(!shown(child<QLabel>(row(one), "fileCount")));
        ElidedLabel* count = child<ElidedLabel>(row(four), "fileCount");
        QVERIFY(shown(count));
        QCOMPARE(count->fullText(), QStringLiteral("· 4 Dateien"));

        // A click on the line outside the buttons copies the link and shows the overlay for a while.
        IncomingRow* clicked = row(one);
        QWidget* mainLine = child<QWidget>(clicked, "mainLine");
        QTest::mouseClick(mainLine, Qt::LeftButton, {}, QPoint(40, mainLine->height() / 2));
        QCOMPARE(fixture->desktop.copiedTexts.size(), 1);
        QVERIFY(fixture->desktop.copiedTexts.first().startsWith(server().baseURL() + QStringLiteral("/")));
        QVERIFY(shown(child<QWidget>(clicked, "copiedOverlay")));
        QTRY_VERIFY(!shown(child<QWidget>(clicked, "copiedOverlay")));

        // Only a message or several files unfold.
        QVERIFY(!shown(child<QToolButton>(row(one), "expandButton")));

        IncomingRow* messageRow = row(withMessage);
        auto* expand = child<QToolButton>(messageRow, "expandButton");
        QVERIFY(shown(expand));
        QVERIFY(!shown(child<QWidget>(messageRow, "details")));
        QTest::mouseClick(expand, Qt::LeftButton);
        QCOMPARE(child<ElidedLabel>(messageRow, "message")->fullText(),
                 QStringLiteral("Bitte bis Freitag drucken."));
        QVERIFY(shown(child<ElidedLabel>(messageRow, "message")));
        QVERIFY(!shown(child<QWidget>(messageRow, "fileRows")));

        IncomingRow* manyRow = row(four);
        QTest::mouseClick(child<QToolButton>(manyRow, "expandButton"), Qt::LeftButton);
        QVERIFY(!shown(child<ElidedLabel>(manyRow, "message")));
        QStringList names;
        for (ElidedLabel* label : child<QWidget>(manyRow, "fileRows")->findChildren<ElidedLabel*>())
            names << label->fullText();
        QCOMPARE(names, QStringList({"Angebot.pdf", "Plan.dwg", "Foto.jpg", "Liste.xlsx"}));

        // A refresh that brings a new upload keeps the unfolded rows, away from the pointer, and their
        // states; a row with nothing open is painted again.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(tab->list()->viewport(), &leave);
        server().seedIncoming(QStringLiteral("Neu GmbH"), fourFiles);
        refresh();
        QCOMPARE(rowCount(), 5);
        QCOMPARE(tab->list()->liveCount(), 2);
        QCOMPARE(row(withMessage), messageRow);
        QCOMPARE(row(four), manyRow);
        QVERIFY(shown(child<QWidget>(messageRow, "details")));
    }

    void downloadChangesTheDot() {
        const QString token = server().seedIncoming(QStringLiteral("Müller GmbH"), fourFiles);
        refresh();
        IncomingRow* fresh = row(token);
        auto* download = child<QToolButton>(fresh, "downloadButton");
        QCOMPARE(download->toolTip(), QStringLiteral("Dateien herunterladen"));
        QLabel* dot = child<QLabel>(fresh, "statusDot");
        const QColor before = dot->grab().toImage().pixelColor(4, 4);

        server().delayNext(QStringLiteral("/api/incoming/*"), 1, 300);
        QTest::mouseClick(download, Qt::LeftButton);
        QTRY_VERIFY(shown(child<QWidget>(tab, "downloadLine")));
        QVERIFY(child<QLabel>(tab, "downloadText")->text().startsWith(QStringLiteral("Lade ")));
        refresh(); // a poll while the download runs keeps its row
        QTRY_VERIFY(!shown(child<QWidget>(tab, "downloadLine")));
        QVERIFY(fresh->upload().isDownloaded);

        QCOMPARE(row(token), fresh);
        QCOMPARE(download->toolTip(), QStringLiteral("Erneut herunterladen"));
        QVERIFY(dot->grab().toImage().pixelColor(4, 4) != before);
    }

    void deleteAsksAndActsOnTheUploadWhenAnswered() {
        const QString kept = server().seedIncoming(QStringLiteral("Müller GmbH"), fourFiles);
        const QString gone = server().seedIncoming(QStringLiteral("Schulz KG"), fourFiles);
        refresh();
        server().clearRequests();

        AlertDialog::setNextAnswer(1);
        QTest::mouseClick(child<QToolButton>(row(kept), "deleteButton"), Qt::LeftButton);
        const auto asked = AlertDialog::lastShown();
        QCOMPARE(asked.value().message, QStringLiteral("Eingang von Müller GmbH löschen?"));
        QCOMPARE(asked.value().informativeText,
                 QStringLiteral("Die Dateien werden unwiderruflich vom Server entfernt."));
        QCOMPARE(asked.value().buttons, QStringList({"Löschen", "Abbrechen"}));
        QTest::qWait(100);
        QVERIFY(deleteRequests().isEmpty());
        QVERIFY(row(kept));

        // Open across a refresh: the answer deletes the upload it was asked about, its row at once.
        QTest::mouseClick(child<QToolButton>(row(kept), "deleteButton"), Qt::LeftButton);
        QPointer<QMessageBox> alert =
            openAlert(fixture->panel.get(), QStringLiteral("Eingang von Müller GmbH löschen?"));
        QVERIFY(alert);
        refresh();
        QVERIFY(alert && alert->isVisible());
        answerAlert(alert, QStringLiteral("Löschen"));
        QCOMPARE(rowCount(), 1);
        QVERIFY(!row(kept) && row(gone));
        QTRY_COMPARE(deleteRequests(), QStringList{QStringLiteral("DELETE /api/incoming/") + kept});

        // The upload vanished from the server meanwhile and its row with it: nothing is deleted.
        QTest::mouseClick(child<QToolButton>(row(gone), "deleteButton"), Qt::LeftButton);
        alert = openAlert(fixture->panel.get(), QStringLiteral("Eingang von Schulz KG löschen?"));
        QVERIFY(alert);
        waitForTask(APIService::deleteIncoming(fixture->connection(), gone));
        refresh();
        QVERIFY(!row(gone));
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
