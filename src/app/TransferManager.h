#pragma once

#include "IncomingUpload.h"
#include "TransferHistoryService.h"
#include "TransferItem.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <chrono>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class CancelToken;
class DesktopServices;
class SecretStore;
class UserDefaults;

// The one observable object: everything the panel and the tray icon show, the
// upload queue, the poll and every operation on transfers. All state belongs to
// the main thread; change signals fire only when a value really changes.
class TransferManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<TransferItem> transfers READ transfers NOTIFY transfersChanged)
    Q_PROPERTY(bool isUploading READ isUploading NOTIFY isUploadingChanged)
    Q_PROPERTY(bool isZipping READ isZipping NOTIFY isZippingChanged)
    Q_PROPERTY(QString uploadProgress READ uploadProgress NOTIFY uploadProgressChanged)
    Q_PROPERTY(double uploadPercent READ uploadPercent NOTIFY uploadPercentChanged)
    Q_PROPERTY(bool showSettings READ showSettings WRITE setShowSettings NOTIFY showSettingsChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(int queueCount READ queueCount NOTIFY queueCountChanged)
    Q_PROPERTY(QList<IncomingUpload> incomingUploads READ incomingUploads NOTIFY incomingUploadsChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY isDownloadingChanged)
    Q_PROPERTY(QString downloadProgress READ downloadProgress NOTIFY downloadProgressChanged)
    Q_PROPERTY(std::optional<QString> incomingError READ incomingError WRITE setIncomingError NOTIFY
                   incomingErrorChanged)
    Q_PROPERTY(int selectedTab READ selectedTab WRITE setSelectedTab NOTIFY selectedTabChanged)
    Q_PROPERTY(
        std::optional<JustCompletedTransfer> justCompleted READ justCompleted NOTIFY justCompletedChanged)

public:
    struct QueuedUpload {
        QList<QUrl> urls;
        std::optional<QString> password;
        bool generatePassword = false;
    };

    // The banner data of the last successful upload.
    struct JustCompletedTransfer {
        QUuid id = QUuid::createUuid();
        QString code;
        QString downloadURL;
        QString fileName;
        std::optional<QString> password;
        bool operator==(const JustCompletedTransfer&) const = default;
    };

    // Collaborators; the defaults are the real ones.
    struct Environment {
        QString historyDirectory;           // empty: ~/.zanvolt
        SecretStore* secretStore = nullptr; // null: the process's secret store
        DesktopServices* desktop = nullptr; // null: no clipboard, notifications or file viewer
        UserDefaults* defaults = nullptr;   // null: the user's settings file
        std::chrono::milliseconds firstPollDelay{5000};
        std::chrono::milliseconds pollInterval{60000};
    };

    explicit TransferManager(QObject* parent = nullptr);
    explicit TransferManager(Environment environment, QObject* parent = nullptr);
    ~TransferManager() override;

    QList<TransferItem> transfers() const { return m_transfers; }
    bool isUploading() const { return m_isUploading; }
    bool isZipping() const { return m_isZipping; }
    QString uploadProgress() const { return m_uploadProgress; }
    double uploadPercent() const { return m_uploadPercent; }
    bool showSettings() const { return m_showSettings; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    int queueCount() const { return m_queueCount; }
    QList<IncomingUpload> incomingUploads() const { return m_incomingUploads; }
    bool isDownloading() const { return m_isDownloading; }
    QString downloadProgress() const { return m_downloadProgress; }
    std::optional<QString> incomingError() const { return m_incomingError; }
    int selectedTab() const { return m_selectedTab; }
    std::optional<JustCompletedTransfer> justCompleted() const { return m_justCompleted; }

    void setShowSettings(bool value);
    void setIncomingError(const std::optional<QString>& value);
    void setSelectedTab(int value);

    // Whether a server URL and an API key are stored, read afresh on every call.
    bool hasServerConfig() const;

    // Uploads: files handed over by the tray or the command line.
    void uploadFiles(const QList<QUrl>& urls, const std::optional<QString>& password, bool generatePassword);
    void cancelUpload();
    void dismissJustCompleted();

    // Sent transfers, addressed by their code.
    QCoro::Task<> refreshOutgoing();
    QCoro::Task<std::optional<QString>> revealPassword(QString code);
    QCoro::Task<std::optional<QString>> regeneratePassword(QString code);
    QCoro::Task<bool> removePassword(QString code);
    QCoro::Task<bool> renameOutgoingFile(QString code, QString oldName, QString newName);
    void deleteTransfer(const TransferItem& transfer);
    QCoro::Task<> downloadOutgoing(TransferItem transfer);
    void copyLink(const TransferItem& transfer);

    // Customer uploads, addressed by their token.
    QCoro::Task<> refreshIncoming();
    QCoro::Task<> downloadIncoming(IncomingUpload upload);
    void deleteIncoming(const IncomingUpload& upload);
    void copyIncomingLink(const IncomingUpload& upload);

    static QString formatSize(qint64 bytes);
    static QString formatSpeed(double bytesPerSecond);
    static QString formatRemaining(double progress, double speed, qint64 totalSize);

Q_SIGNALS:
    void transfersChanged();
    void isUploadingChanged();
    void isZippingChanged();
    void uploadProgressChanged();
    void uploadPercentChanged();
    void showSettingsChanged();
    void errorMessageChanged();
    void queueCountChanged();
    void incomingUploadsChanged();
    void isDownloadingChanged();
    void downloadProgressChanged();
    void incomingErrorChanged();
    void selectedTabChanged();
    void justCompletedChanged();

private:
    template <typename T> void update(T& field, T value, void (TransferManager::*changed)()) {
        if (field == value)
            return;
        field = std::move(value);
        Q_EMIT(this->*changed)();
    }

    SecretStore& secretStore() const;
    UserDefaults& userDefaults() const;

    void processQueue();
    void startUpload(const QueuedUpload& upload);
    QCoro::Task<> runUpload(QueuedUpload upload, QPointer<CancelToken> cancel, quint64 run);
    void finishRun();
    static QStringList collectOriginalNames(const QList<QUrl>& urls);
    void sendNotification(const QString& title, const QString& body,
                          const std::optional<QString>& downloadURL);
    void cleanupLegacyKeychainEntries();
    void startPolling();
    QCoro::Task<> pollOnce();

    Environment m_environment;
    TransferHistoryService m_historyService;

    QList<TransferItem> m_transfers;
    bool m_isUploading = false;
    bool m_isZipping = false;
    QString m_uploadProgress;
    double m_uploadPercent = 0;
    bool m_showSettings = false;
    std::optional<QString> m_errorMessage;
    int m_queueCount = 0;
    QList<IncomingUpload> m_incomingUploads;
    bool m_isDownloading = false;
    QString m_downloadProgress;
    std::optional<QString> m_incomingError;
    int m_selectedTab = 0;
    std::optional<JustCompletedTransfer> m_justCompleted;

    QTimer m_firstPoll;
    QTimer m_pollTimer;
    std::unique_ptr<UserDefaults> m_ownDefaults;
    QPointer<CancelToken> m_uploadCancel; // the active run's, while one runs
    quint64 m_runCounter = 0;             // lets late progress reports find out their run is over
    bool m_wasCancelled = false;
    QList<QueuedUpload> m_uploadQueue;
    bool m_isProcessingQueue = false;
};
