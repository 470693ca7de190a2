#include "Uploads.h"

#include "DesktopServices.h"
#include "Detached.h"
#include "SentTransfers.h"
#include "ServerAccount.h"
#include "SetIfChanged.h"
#include "UserText.h"

#include <QCoreApplication>
#include <QDateTime>
#include <utility>

Uploads::Uploads(ServerAccount* account, SentTransfers* sent, DesktopServices& desktop, QObject* parent)
    : QObject(parent), m_account(account), m_sent(sent), m_desktop(desktop) {}

Uploads::~Uploads() = default;

std::optional<QUuid> Uploads::uploadFiles(const QList<QUrl>& urls, const std::optional<QString>& password,
                                          bool generatePassword) {
    if (urls.isEmpty())
        return std::nullopt; // nothing to send: no run, nothing queued
    const UploadJob::Request request{urls, password, generatePassword};
    if (!m_isUploading && m_runningRequest.isNull()) {
        start(request);
        return request.id;
    }
    QList<UploadJob::Request> queue = m_queue;
    queue.append(request);
    setQueue(std::move(queue));
    return request.id;
}

void Uploads::setQueue(QList<UploadJob::Request> queue) {
    const bool changed = queue.size() != m_queue.size();
    m_queue = std::move(queue);
    if (changed)
        Q_EMIT queueCountChanged();
}

void Uploads::cancelUpload() {
    if (m_job)
        m_job->cancel();
    else if (!m_runningRequest.isNull()) {
        UploadJob::Result cancelled; // still asking the store: nothing started yet
        cancelled.outcome = UploadJob::Result::Outcome::Cancelled;
        onFinished(cancelled);
    }
}

void Uploads::dismissJustCompleted() {
    setIfChanged(this, m_justCompleted, std::optional<JustCompletedTransfer>(),
                 &Uploads::justCompletedChanged);
}

void Uploads::copyText(const QString& text) {
    m_desktop.copyText(text);
}

void Uploads::copyCompletedLink() {
    if (m_justCompleted)
        copyText(m_justCompleted->downloadURL);
}

void Uploads::copyCompletedPassword() {
    if (m_justCompleted && m_justCompleted->password)
        copyText(*m_justCompleted->password);
}

void Uploads::notify(const QString& title, const QString& body, const std::optional<QString>& downloadURL) {
    m_desktop.postNotification(title, body, downloadURL);
}

void Uploads::start(const UploadJob::Request& request) {
    m_runningRequest = request.id;
    m_endedForSettings = false;
    // Known to have no server: the store is asked again without a trace, since the settings most
    // likely open instead and a progress ring or a check mark would claim a run.
    if (m_account->state() != ServerAccount::State::NotConfigured)
        showRunning();
    detach(startWhenConfigured(request), this);
}

void Uploads::showRunning() {
    setIfChanged(this, m_isUploading, true, &Uploads::isUploadingChanged);
    // A new upload starts with a clean slate on the send tab, also for the list's failures.
    setIfChanged(this, m_error, std::optional<QString>(), &Uploads::errorChanged);
    m_sent->clearError();
}

QCoro::Task<> Uploads::startWhenConfigured(UploadJob::Request request) {
    // Read on the store's worker: while a locked keyring asks for its password, the request waits
    // here as the running upload, and the panel and later hand-overs go on.
    QPointer<Uploads> self(this);
    const ServerAccount::Reading reading = co_await m_account->read();
    const ServerAccount::State state = reading.state;
    if (!self || m_runningRequest != request.id)
        co_return; // cancelled meanwhile
    if (state == ServerAccount::State::NotConfigured) {
        // The settings open instead; the items are not kept. A waiting sender learns why.
        m_endedForSettings = true;
        Q_EMIT configurationMissing();
        UploadJob::Result missing;
        missing.errorText = reading.problem;
        missing.errorKind = ErrorKind::Configuration;
        finish(missing, false);
        co_return;
    }
    showRunning();
    if (state == ServerAccount::State::Unavailable) {
        UploadJob::Result unreadable;
        unreadable.errorText = reading.problem;
        unreadable.errorKind = ErrorKind::Keychain;
        onFinished(unreadable);
        co_return;
    }

    // The desktop's job view only for what really runs.
    m_desktop.beginJobProgress(QStringLiteral("Zanvolt"), [self] {
        if (self)
            self->cancelUpload();
    });
    // The upload's requests use what this read found: the store is not asked again.
    auto* job = new UploadJob(request, reading.server(), this);
    m_job = job;
    connect(job, &UploadJob::zippingChanged, this,
            [this, job] { setIfChanged(this, m_isZipping, job->isZipping(), &Uploads::isZippingChanged); });
    connect(job, &UploadJob::progressTextChanged, this, [this, job] {
        setIfChanged(this, m_progressText, job->progressText(), &Uploads::progressTextChanged);
    });
    connect(job, &UploadJob::progressChanged, this, [this, job] {
        setIfChanged(this, m_progress, job->progress(), &Uploads::progressChanged);
        m_desktop.updateJobProgress(job->progress(), job->speed());
    });
    connect(job, &UploadJob::waitingChanged, this,
            [this, job] { m_desktop.setJobProgressSuspended(job->isWaiting()); });
    connect(job, &UploadJob::finished, this, &Uploads::onFinished);
    job->start();
}

