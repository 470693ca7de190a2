#include "KeychainService.h"
#include "RecordingDesktopServices.h"
#include "SettingsField.h"
#include "SettingsView.h"
#include "Style.h"
#include "TestServerFixture.h"
#include "TransferManager.h"
#include "UpdaterBackend.h"
#include "UpdaterManager.h"
#include "UserDefaults.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

namespace {
class CountingBackend : public UpdaterBackend {
public:
    bool canCheck = true;
    int userChecks = 0;

    bool automaticallyChecksForUpdates() const override { return false; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    void setAutomaticallyDownloadsUpdates(bool) override {}
    std::chrono::milliseconds updateCheckInterval() const override { return std::chrono::hours(24); }
    void setUpdateCheckInterval(std::chrono::milliseconds) override {}
    void resetUpdateCycle() override {}
    bool canCheckForUpdates() const override { return canCheck; }
    void checkForUpdatesInBackground() override {}
    void checkForUpdates() override { ++userChecks; }

    void announceCanCheck(bool value) {
        canCheck = value;
        Q_EMIT canCheckForUpdatesChanged(value);
    }
};

template <typename T> T* child(QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}
} // namespace

// The settings page on a real manager, the bundled server and the in-memory secret store.
class TestSettings : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<TestServerFixture> fixture;
    RecordingDesktopServices desktop;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<TransferManager> manager;
    CountingBackend* backend = nullptr;
    std::unique_ptr<UpdaterManager> updater;
    std::unique_ptr<QWidget> window;
    SettingsView* page = nullptr;

    TransferServer& server() { return fixture->server(); }
    QLineEdit* urlField() { return child<SettingsField>(page, "serverURLField")->lineEdit(); }
    QLineEdit* keyField() { return child<SettingsField>(page, "apiKeyField")->lineEdit(); }
    QPushButton* button(const char* name) { return child<QPushButton>(page, name); }
    QLabel* result() { return child<QLabel>(page, "testResult"); }
    bool shown(QWidget* widget) { return widget->isVisibleTo(window.get()); }
    bool isGreen(QLabel* label) { return label->styleSheet().contains(Style::css(Style::green())); }
    bool isRed(QLabel* label) { return label->styleSheet().contains(Style::css(Style::red())); }
    std::optional<KeychainService::Credentials> stored() {
        return KeychainService::loadCredentials(fixture->store());
    }

    // As the panel does: the page appears anew.
    void reopen() {
        page->hide();
        page->show();
    }
    void enter(QLineEdit* field, const QString& text) {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }

private Q_SLOTS:
    void init() {
        scratch = std::make_unique<QTemporaryDir>();
        fixture = std::make_unique<TestServerFixture>();
        desktop = RecordingDesktopServices();
        defaults = std::make_unique<UserDefaults>(scratch->filePath(QStringLiteral("settings.ini")));
        TransferManager::Environment env;
        env.historyDirectory = scratch->path();
        env.secretStore = &fixture->store();
        env.desktop = &desktop;
        env.defaults = defaults.get();
        env.firstPollDelay = env.pollInterval = std::chrono::hours(1);
        manager = std::make_unique<TransferManager>(env);
        manager->setShowSettings(true);
        auto owned = std::make_unique<CountingBackend>();
        backend = owned.get();
        updater =
            std::make_unique<UpdaterManager>(UpdaterManager::Environment{std::move(owned), defaults.get()});

        window = std::make_unique<QWidget>();
        window->resize(400, 640);
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        page = new SettingsView(manager.get(), updater.get(), &desktop, defaults.get());
        layout->addWidget(page);
    }

    void cleanup() {
        window.reset();
        updater.reset();
        manager.reset();
        fixture.reset();
    }

    void nothingStoredShowsTheDefaults() {
        fixture->store().items.clear();
        window->show();
        QCOMPARE(urlField()->text(), QStringLiteral(ZANVOLT_DEFAULT_SERVER_URL));
        QCOMPARE(urlField()->placeholderText(), QStringLiteral(ZANVOLT_DEFAULT_SERVER_URL));
        QVERIFY(keyField()->text().isEmpty());
        QCOMPARE(keyField()->placeholderText(), QStringLiteral("64-Zeichen Hex-Key"));
        QCOMPARE(keyField()->echoMode(), QLineEdit::Password);
        QVERIFY(!button("testButton")->isEnabled());
        QVERIFY(!button("saveButton")->isEnabled());
        QVERIFY(child<QCheckBox>(page, "autoCopyLinkSwitch")->isChecked());
        QVERIFY(desktop.loginItemCalls.isEmpty());

        QTest::keyClicks(keyField(), QStringLiteral("abc"));
        QVERIFY(button("testButton")->isEnabled());
        QVERIFY(button("saveButton")->isEnabled());
        enter(urlField(), QString());
        QVERIFY(!button("testButton")->isEnabled());
        QVERIFY(!button("saveButton")->isEnabled());

        // Stored credentials with an empty URL keep the default and still fill in the key.
        fixture->storeCredentials(QString(), QStringLiteral("k3y"));
        reopen();
        QCOMPARE(urlField()->text(), QStringLiteral(ZANVOLT_DEFAULT_SERVER_URL));
        QCOMPARE(keyField()->text(), QStringLiteral("k3y"));

        // The link switch is stored at once.
        QTest::mouseClick(child<QCheckBox>(page, "autoCopyLinkSwitch"), Qt::LeftButton);
        QVERIFY(!UserDefaults(scratch->filePath(QStringLiteral("settings.ini"))).autoCopyLink());
    }

