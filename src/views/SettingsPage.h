#pragma once

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class ServerAccount;
class SettingsField;
class ClientSession;
class UpdaterManager;

// The settings page: server URL and API key (kept in the secret store), the connection test, the
// two switches, saving, and the manual update check. Its inputs are view-local until the user saves
// or tests. Each opening of the page starts over from the stored values, which the secret store
// delivers from its worker; the panel hiding and showing again (the user copying the API key from
// the browser) keeps what was typed.
class SettingsPage : public QWidget {
    Q_OBJECT

public:
    SettingsPage(ClientSession* session, UpdaterManager* updater, QWidget* parent = nullptr);
    ~SettingsPage() override;

    QString testResult() const { return m_testResult; }
    bool isTesting() const { return m_isTesting; }

    // Resets the page to its initial values and starts loading the stored ones.
    void loadExisting();
    // The page was opened: the next time it shows, it loads the stored values.
    void loadWhenShown() { m_loadPending = true; }
    // Saves the entered pair, then lists the customer uploads with it.
    void testServer();
    // Saves on the store's worker; closes the page on success.
    void saveCredentials();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildPage();
    // Green for a success, red for a failure.
    void setTestResult(const QString& text, bool good = false);
    void setTesting(bool value);
    void setSaving(bool value);
    void setStoredValuesShown(bool value);
    void setLaunchAtLogin(bool value);
    void updateButtons();

    ClientSession* m_session;
    ServerAccount* m_account;
    QPointer<UpdaterManager> m_updater;

    QString m_testResult;
    bool m_isTesting = false;
    bool m_loadPending = false;
    bool m_isSaving = false;
    // The fields hold what the secret store answered (or its defaults when nothing is stored).
    bool m_storedValuesShown = false;
    int m_loads = 0;
    // Set while a failed login-item change puts the switch back, which must run nothing.
    bool m_resettingLaunchAtLogin = false;

    SettingsField* m_serverURL;
    SettingsField* m_apiKey;
    QPushButton* m_testButton;
    QCheckBox* m_autoCopyLink;
    QCheckBox* m_launchAtLogin;
    QPushButton* m_saveButton;
    QLabel* m_result;
    QWidget* m_testingRow;
    QPushButton* m_updateButton;
    QLabel* m_updateNote;
};
