#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>
#include <qcoro/qcorotask.h>

class DesktopServices;
class HttpEngine;
class ReceivedUploads;
class SecretStore;
class SentTransferOperations;
class SentTransfers;
class ServerAccount;
class Settings;
class Uploads;

// Everything the panel and the tray icon show, without widgets: the server account, the uploads,
// the sent transfers and the customer uploads, the poll that keeps both lists current, and which
// page and tab the panel shows, so it reopens where the user left it. All state belongs to the
// main thread.
class ClientSession : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showSettings READ showSettings WRITE setShowSettings NOTIFY showSettingsChanged)
    Q_PROPERTY(int selectedTab READ selectedTab WRITE setSelectedTab NOTIFY selectedTabChanged)

public:
    // Collaborators; the defaults are the real ones.
    struct Environment {
        QString historyDirectory;           // empty: ~/.zanvolt
        SecretStore* secretStore = nullptr; // null: the desktop's Secret Service
        DesktopServices* desktop = nullptr; // null: none (NoDesktopServices)
        Settings* settings = nullptr;       // null: the user's settings file
        std::chrono::milliseconds firstPollDelay{5000};
        std::chrono::milliseconds pollInterval{60000};
    };

    // Every request goes through `http`, which must outlive the session.
    ClientSession(HttpEngine& http, Environment environment, QObject* parent = nullptr);
    ~ClientSession() override;

    ServerAccount* account() const { return m_account; }
    Uploads* uploads() const { return m_uploads; }
    SentTransfers* sent() const { return m_sent; }
    SentTransferOperations* sentOperations() const { return m_sentOperations; }
    ReceivedUploads* received() const { return m_received; }

    bool showSettings() const { return m_showSettings; }
    void setShowSettings(bool value);
    int selectedTab() const { return m_selectedTab; }
    void setSelectedTab(int value);

    // Whether something runs that quitting would cut off: an upload (also one still asking the
    // secret store), a queued one, packing, or a download.
    bool isBusy() const;

    // What each poll does: the customer uploads, then the sent transfers, with one read of the
    // secret store for both.
    QCoro::Task<> refreshLists();

Q_SIGNALS:
    void showSettingsChanged();
    void selectedTabChanged();
    // The client may have become idle: nothing of isBusy() runs any more.
    void becameIdle();

private:
    void checkIdle();
    void startPolling(std::chrono::milliseconds firstDelay, std::chrono::milliseconds interval);
    void poll();

    std::unique_ptr<DesktopServices> m_noDesktop; // when the environment names none
    DesktopServices& m_desktop;
    ServerAccount* m_account;
    SentTransfers* m_sent;
    SentTransferOperations* m_sentOperations;
    ReceivedUploads* m_received;
    Uploads* m_uploads;
    QTimer m_firstPoll;
    QTimer m_pollTimer;
    bool m_showSettings = false;
    int m_selectedTab = 0;
};
