#include "AlertDialog.h"
#include "BuildInfo.h"
#include "ElidedLabel.h"
#include "EmpfangenTabView.h"
#include "PopoverView.h"
#include "RecordingDesktopServices.h"
#include "SendenTabView.h"
#include "SettingsView.h"
#include "TestServerFixture.h"
#include "TransferManager.h"
#include "TransferRowView.h"
#include "UpdaterBackend.h"
#include "UpdaterManager.h"
#include "UserDefaults.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr int runTimeout = 30000;

template <typename T = QAbstractButton> T* named(QWidget* root, const QString& name) {
    for (T* child : root->findChildren<T*>())
        if (child->accessibleName() == name && child->isVisibleTo(root->window()))
            return child;
    return nullptr;
}

int requestCount(TransferServer& server, const QString& method, const QString& path) {
    int count = 0;
    for (const auto& request : server.requests())
        count += request.method == method && request.path == path;
    return count;
}
} // namespace

// The panel frame and the send tab on a real manager talking to the bundled server.
class TestSendTab : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TestServerFixture> fixture;
    std::unique_ptr<UserDefaults> defaults;
    RecordingDesktopServices desktop;
    std::unique_ptr<TransferManager> manager;
    std::unique_ptr<SendenTabView> tab;

    TransferServer& server() { return fixture->server(); }

    QUrl writeFile(const QString& name, const QByteArray& content) {
        QFile file(dir->filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(name));
        file.write(content);
        return QUrl::fromLocalFile(file.fileName());
    }

    void showTab() {
        tab = std::make_unique<SendenTabView>(manager.get(), &desktop);
        tab->resize(380, 480);
        tab->show();
    }

    bool shows(const QString& objectName) {
        QWidget* widget = tab->findChild<QWidget*>(objectName);
        return widget && widget->isVisibleTo(tab.get());
    }

    QString label(const QString& objectName) { return tab->findChild<QLabel*>(objectName)->text(); }

