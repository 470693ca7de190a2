#include "PanelFixture.h"
#include "WidgetLookup.h"
#include "services/KeychainService.h"
#include "views/SettingsField.h"
#include "views/SettingsPage.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The settings page of the panel on a real session, the bundled server and the in-memory secret store.
class TestSettings : public QObject {
    Q_OBJECT

    std::unique_ptr<PanelFixture> fixture;
    ClientSession* session = nullptr;
    SettingsPage* page = nullptr;

    DevServer& server() { return fixture->server(); }
    QLineEdit* urlField() { return child<SettingsField>(page, "serverURLField")->lineEdit(); }
    QLineEdit* keyField() { return child<SettingsField>(page, "apiKeyField")->lineEdit(); }
    QPushButton* button(const char* name) { return child<QPushButton>(page, name); }
    QLabel* result() { return child<QLabel>(page, "testResult"); }
    bool shown(QWidget* widget) { return widget->isVisibleTo(fixture->panel.get()); }
    std::optional<KeychainService::Credentials> stored() {
        return KeychainService::loadCredentials(fixture->store());
    }

    // Shows the panel and waits for the stored values, as the user does before typing.
    void showLoaded() {
        fixture->panel->show();
        QTRY_VERIFY(keyField()->isEnabled());
    }
    // As the user does: leaves the page and opens it again, in the shown panel.
    void reopen() {
        session->setShowSettings(false);
        session->setShowSettings(true);
        showLoaded();
    }
    void enter(QLineEdit* field, const QString& text) {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }

private Q_SLOTS:
    void init() {
        fixture = std::make_unique<PanelFixture>();
        session = fixture->session;
        session->setShowSettings(true);
        page = fixture->panel->settingsPage();
    }

    void cleanup() { fixture.reset(); }

    void aLockedStoreIsSaidNotShownAsEmpty() {
        const int mainThreadCalls = fixture->store().mainThreadCalls();
        int ticks = 0;
        QTimer ticking;
        connect(&ticking, &QTimer::timeout, this, [&] { ++ticks; });
        ticking.start(10);
        // The unlock prompt is open: the page opens at once, its fields disabled, not empty for use.
        fixture->store().hold();
        fixture->panel->show();
        QTRY_VERIFY(ticks >= 10);
        QVERIFY(!urlField()->isEnabled() && !keyField()->isEnabled());
        QVERIFY(!button("saveButton")->isEnabled() && !button("testButton")->isEnabled());
        fixture->store().release();
        QTRY_COMPARE(keyField()->text(), server().apiKey());
        QVERIFY(keyField()->isEnabled() && button("saveButton")->isEnabled());

        // Saving while the store holds: the page stays, nothing freezes, a second click saves nothing.
        enter(keyField(), QStringLiteral("neu"));
        const qsizetype stores = fixture->store().calls.count(QStringLiteral("store credentials"));
        fixture->store().hold();
        QTest::mouseClick(button("saveButton"), Qt::LeftButton);
        QTest::mouseClick(button("saveButton"), Qt::LeftButton);
        QVERIFY(!button("saveButton")->isEnabled());
        ticks = 0;
        QTRY_VERIFY(ticks >= 10);
        QVERIFY(session->showSettings());
        fixture->store().release();
        QTRY_VERIFY(!session->showSettings());
        QCOMPARE(fixture->store().mainThreadCalls(), mainThreadCalls);
        QCOMPARE(stored(), (KeychainService::Credentials{server().baseURL(), QStringLiteral("neu")}));
        QCOMPARE(fixture->store().calls.count(QStringLiteral("store credentials")), stores + 1);

        // Locked for good (the prompt cancelled) or absent: said, and the fields never offered empty.
        fixture->store().failFindsWith = 2;
        session->setShowSettings(true);
        // (The sentence itself: tst_session.)
        QTRY_VERIFY(result()->text().startsWith(QStringLiteral("Der Schlüsselbund ist gesperrt")));
        QVERIFY(!keyField()->isEnabled() && !button("saveButton")->isEnabled());
        fixture->store().failFindsWith = 0;
        reopen();
        QTRY_COMPARE(keyField()->text(), QStringLiteral("neu"));
        QVERIFY(result()->text().isEmpty());
    }

    void nothingStoredShowsTheDefaults() {
        fixture->store().items.clear();
        showLoaded();
        QCOMPARE(urlField()->text(), QStringLiteral(ZANVOLT_DEFAULT_SERVER_URL));
        QVERIFY(keyField()->text().isEmpty());
        QCOMPARE(keyField()->echoMode(), QLineEdit::Password);
        QVERIFY(!button("testButton")->isEnabled() && !button("saveButton")->isEnabled());
        QVERIFY(child<QCheckBox>(page, "autoCopyLinkSwitch")->isChecked());
        QVERIFY(fixture->desktop.loginItemCalls.isEmpty());

        QTest::keyClicks(keyField(), QStringLiteral("abc"));
        QVERIFY(button("testButton")->isEnabled() && button("saveButton")->isEnabled());
        enter(urlField(), QString());
        QVERIFY(!button("testButton")->isEnabled() && !button("saveButton")->isEnabled());

        // Stored credentials with an empty URL keep the default and still fill in the key.
        fixture->storeCredentials(QString(), QStringLiteral("k3y"));
        reopen();
        QCOMPARE(urlField()->text(), QStringLiteral(ZANVOLT_DEFAULT_SERVER_URL));
        QCOMPARE(keyField()->text(), QStringLiteral("k3y"));
        // A key provisioned with a line break (secret-tool) is shown for correcting, with the reason.
        fixture->store().items[{KeychainService::serviceName, KeychainService::credentialsAccount}] =
            KeychainService::Credentials{QString(), QStringLiteral("k3y\r\nX-Injected: ja")}.toJson();
        reopen();
        QCOMPARE(result()->text(), QStringLiteral("Der API-Schlüssel enthält unzulässige Zeichen."));

        // The link switch is stored at once.
        QTest::mouseClick(child<QCheckBox>(page, "autoCopyLinkSwitch"), Qt::LeftButton);
        QVERIFY(!Settings(fixture->dir.filePath(QStringLiteral("settings.ini"))).autoCopyLink());
    }

