#pragma once

#include "models/ErrorText.h"
#include "models/OutgoingResult.h"
#include "services/ServerConnection.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class CancelToken;
class StagingFolder;

// One upload, from the dropped items to the server's answer: packs several items or a folder into
// an archive first, sends the file with progress, and reports one result. Reports that arrive after
// the result are dropped, so a finished job never shows progress again.
class UploadJob : public QObject {
    Q_OBJECT

public:
    struct Request {
        QList<QUrl> urls;
        std::optional<QString> password;
        bool generatePassword = false;
        QUuid id = QUuid::createUuid(); // lets a caller outside the queue find its result
    };

    struct Result {
        enum class Outcome { Succeeded, Failed, Cancelled };
        Outcome outcome = Outcome::Failed;
        QString errorText; // when failed
        ErrorKind errorKind = ErrorKind::Unknown;
        QString fileName;              // the name the transfer is listed under
        QStringList originalFileNames; // what an archive holds
        APIService::OutgoingResult response;
    };

    // `server`: where every request of the upload goes, with which credentials.
    UploadJob(Request request, ServerConnection server, QObject* parent = nullptr);
    ~UploadJob() override;

    void start();
    // Aborts the transfer at once; packing itself cannot be interrupted and stops after it.
    void cancel();

    bool isZipping() const { return m_isZipping; }
    QString progressText() const { return m_progressText; }
    double progress() const { return m_progress; }
    // Bytes per second at the last progress report.
    double speed() const { return m_speed; }
    // Waiting for the network to come back; the upload goes on by itself.
    bool isWaiting() const { return m_waiting; }

    // The names an upload of these items lists: each file, and every file below a folder.
    static QStringList collectOriginalNames(const QList<QUrl>& urls);

Q_SIGNALS:
    void zippingChanged();
    void progressTextChanged();
    void progressChanged();
    void waitingChanged();
    void finished(const UploadJob::Result& result);

private:
    QCoro::Task<> run();
    void setZipping(bool value);
    void setProgressText(const QString& value);
    void setProgress(double value);
    void finish(Result result);

    Request m_request;
    ServerConnection m_server;
    QPointer<CancelToken> m_cancel;
    std::unique_ptr<StagingFolder> m_staging; // the run's archive or link; removed when the run ends
    bool m_cancelled = false;
    bool m_done = false;
    bool m_isZipping = false;
    bool m_waiting = false; // for the network: the progress line says so instead of a speed
    QString m_progressText;
    double m_progress = 0;
    double m_speed = 0;
};