void Uploads::onFinished(const UploadJob::Result& result) {
    finish(result, true);
}

void Uploads::finish(const UploadJob::Result& result, bool announce) {
    // Only a request that got as far as its job has a job view to end.
    const bool hadJob = m_job;
    if (m_job)
        m_job->deleteLater();
    m_job = nullptr;
    const QUuid finishedRequest = std::exchange(m_runningRequest, QUuid());
    if (result.outcome == UploadJob::Result::Outcome::Succeeded) {
        if (hadJob)
            m_desktop.endJobProgress({});
        publish(result);
    } else {
        setIfChanged(this, m_progressText, QString(), &Uploads::progressTextChanged);
        setIfChanged(this, m_isZipping, false, &Uploads::isZippingChanged);
        if (result.outcome == UploadJob::Result::Outcome::Cancelled) {
            if (hadJob)
                m_desktop.endJobProgress(UserText::uploadCancelled());
            setIfChanged(this, m_error, std::optional<QString>(UserText::uploadCancelled()),
                         &Uploads::errorChanged);
        } else {
            const QString message = result.errorText.isEmpty() ? UserText::uploadFailed() : result.errorText;
            if (hadJob)
                m_desktop.endJobProgress(message);
            if (announce) {
                setIfChanged(this, m_error, std::optional<QString>(message), &Uploads::errorChanged);
                m_desktop.postFailureNotification(UserText::uploadFailed(), message);
            }
        }
    }
    setIfChanged(this, m_isUploading, false, &Uploads::isUploadingChanged);
    setIfChanged(this, m_progress, 0.0, &Uploads::progressChanged);
    Q_EMIT uploadFinished(finishedRequest, result);
    if (m_queue.isEmpty())
        return;
    QList<UploadJob::Request> queue = m_queue;
    const UploadJob::Request next = queue.takeFirst();
    setQueue(std::move(queue));
    start(next);
}

void Uploads::publish(const UploadJob::Result& result) {
    const APIService::OutgoingResult& response = result.response;
    TransferItem item;
    item.fileName = result.fileName;
    item.code = response.code;
    item.downloadURL = response.downloadURL;
    item.uploadDate = QDateTime::currentDateTimeUtc();
    item.originalFileNames = result.originalFileNames;
    item.hasPassword = response.hasPassword.value_or(response.password.has_value());
    item.password = response.password;
    m_sent->addUploaded(item);

    bool copied = false;
    if (m_account->autoCopyLink()) {
        const bool withPassword = response.password && !response.password->isEmpty();
        copyText(withPassword ? QCoreApplication::translate("Uploads", "Download-Link: %1\nPasswort: %2")
                                    .arg(response.downloadURL, *response.password)
                              : response.downloadURL);
        copied = true;
    }

    setIfChanged(
        this, m_justCompleted,
        std::optional<JustCompletedTransfer>(JustCompletedTransfer{
            QUuid::createUuid(), response.code, response.downloadURL, result.fileName, response.password}),
        &Uploads::justCompletedChanged);
    setIfChanged(this, m_progressText, QString(), &Uploads::progressTextChanged);

    QString body;
    if (response.password)
        body = copied ? QCoreApplication::translate("Uploads", "Link + Passwort kopiert")
                      : QCoreApplication::translate("Uploads", "Upload fertig — Passwort im Banner");
    else
        body = copied ? QCoreApplication::translate("Uploads", "Link kopiert – bereit zum Teilen")
                      : QCoreApplication::translate("Uploads", "Klicken um Link zu kopieren");
    notify(QCoreApplication::translate("Uploads", "Upload abgeschlossen"), body, response.downloadURL);
}

void Uploads::withdraw(QUuid requestId) {
    QList<UploadJob::Request> queue = m_queue;
    queue.removeIf([requestId](const UploadJob::Request& request) { return request.id == requestId; });
    setQueue(std::move(queue));
    if (!requestId.isNull() && requestId == m_runningRequest)
        cancelUpload();
}

void Uploads::cancelAll() {
    setQueue({});
    cancelUpload();
}