private Q_SLOTS:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        fixture = std::make_unique<TestServerFixture>();
        fixture->server().setRecordBodies(true);
        defaults = std::make_unique<UserDefaults>(dir->filePath(QStringLiteral("settings.ini")));
        desktop = RecordingDesktopServices();
        TransferManager::Environment env;
        env.historyDirectory = dir->filePath(QStringLiteral("history"));
        env.secretStore = &fixture->store();
        env.desktop = &desktop;
        env.defaults = defaults.get();
        env.firstPollDelay = env.pollInterval = std::chrono::hours(1);
        // Without credentials the constructor's refresh ends at once instead of racing the test's own.
        fixture->storeCredentials(QString(), QString());
        manager = std::make_unique<TransferManager>(env);
        fixture->storeCredentials(server().baseURL(), server().apiKey());
        manager->setShowSettings(false);
    }

    void cleanup() {
        tab.reset();
        manager.reset();
        fixture.reset();
    }

    void hintUntilThereIsSomethingToShow() {
        showTab();
        QVERIFY(shows(QStringLiteral("hint")));
        QVERIFY(!shows(QStringLiteral("transferList")));
        QCOMPARE(label(QStringLiteral("hintText")),
                 QStringLiteral("Dateien auf das Menüleisten-Symbol ziehen,\num einen Upload zu starten."));
        QVERIFY(!shows(QStringLiteral("banner")) && !shows(QStringLiteral("progressText")) &&
                !shows(QStringLiteral("errorText")));

        // "Aktualisieren" still reloads, and a listed transfer replaces the hint with its row.
        server().seedTransfer({{QStringLiteral("Angebot.pdf"), "pdf"}});
        named(tab.get(), QStringLiteral("Aktualisieren"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(tab->rows().size(), 1, runTimeout);
        QCOMPARE(requestCount(server(), QStringLiteral("GET"), QStringLiteral("/api/outgoing")), 1);
        QVERIFY(!shows(QStringLiteral("hint")));
        QVERIFY(shows(QStringLiteral("transferList")));
        QCOMPARE(tab->rows().first()->transfer().fileName, QStringLiteral("Angebot.pdf"));
    }

    void bannerWithAndWithoutPassword() {
        showTab();
        manager->uploadFiles({writeFile(QStringLiteral("Plan.pdf"), "plan")}, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(manager->justCompleted() && !manager->isUploading(), runTimeout);
        const auto first = *manager->justCompleted();
        QVERIFY(shows(QStringLiteral("banner")));
        QVERIFY(named<QLabel>(tab.get(), QStringLiteral("Upload fertig")));
        QCOMPARE(tab->findChild<ElidedLabel*>(QStringLiteral("bannerFileName"))->fullText(),
                 QStringLiteral("Plan.pdf"));
        QCOMPARE(tab->findChild<ElidedLabel*>(QStringLiteral("bannerLink"))->fullText(), first.downloadURL);
        QVERIFY(!shows(QStringLiteral("bannerPassword"))); // three lines only
        QVERIFY(!named(tab.get(), QStringLiteral("Passwort kopieren")));
        desktop.copiedTexts.clear();
        named(tab.get(), QStringLiteral("Kopieren"))->click();
        QCOMPARE(desktop.copiedTexts, QStringList{first.downloadURL});

        manager->uploadFiles({writeFile(QStringLiteral("Vertrag.pdf"), "vertrag")},
                             QStringLiteral("Geheim-42"), false);
        QTRY_VERIFY_WITH_TIMEOUT(manager->justCompleted() && manager->justCompleted()->id != first.id &&
                                     !manager->isUploading(),
                                 runTimeout);
        QVERIFY(shows(QStringLiteral("bannerPassword")));
        QCOMPARE(label(QStringLiteral("bannerPassword")), QStringLiteral("Geheim-42"));
        desktop.copiedTexts.clear();
        named(tab.get(), QStringLiteral("Passwort kopieren"))->click();
        named(tab.get(), QStringLiteral("Kopieren"))->click();
        QCOMPARE(desktop.copiedTexts,
                 (QStringList{QStringLiteral("Geheim-42"), manager->justCompleted()->downloadURL}));

        named(tab.get(), QStringLiteral("Schließen"))->click();
        QVERIFY(!manager->justCompleted());
        QVERIFY(!shows(QStringLiteral("banner")));
        QCOMPARE(tab->rows().size(), 2); // the list, not the hint
        QVERIFY(shows(QStringLiteral("transferList")));
    }

    void progressQueueAndCancel() {
        showTab();
        // Every completion waits, so the three uploads queue up behind each other.
        server().delayNext(QStringLiteral("/api/upload-complete"), 3, 1500);
        for (const char* name : {"eins.txt", "zwei.txt", "drei.txt"})
            manager->uploadFiles({writeFile(QString::fromLatin1(name), name)}, std::nullopt, false);

        // An empty list during an upload is shown as the (empty) list, never as the hint.
        QVERIFY(manager->transfers().isEmpty());
        QVERIFY(shows(QStringLiteral("transferList")));
        QVERIFY(!shows(QStringLiteral("hint")));
        QVERIFY(shows(QStringLiteral("progressText")));
        QCOMPARE(label(QStringLiteral("queueLine")), QStringLiteral("2 weitere Uploads in Warteschlange"));

        // Progress reports redraw the progress block only; rows stay the same widgets.
        QList<TransferRowView*> rowsAtReport;
        int rebuiltOnReport = 0;
        connect(manager.get(), &TransferManager::uploadProgressChanged, tab.get(), [&] {
            rebuiltOnReport += !rowsAtReport.isEmpty() && tab->rows() != rowsAtReport;
            rowsAtReport = tab->rows();
        });
        connect(manager.get(), &TransferManager::transfersChanged, tab.get(), [&] { rowsAtReport.clear(); });

        QTRY_COMPARE_WITH_TIMEOUT(manager->queueCount(), 1, runTimeout);
        QCOMPARE(label(QStringLiteral("queueLine")), QStringLiteral("1 weiterer Upload in Warteschlange"));
        QTRY_COMPARE_WITH_TIMEOUT(manager->queueCount(), 0, runTimeout);
        QVERIFY(manager->isUploading());
        QVERIFY(!shows(QStringLiteral("queueLine")));
        QVERIFY(shows(QStringLiteral("progressText")));
        QCOMPARE(tab->findChild<QProgressBar*>()->value(), qRound(manager->uploadPercent() * 1000));
        QCOMPARE(label(QStringLiteral("progressText")), manager->uploadProgress());

        named(tab.get(), QStringLiteral("Upload abbrechen"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!manager->isUploading(), runTimeout);
        QVERIFY(!shows(QStringLiteral("progressText")));
        QVERIFY(shows(QStringLiteral("errorText")));
        QCOMPARE(tab->findChild<ElidedLabel*>(QStringLiteral("errorText"))->text(),
                 QStringLiteral("Upload abgebrochen"));
        QCOMPARE(rebuiltOnReport, 0);
        QCOMPARE(tab->rows().size(), 2);
    }

    void errorShowsTwoLines() {
        const QString code = server().seedTransfer({{QStringLiteral("a.txt"), "a"}}, QStringLiteral("pw"));
        server().failNext(QStringLiteral("/api/outgoing/") + code + QStringLiteral("/password"), 1, 500,
                          "Zeile eins\nZeile zwei\nZeile drei");
        showTab();
        tab->resize(700, 480);
        QVERIFY(!QCoro::waitFor(manager->revealPassword(code)));
        QTest::qWait(0);
        auto* error = tab->findChild<ElidedLabel*>(QStringLiteral("errorText"));
        QVERIFY(error->isVisibleTo(tab.get()));
        QCOMPARE(error->fullText(), QStringLiteral("Passwort konnte nicht geladen werden: Server-Fehler 500: "
                                                   "Zeile eins\nZeile zwei\nZeile drei"));
        QCOMPARE(error->text(), QStringLiteral("Passwort konnte nicht geladen werden: Server-Fehler 500: "
                                               "Zeile eins\nZeile zwei\u2026"));
        QVERIFY(error->height() < 3 * error->fontMetrics().lineSpacing());

        // A long single line that wraps is held to two lines as well.
        tab->resize(320, 480);
        QTest::qWait(0);
        const QStringList shown = error->text().split(QLatin1Char('\n'));
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown.last().endsWith(QChar(0x2026)));
        QVERIFY(!error->text().contains(QStringLiteral("drei")));
    }

    void refreshRebuildsRowsButInPlaceChangesKeepThem() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString first =
            server().seedTransfer({{QStringLiteral("neu.pdf"), "n"}}, QStringLiteral("Erstes-1"), now);
        server().seedTransfer({{QStringLiteral("alt.pdf"), "a"}}, {}, now.addDays(-1));
        showTab();
        QCoro::waitFor(manager->refreshOutgoing());
        QCOMPARE(tab->rows().size(), 2);
        TransferRowView* row = tab->rows().first();
        QCOMPARE(row->transfer().code, first);
        row->revealPassword();
        QTRY_VERIFY_WITH_TIMEOUT(row->passwordVisible() && !row->isLoadingPassword(), runTimeout);
        QVERIFY(row->findChild<QWidget*>(QStringLiteral("passwordLine"))->isVisibleTo(tab.get()));

        // The other row gets a password in place: nobody is rebuilt, the open line stays.
        TransferRowView* other = tab->rows().last();
        AlertDialog::setNextAnswer(0);
        other->generatePassword();
        QTRY_VERIFY_WITH_TIMEOUT(other->transfer().hasPassword && !other->isLoadingPassword(), runTimeout);
        QCOMPARE(tab->rows(), (QList<TransferRowView*>{row, other}));
        QVERIFY(row->passwordVisible());

        // A refresh renews the ids of server items: new rows, states start over, passwords carried over.
        QCoro::waitFor(manager->refreshOutgoing());
        QTest::qWait(0);
        QCOMPARE(tab->rows().size(), 2);
        QVERIFY(!tab->rows().contains(row) && !tab->rows().contains(other));
        QVERIFY(!tab->rows().first()->passwordVisible());
        QCOMPARE(tab->rows().first()->transfer().password,
                 std::optional<QString>(QStringLiteral("Erstes-1")));
        QCOMPARE(tab->findChildren<TransferRowView*>().size(), 2); // the old ones are gone
    }

    void panelFrame() {
        UpdaterManager updater(UpdaterManager::Environment{nullptr, defaults.get()});
        PopoverView panel(manager.get(), &desktop, defaults.get(), &updater);
        panel.resize(380, 560);
        panel.show();
        auto* senden = named(&panel, QStringLiteral("Senden"));
        auto* empfangen = named(&panel, QStringLiteral("Empfangen"));
        QVERIFY(senden && empfangen);
        QVERIFY(senden->isChecked() && !empfangen->isChecked());
        QVERIFY(panel.sendTab()->isVisibleTo(&panel));

        QTest::mouseClick(empfangen, Qt::LeftButton);
        QCOMPARE(manager->selectedTab(), 1);
        QVERIFY(panel.receiveTab()->isVisibleTo(&panel) && !panel.sendTab()->isVisibleTo(&panel));

        manager->setSelectedTab(7);
        QVERIFY(panel.receiveTab()->isVisibleTo(&panel));
        QVERIFY(!senden->isChecked() && !empfangen->isChecked());
        QTest::mouseClick(senden, Qt::LeftButton);
        QCOMPARE(manager->selectedTab(), 0);
        QVERIFY(senden->isChecked() && panel.sendTab()->isVisibleTo(&panel));

        // The gear is the way in and out of the settings; the picker is gone meanwhile.
        auto* gear = named(&panel, QStringLiteral("Einstellungen"));
        QTest::mouseClick(gear, Qt::LeftButton);
        QVERIFY(manager->showSettings());
        QVERIFY(panel.settingsPage()->isVisibleTo(&panel));
        QVERIFY(!senden->isVisibleTo(&panel) && !panel.sendTab()->isVisibleTo(&panel));
        QTest::mouseClick(gear, Qt::LeftButton);
        QVERIFY(!manager->showSettings() && senden->isVisibleTo(&panel));

        QVERIFY(named(&panel, QStringLiteral("Zanvolt beenden")));
        const QString built = QFileInfo(QCoreApplication::applicationFilePath())
                                  .lastModified()
                                  .toString(QStringLiteral("dd.MM.yyyy HH:mm"));
        QCOMPARE(panel.findChild<QLabel*>(QStringLiteral("footerVersion"))->text(),
                 QStringLiteral("v" ZANVOLT_VERSION " \u2022 ") + built);
        QCOMPARE(BuildInfo::displayVersion(QString()), QStringLiteral("?"));
    }
};

QTEST_MAIN(TestSendTab)
#include "tst_sendtab.moc"
