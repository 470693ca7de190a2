#pragma once

#include "services/UpdaterBackend.h"
#include "services/UpdaterFeed.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>

class HttpEngine;
class QSaveFile;
class Settings;

// Updates from a signed update feed (see UpdaterFeed). A check reads the feed; a newer version is
// offered in a dialog, downloaded through a network session of its own that verifies certificates,
// checked for its announced length and its Ed25519 signature, and written beside the program file.
// The controller then gets the install request: renaming the new file over the program, starting
// it and quitting. Nothing is installed without a valid signature.
class FeedUpdaterBackend : public UpdaterBackend {
    Q_OBJECT
public:
    struct Options {
        QString feedURL = QStringLiteral(ZANVOLT_UPDATE_FEED_URL);
        QByteArray publicKey = QByteArrayLiteral(ZANVOLT_UPDATE_PUBLIC_KEY); // base64 of the raw 32 bytes
        QString currentVersion = QStringLiteral(ZANVOLT_VERSION);
        QString programFile;          // empty: $APPIMAGE when set, else this executable
        Settings* defaults = nullptr; // null: the user's settings file
        HttpEngine* http = nullptr;   // null: an engine of its own
        // Called with the program file once it was replaced. Null: start the new program as soon as
        // this process has ended, and quit.
        std::function<void(QString)> relaunch;
        // How long after the schedule starts the first background check runs.
        std::chrono::milliseconds firstCheckDelay{60000};
    };

    explicit FeedUpdaterBackend(QObject* parent = nullptr);
    explicit FeedUpdaterBackend(Options options, QObject* parent = nullptr);
    ~FeedUpdaterBackend() override;

    bool checksAutomatically() const override;
    void setChecksAutomatically(bool value) override;
    void setDownloadsAutomatically(bool value) override;
    std::chrono::milliseconds checkInterval() const override { return m_checkInterval; }
    void setCheckInterval(std::chrono::milliseconds interval) override;
    void restartSchedule() override;
    bool canCheckForUpdates() const override;
    QString unavailableReason() const override;
    void checkForUpdatesInBackground() override;
    void checkForUpdates() override;

    // One whole check, from reading the feed to handing over the install request. Never throws;
    // does nothing while another check runs. checkForUpdates* start it without waiting.
    QCoro::Task<> runCheck(bool userInitiated);

    // The file an update replaces, with symbolic links resolved.
    QString programFile() const;
    // False where the package manager owns the program: its file or folder cannot be written.
    bool canReplaceProgramFile() const;

private:
    bool isConfigured() const;
    void setSessionActive(bool active);
    QCoro::Task<> runSession(bool userInitiated, bool* reportFailure);
    void handOver(std::shared_ptr<QSaveFile> staged);
    void installOnQuit();

    Options m_options;
    std::unique_ptr<Settings> m_ownDefaults;
    Settings* m_defaults = nullptr;
    std::unique_ptr<HttpEngine> m_ownHttp;
    HttpEngine* m_http = nullptr;
    std::chrono::milliseconds m_checkInterval{std::chrono::hours(24)};
    QTimer m_firstCheck;
    bool m_sessionActive = false;
    std::shared_ptr<QSaveFile> m_installOnQuit; // a staged update, installed at quit unless already done
};