    void successfulTestCountsTheUploads() {
        for (const QString& name : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")})
            server().seedIncoming(name, {{QStringLiteral("x.pdf"), "x"}});
        fixture->store().items.clear();
        window->show();
        enter(urlField(), server().baseURL());
        QTest::keyClicks(keyField(), server().apiKey());

        server().delayNext(QStringLiteral("/api/incoming"), 1, 300);
        QTest::mouseClick(button("testButton"), Qt::LeftButton);
        QVERIFY(page->isTesting());
        QVERIFY(shown(child<QWidget>(page, "testingRow")));
        QVERIFY(!button("testButton")->isEnabled());
        QVERIFY(button("saveButton")->isEnabled());
        // Saved before the server is asked.
        QCOMPARE(stored(), (KeychainService::Credentials{server().baseURL(), server().apiKey()}));

        QTRY_COMPARE(result()->text(), QStringLiteral("Verbindung erfolgreich! (3 Eingänge)"));
        QVERIFY(isGreen(result()));
        QVERIFY(!shown(child<QWidget>(page, "testingRow")));
        QVERIFY(manager->showSettings());

        // Another server without uploads: the entered pair is what counts.
        TransferServer empty;
        QVERIFY(empty.start());
        enter(urlField(), empty.baseURL());
        enter(keyField(), empty.apiKey());
        QTest::mouseClick(button("testButton"), Qt::LeftButton);
        QTRY_COMPARE(result()->text(), QStringLiteral("Verbindung erfolgreich! (0 Eingänge)"));
        QCOMPARE(stored()->serverURL, empty.baseURL());

        // The result line belongs to this appearance of the page.
        reopen();
        QVERIFY(!shown(result()));
    }

    void failedTestKeepsTheCredentials() {
        window->show();
        enter(urlField(), QStringLiteral("https://127.0.0.1:1"));
        enter(keyField(), QStringLiteral("abc"));
        QTest::mouseClick(button("testButton"), Qt::LeftButton);
        QTRY_VERIFY(!page->isTesting());
        QVERIFY(result()->text().startsWith(QStringLiteral("Fehler: ")));
        QVERIFY(isRed(result()));
        QCOMPARE(stored(), (KeychainService::Credentials{QStringLiteral("https://127.0.0.1:1"),
                                                         QStringLiteral("abc")}));

        // An error answer of a reachable server, too.
        enter(urlField(), server().baseURL());
        server().failNext(QStringLiteral("/api/incoming"), 1, 401, "Ungültiger Schlüssel");
        QTest::mouseClick(button("testButton"), Qt::LeftButton);
        QTRY_COMPARE(result()->text(), QStringLiteral("Fehler: Server-Fehler 401: Ungültiger Schlüssel"));
        QVERIFY(isRed(result()));
    }

    void loginItemFollowsTheSwitch() {
        desktop.loginItemEnabled = true;
        window->show();
        // An enabled login item is registered once more on each appearance.
        QVERIFY(child<QCheckBox>(page, "launchAtLoginSwitch")->isChecked());
        QCOMPARE(desktop.loginItemCalls, QStringList{QStringLiteral("register")});
        QTest::mouseClick(child<QCheckBox>(page, "launchAtLoginSwitch"), Qt::LeftButton);
        QCOMPARE(desktop.loginItemCalls, QStringList({"register", "unregister"}));
        QVERIFY(!desktop.loginItemEnabled);

        desktop.loginItemCalls.clear();
        desktop.failLoginItemWith = QStringLiteral("Autostart-Ordner nicht beschreibbar");
        QTest::mouseClick(child<QCheckBox>(page, "launchAtLoginSwitch"), Qt::LeftButton);
        QCOMPARE(desktop.loginItemCalls, QStringList{QStringLiteral("register")});
        QVERIFY(!child<QCheckBox>(page, "launchAtLoginSwitch")->isChecked());
        QCOMPARE(result()->text(), QStringLiteral("Autostart-Fehler: Autostart-Ordner nicht beschreibbar"));
        QVERIFY(isRed(result()));
    }

    void cancelAndSave() {
        const KeychainService::Credentials original{server().baseURL(), server().apiKey()};
        window->show();
        QCOMPARE(urlField()->text(), original.serverURL);
        QCOMPARE(keyField()->text(), original.apiKey);
        enter(urlField(), QStringLiteral("https://anders.example"));
        enter(keyField(), QStringLiteral("neu"));
        QTest::mouseClick(button("cancelButton"), Qt::LeftButton);
        QVERIFY(!manager->showSettings());
        QCOMPARE(stored(), original);
        reopen();
        QCOMPARE(keyField()->text(), original.apiKey);

        manager->setShowSettings(true);
        fixture->store().failStoresWith = -25299;
        enter(keyField(), QStringLiteral("neu"));
        QTest::mouseClick(button("saveButton"), Qt::LeftButton);
        QCOMPARE(result()->text(), QStringLiteral("Speichern fehlgeschlagen: Keychain-Fehler: -25299"));
        QVERIFY(isRed(result()));
        QVERIFY(manager->showSettings());

        fixture->store().failStoresWith = 0;
        QTest::mouseClick(button("saveButton"), Qt::LeftButton);
        QVERIFY(!manager->showSettings());
        QCOMPARE(stored(), (KeychainService::Credentials{original.serverURL, QStringLiteral("neu")}));
    }

    void updateCheckFollowsTheController() {
        window->show();
        QPushButton* check = button("updateButton");
        QVERIFY(check->isEnabled());
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(backend->userChecks, 1);
        backend->announceCanCheck(false);
        QTRY_VERIFY(!check->isEnabled());
        backend->announceCanCheck(true);
        QTRY_VERIFY(check->isEnabled());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
