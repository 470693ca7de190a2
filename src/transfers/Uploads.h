#pragma once

#include "UploadJob.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <optional>

class DesktopServices;
class SentTransfers;
class ServerAccount;

// The upload queue: one UploadJob runs at a time, later drops wait their turn. Publishes the
// running job's state, the last failure and the banner of the upload just finished; a finished
// upload goes into the sent transfers, the clipboard (when the user wants it) and a notification.
class Uploads : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isUploading READ isUploading NOTIFY isUploadingChanged)
    Q_PROPERTY(bool isZipping READ isZipping NOTIFY isZippingChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressTextChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(std::optional<QString> error READ error NOTIFY errorChanged)
    Q_PROPERTY(int queueCount READ queueCount NOTIFY queueCountChanged)
    Q_PROPERTY(
        std::optional<JustCompletedTransfer> justCompleted READ justCompleted NOTIFY justCompletedChanged)

public:
    // The banner data of the last successful upload.
    struct JustCompletedTransfer {
        QUuid id = QUuid::createUuid();
        QString code;
        QString downloadURL;
        QString fileName;
        std::optional<QString> password;
        bool operator==(const JustCompletedTransfer&) const = default;
    };

    Uploads(ServerAccount* account, SentTransfers* sent, DesktopServices& desktop, QObject* parent = nullptr);
    ~Uploads() override;

    bool isUploading() const { return m_isUploading; }
    bool isZipping() const { return m_isZipping; }
    QString progressText() const { return m_progressText; }
    double progress() const { return m_progress; }
    std::optional<QString> error() const { return m_error; }
    int queueCount() const { return m_queue.size(); }
    std::optional<JustCompletedTransfer> justCompleted() const { return m_justCompleted; }

    // Files handed over by a drop or the command line; returns at once. Each request asks the secret
    // store afresh when its turn comes (waiting, as the running upload, while the store's unlock
    // prompt is open): without stored credentials nothing runs and configurationMissing() asks for
    // the settings; a client already known to have none shows no run meanwhile (isUploading stays
    // false). A store that cannot be read fails the upload with its message. The id of the
    // queued request, which uploadFinished() reports; nothing for an empty list.
    std::optional<QUuid> uploadFiles(const QList<QUrl>& urls, const std::optional<QString>& password,
                                     bool generatePassword);
    void cancelUpload();
    // The request leaves the queue, or its run is cancelled; a finished or unknown id is ignored.
    void withdraw(QUuid requestId);
    // Quitting: the queue is emptied and the running upload cancelled.
    void cancelAll();
    // The request the running job works on; null when idle.
    QUuid runningRequest() const { return m_runningRequest; }
    // Whether the last request ended because no server is set up: nothing ran, nothing was done.
    bool endedForSettings() const { return m_endedForSettings; }
    void dismissJustCompleted();
    // The banner's link and password.
    void copyCompletedLink();
    void copyCompletedPassword();

Q_SIGNALS:
    void isUploadingChanged();
    void isZippingChanged();
    void progressTextChanged();
    void progressChanged();
    void errorChanged();
    void queueCountChanged();
    void justCompletedChanged();
    void configurationMissing();
    // Every request's end, after the state above is published.
    void uploadFinished(QUuid requestId, const UploadJob::Result& result);

private:
    void setQueue(QList<UploadJob::Request> queue);
    void start(const UploadJob::Request& request);
    void showRunning();
    QCoro::Task<> startWhenConfigured(UploadJob::Request request);
    void onFinished(const UploadJob::Result& result);
    // `announce`: the error line and the notification; not for a request the settings replace.
    void finish(const UploadJob::Result& result, bool announce);
    void publish(const UploadJob::Result& result);
    void notify(const QString& title, const QString& body, const std::optional<QString>& downloadURL);
    void copyText(const QString& text);

    ServerAccount* m_account;
    SentTransfers* m_sent;
    DesktopServices& m_desktop;
    QPointer<UploadJob> m_job;
    QUuid m_runningRequest;
    bool m_endedForSettings = false;
    QList<UploadJob::Request> m_queue;

    bool m_isUploading = false;
    bool m_isZipping = false;
    QString m_progressText;
    double m_progress = 0;
    std::optional<QString> m_error;
    std::optional<JustCompletedTransfer> m_justCompleted;
};
