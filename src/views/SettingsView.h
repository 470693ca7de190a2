#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

class DesktopServices;
class QCheckBox;
class QLabel;
class QPushButton;
class SettingsField;
class TransferManager;
class UpdaterManager;
class UserDefaults;

// The settings page: server URL and API key (kept in the secret store), the connection test, the
// two switches, saving, and the manual update check. Its inputs are view-local until the user saves
// or tests; every appearance starts over from the stored values.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    SettingsView(TransferManager* manager, UpdaterManager* updater, DesktopServices* desktop,
                 UserDefaults* defaults, QWidget* parent = nullptr);
    ~SettingsView() override;

    // The company's server, fixed at build time.
    static QString defaultServerURL();

    QString testResult() const { return m_testResult; }
    bool isTesting() const { return m_isTesting; }

    // Resets the page to its initial values and loads the stored ones; runs on every appearance.
    void loadExisting();
    // Saves the entered pair, then lists the customer uploads with it.
    void testServer();
    // Closes the page on success.
    void saveCredentials();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildPage();
    void setTestResult(const QString& text);
    void setTesting(bool value);
    void setLaunchAtLogin(bool value);
    void updateButtons();

    QPointer<TransferManager> m_manager;
    QPointer<UpdaterManager> m_updater;
    DesktopServices* m_desktop;
    std::unique_ptr<UserDefaults> m_ownDefaults;
    UserDefaults* m_defaults;

    QString m_testResult;
    bool m_isTesting = false;
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
};
