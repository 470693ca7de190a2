#include "PanelFixture.h"
#include "WaitForTask.h"
#include "WidgetLookup.h"
#include "views/ReceiveTab.h"
#include "views/RowListView.h"
#include "views/SendTab.h"

#include <QMessageBox>
#include <QTest>
#include <QToolButton>

namespace {
const QString image = QStringLiteral("<img src=\"file:///usr/share/pixmaps/debian-logo.png\">");
const QString bold = QStringLiteral("<b>fett</b>");
const QString underlined = QStringLiteral("<u>Rechnung</u>.pdf");

QString json(const QString& text) {
    return QString(text).replace(u'"', QStringLiteral("\\\"")); // escapes in `text` stay
}

// Every label that shows one of the texts must show it as written.
QStringList labelsReadAsMarkup(QWidget* root) {
    QStringList found;
    for (const QLabel* label : root->findChildren<QLabel*>())
        if (label->text().contains(u'<') && label->textFormat() != Qt::PlainText)
            found << label->objectName() + QStringLiteral(": ") + label->text();
    return found;
}
} // namespace

// Names, order numbers, messages and file names from customers and the server reach the panel
// as plain text, however hostile.
class TestHostileText : public QObject {
    Q_OBJECT

    std::unique_ptr<PanelFixture> fixture;

private Q_SLOTS:
    void init() {
        fixture = std::make_unique<PanelFixture>();
        fixture->panel->show();
    }
    void cleanup() { fixture.reset(); }

    void serverTextIsNeverMarkup() {
        const QString longName = QStringLiteral("x").repeated(300) + QStringLiteral(".pdf");
        const QString names[] = {underlined,
                                 image,
                                 QStringLiteral("../../etc/passwd"),
                                 QStringLiteral("/abs/pfad.txt"),
                                 QStringLiteral("nul\\u0000und\\u0007steuer\\u001b[31m.txt"),
                                 longName,
                                 QStringLiteral("rechnung\u202Efdp.exe")};
        QString files;
        for (const QString& name : names)
            files += QStringLiteral(R"({"name":"%1","size":-5,"sizeFormatted":"%2"},)")
                         .arg(json(name), json(bold));
        files.chop(1);
        const QByteArray incoming =
            QStringLiteral(R"([{"token":"T1","customerName":"%1","auftragsnummer":"%2","nachricht":"%3",
                "files":[%4],"uploadDate":"2024-05-01T12:00:00Z","isDownloaded":false,
                "totalSize":-1,"totalSizeFormatted":"%2","code":"%2","downloadURL":"%1"}])")
                .arg(json(image), json(bold), json(underlined + QStringLiteral("\n") + image), files)
                .toUtf8();
        fixture->server().failNext(QStringLiteral("/api/incoming"), 1, 200, incoming);
        QString transfers;
        for (const QString& name : names)
            transfers +=
                QStringLiteral(
                    R"({"code":"C%1","files":[{"name":"%2","size":1,"sizeFormatted":"%3"}],"downloadURL":"%3",
                "createdAt":"2024-05-01T12:00:00Z","isDownloaded":false,"hasPassword":true},)")
                    .arg(transfers.size())
                    .arg(json(name), json(image));
        transfers.chop(1);
        fixture->server().failNext(QStringLiteral("/api/outgoing"), 1, 200, ('[' + transfers + ']').toUtf8());

        waitForTask(fixture->received->refresh());
        waitForTask(fixture->sent->refresh());
        QCOMPARE(fixture->panel->sendTab()->list()->model()->rowCount(), int(std::size(names)));
        QCOMPARE(fixture->panel->receiveTab()->list()->model()->rowCount(), 1);

        // The rows are painted as plain text; no label or tooltip of the panel reads markup.
        fixture->session->setSelectedTab(1);
        QTest::qWait(50);
        QCOMPARE(labelsReadAsMarkup(fixture->panel.get()), QStringList());
        for (const QWidget* widget : fixture->panel->findChildren<QWidget*>())
            QVERIFY2(!widget->toolTip().contains(u'<'), qPrintable(widget->toolTip()));

        // Without its bidirectional override the name cannot pass for "rechnungexe.pdf".
        const QString accessible =
            fixture->sent->model()->index(int(std::size(names)) - 1).data(Qt::AccessibleTextRole).toString();
        QVERIFY2(accessible.startsWith(QStringLiteral("rechnungfdp.exe ")), qPrintable(accessible));

        // The "löschen?" question names the customer as written.
        RowListView* uploads = fixture->panel->receiveTab()->list();
        uploads->invoke(uploads->model()->index(0, 0), QStringLiteral("Vom Server löschen"));
        const QString question = QStringLiteral("Eingang von ") + image + QStringLiteral(" löschen?");
        QMessageBox* box = openAlert(fixture->panel->window(), question);
        QVERIFY(box);
        QCOMPARE(labelsReadAsMarkup(box), QStringList());
        box->reject();
    }
};

QTEST_MAIN(TestHostileText)
#include "tst_hostiletext.moc"