    void connectionTestSavesFirstAndSaysTheOutcome() {
        for (const QString& name : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")})
            server().seedIncoming(name, {{QStringLiteral("x.pdf"), "x"}});
        fixture->store().items.clear();
        showLoaded();
        enter(urlField(), server().baseURL());
        QTest::keyClicks(keyField(), server().apiKey());

        server().delayNext(QStringLiteral("/api/incoming"), 1, 300);
        QTest::mouseClick(button("testButton"), Qt::LeftButton);
        QVERIFY(shown(child<QWidget>(page, "testingRow")) && !button("testButton")->isEnabled());
        // Saved before the server is asked.
        QTRY_COMPARE(stored(), (KeychainService::Credentials{server().baseURL(), server().apiKey()}));

        QTRY_COMPARE(result()->text(), QStringLiteral("Verbindung erfolgreich! (3 Eingänge)"));
        QVERIFY(!shown(child<QWidget>(page, "testingRow")));
        QVERIFY(session->showSettings());

        // A failed test keeps the entered pair as well and says why.
        enter(keyField(), QStringLiteral("abc"));
        server().failNext(QStringLiteral("/api/incoming"), 1, 401, "Ungültiger Schlüssel");
        QTest::mouseClick(button("testButton"), Qt::LeftButton);
        QTRY_COMPARE(result()->text(), QStringLiteral("Fehler: Server-Fehler 401: Ungültiger Schlüssel"));
        QCOMPARE(stored(), (KeychainService::Credentials{server().baseURL(), QStringLiteral("abc")}));

        // The result line belongs to this appearance of the page.
        reopen();
        QVERIFY(!shown(result()));
    }

    void loginItemFollowsTheSwitch() {
        fixture->desktop.loginItemEnabled = true;
        fixture->panel->show();
        // An enabled login item is registered once more on each appearance.
        QVERIFY(child<QCheckBox>(page, "launchAtLoginSwitch")->isChecked());
        QCOMPARE(fixture->desktop.loginItemCalls, QStringList{QStringLiteral("register")});
        QTest::mouseClick(child<QCheckBox>(page, "launchAtLoginSwitch"), Qt::LeftButton);
        QCOMPARE(fixture->desktop.loginItemCalls, QStringList({"register", "unregister"}));

        fixture->desktop.loginItemCalls.clear();
        fixture->desktop.failLoginItemWith = QStringLiteral("Autostart-Ordner nicht beschreibbar");
        QTest::mouseClick(child<QCheckBox>(page, "launchAtLoginSwitch"), Qt::LeftButton);
        QCOMPARE(fixture->desktop.loginItemCalls, QStringList{QStringLiteral("register")});
        QVERIFY(!child<QCheckBox>(page, "launchAtLoginSwitch")->isChecked());
        QCOMPARE(result()->text(), QStringLiteral("Autostart-Fehler: Autostart-Ordner nicht beschreibbar"));
    }

    void typingSurvivesHidingCancelAndSave() {
        const KeychainService::Credentials original{server().baseURL(), server().apiKey()};
        showLoaded();
        enter(urlField(), QStringLiteral("https://anders.example"));
        enter(keyField(), QStringLiteral("aus-dem-browser"));
        // The user switches to the browser and back: the panel hides and shows again.
        fixture->panel->hide();
        fixture->panel->show();
        QCOMPARE(keyField()->text(), QStringLiteral("aus-dem-browser"));
        QTest::mouseClick(button("cancelButton"), Qt::LeftButton);
        QVERIFY(!session->showSettings());
        QCOMPARE(stored(), original);
        // Opening the page again starts over from what is stored.
        reopen();
        QCOMPARE(keyField()->text(), original.apiKey);

        session->setShowSettings(true);
        fixture->store().failStoresWith = -25299;
        enter(keyField(), QStringLiteral("neu"));
        QTest::mouseClick(button("saveButton"), Qt::LeftButton);
        QTRY_COMPARE(result()->text(), QStringLiteral("Speichern fehlgeschlagen: Keychain-Fehler: -25299"));
        QVERIFY(session->showSettings());

        fixture->store().failStoresWith = 0;
        QTest::mouseClick(button("saveButton"), Qt::LeftButton);
        QTRY_VERIFY(!session->showSettings());
        QCOMPARE(stored(), (KeychainService::Credentials{original.serverURL, QStringLiteral("neu")}));
    }

    void updateCheckFollowsTheController() {
        fixture->panel->show();
        QPushButton* check = button("updateButton");
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(fixture->updaterBackend->userChecks, 1);
        fixture->updaterBackend->announceCanCheck(false);
        QTRY_VERIFY(!check->isEnabled());
        fixture->updaterBackend->announceCanCheck(true);
        QTRY_VERIFY(check->isEnabled());
        QVERIFY(!shown(child<QLabel>(page, "updateNote")));

        // No updates from within the app: the page says why instead of offering a dead button.
        fixture->updaterBackend->reason = QStringLiteral("Keine Update-Quelle eingerichtet.");
        fixture->updaterBackend->announceCanCheck(false);
        QTRY_VERIFY(!shown(check) && shown(child<QLabel>(page, "updateNote")));
        QCOMPARE(child<QLabel>(page, "updateNote")->text(),
                 QStringLiteral("Keine Update-Quelle eingerichtet."));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
