#include "EmpfangenTabView.h"
#include "IncomingRowView.h"
#include "PopoverView.h"
#include "RecordingDesktopServices.h"
#include "SettingsField.h"
#include "SettingsView.h"
#include "TestServerFixture.h"
#include "TransferManager.h"
#include "UpdaterBackend.h"
#include "UpdaterManager.h"
#include "UserDefaults.h"
#include "WaitForTask.h"

#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {
class IdleBackend : public UpdaterBackend {
public:
    bool automaticallyChecksForUpdates() const override { return false; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    void setAutomaticallyDownloadsUpdates(bool) override {}
    std::chrono::milliseconds updateCheckInterval() const override { return std::chrono::hours(24); }
    void setUpdateCheckInterval(std::chrono::milliseconds) override {}
    void resetUpdateCycle() override {}
    bool canCheckForUpdates() const override { return true; }
    void checkForUpdatesInBackground() override {}
    void checkForUpdates() override {}
};

const QList<TransferServer::SeedFile> fourFiles = {{QStringLiteral("Angebot Frühjahr 2024.pdf"), "angebot"},
                                                   {QStringLiteral("Plan.dwg"), QByteArray(5000, 'p')},
                                                   {QStringLiteral("Foto.jpg"), QByteArray(2048 * 1024, 'f')},
                                                   {QStringLiteral("Liste.xlsx"), "liste"}};
} // namespace

// Writes PNGs of the receive tab's states and of the settings page to <build>/tests/screenshots for
// review. It checks only that the states it draws were reached.
class TestScreensReceive : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<TestServerFixture> fixture;
    RecordingDesktopServices desktop;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<TransferManager> manager;
    std::unique_ptr<UpdaterManager> updater;
    std::unique_ptr<PopoverView> panel;

    TransferServer& server() { return fixture->server(); }
    EmpfangenTabView* tab() { return panel->receiveTab(); }

    void save(const QString& name) {
        // Labels that shorten their text ask for a second layout pass.
        QTest::qWait(50);
        const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(panel->grab().save(dir + u'/' + name + QStringLiteral(".png")));
    }

private Q_SLOTS:
    void initTestCase() {
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME");
        IncomingRowView::setCopiedOverlayDuration(std::chrono::hours(1));
    }

    void init() {
        scratch = std::make_unique<QTemporaryDir>();
        fixture = std::make_unique<TestServerFixture>();
        defaults = std::make_unique<UserDefaults>(scratch->filePath(QStringLiteral("settings.ini")));
        TransferManager::Environment env;
        env.historyDirectory = scratch->path();
        env.secretStore = &fixture->store();
        env.desktop = &desktop;
        env.defaults = defaults.get();
        env.firstPollDelay = env.pollInterval = std::chrono::hours(1);
        manager = std::make_unique<TransferManager>(env);
        updater = std::make_unique<UpdaterManager>(
            UpdaterManager::Environment{std::make_unique<IdleBackend>(), defaults.get()});
        manager->setSelectedTab(1);
        panel = std::make_unique<PopoverView>(manager.get(), &desktop, defaults.get(), updater.get());
        panel->resize(UserDefaults::defaultPopoverWidth, UserDefaults::defaultPopoverHeight);
    }

    void cleanup() {
        panel.reset();
        updater.reset();
        manager.reset();
        fixture.reset();
    }

    void receiveTabStates() {
        QVERIFY(tab());
        fixture->store().items.clear();
        panel->show();
        save(QStringLiteral("receive-not-configured"));

        fixture->storeCredentials(server().baseURL(), server().apiKey());
        tab()->hide();
        tab()->show();
        waitForTask(manager->refreshIncoming());
        save(QStringLiteral("receive-empty"));

        const QString downloaded =
            server().seedIncoming(QStringLiteral("Müller GmbH"), fourFiles, QStringLiteral("A-2024-117"));
        const QString withMessage = server().seedIncoming(
            QStringLiteral("Schmidt & Söhne Druckerei"), {{QStringLiteral("Broschüre_final_v3.pdf"), "b"}},
            {},
            QStringLiteral(
                "Bitte die Broschüre in 500 Stück auf 170 g Papier drucken. Die Farben wie besprochen, "
                "Lieferung bis Freitag an die Filiale in der Hauptstraße. Danke und viele Grüße!"));
        server().seedIncoming(QStringLiteral("Weber KG"), {});
        waitForTask(manager->refreshIncoming());
        QCOMPARE(tab()->rows().size(), 3);
        for (IncomingRowView* row : tab()->rows()) {
            if (row->upload().token == downloaded) {
                QTest::mouseClick(row->findChild<QToolButton*>(QStringLiteral("downloadButton")),
                                  Qt::LeftButton);
                QTRY_VERIFY(row->upload().isDownloaded);
            }
            if (row->upload().token != withMessage)
                QTest::mouseClick(row->findChild<QToolButton*>(QStringLiteral("expandButton")),
                                  Qt::LeftButton);
        }
        for (IncomingRowView* row : tab()->rows())
            if (row->upload().token == withMessage)
                QTest::mouseClick(row->findChild<QToolButton*>(QStringLiteral("expandButton")),
                                  Qt::LeftButton);
        save(QStringLiteral("receive-list"));

        manager->setIncomingError(
            QStringLiteral("Server-Fehler 503: Der Server wird gerade gewartet und ist in "
                           "wenigen Minuten wieder erreichbar. Bitte später erneut versuchen."));
        server().delayNext(QStringLiteral("/api/incoming/*"), 1, 1500);
        tab()->rows().first()->findChild<QToolButton*>(QStringLiteral("downloadButton"))->click();
        QTRY_VERIFY(manager->isDownloading());
        tab()->rows().last()->copyLinkAction();
        QTest::qWait(300); // the overlay fades in
        save(QStringLiteral("receive-download-error-copied"));
        QTRY_VERIFY_WITH_TIMEOUT(!manager->isDownloading(), 10000);
    }

    void settingsStates() {
        fixture->store().items.clear();
        manager->setShowSettings(true);
        panel->show();
        save(QStringLiteral("settings-nothing-stored"));

        server().seedIncoming(QStringLiteral("Müller GmbH"), fourFiles);
        SettingsView* page = panel->settingsPage();
        QVERIFY(page);
        auto* url = page->findChild<SettingsField*>(QStringLiteral("serverURLField"))->lineEdit();
        auto* key = page->findChild<SettingsField*>(QStringLiteral("apiKeyField"))->lineEdit();
        url->setText(server().baseURL());
        key->setText(server().apiKey());
        server().delayNext(QStringLiteral("/api/incoming"), 1, 1000);
        page->findChild<QPushButton*>(QStringLiteral("testButton"))->click();
        QVERIFY(page->isTesting());
        save(QStringLiteral("settings-testing"));
        QTRY_VERIFY(!page->isTesting());
        save(QStringLiteral("settings-test-succeeded"));

        url->setText(QStringLiteral("https://127.0.0.1:1"));
        page->findChild<QPushButton*>(QStringLiteral("testButton"))->click();
        QTRY_VERIFY(!page->isTesting());
        save(QStringLiteral("settings-test-failed"));
    }
};

QTEST_MAIN(TestScreensReceive)
#include "tst_screens_receive.moc"
