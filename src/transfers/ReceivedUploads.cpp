#include "transfers/ReceivedUploads.h"

#include "models/ErrorText.h"
#include "models/Logging.h"
#include "models/UserText.h"
#include "platform/DesktopServices.h"
#include "services/APIService.h"
#include "services/APIServiceIncoming.h"
#include "services/OffMainThread.h"
#include "transfers/Detached.h"
#include "transfers/IncomingPresenter.h"
#include "transfers/ServerAccount.h"
#include "transfers/SetIfChanged.h"

#include <QCoreApplication>
#include <QPointer>
#include <algorithm>

namespace {
QString incomingFailureText(const std::exception& error) {
    return describeError(error).text;
}
} // namespace

ReceivedUploads::ReceivedUploads(ServerAccount* account, DesktopServices& desktop, QObject* parent)
    : QObject(parent), m_account(account), m_desktop(desktop),
      m_model([](const IncomingUpload& upload) { return upload.token; }, std::equal_to<IncomingUpload>(),
              [](const IncomingUpload& upload) { return IncomingPresenter(upload).accessibleName(); }) {
    // First, so the list is up to date before anyone else hears of a change.
    connect(this, &ReceivedUploads::uploadsChanged, this,
            [this] { releaseOffMainThread(m_model.assign(m_uploads)); });
    connect(account, &ServerAccount::stateChanged, this, &ReceivedUploads::configuredChanged);
}

void ReceivedUploads::setError(const std::optional<QString>& value) {
    setIfChanged(this, m_error, value, &ReceivedUploads::errorChanged);
}

bool ReceivedUploads::isConfigured() const {
    return m_account->isConfigured();
}

void ReceivedUploads::checkConfiguration() {
    detach(m_account->reload(), this);
}

void ReceivedUploads::sendNotification(const QString& title, const QString& body,
                                       const std::optional<QString>& downloadURL) {
    m_desktop.postNotification(title, body, downloadURL);
}

QCoro::Task<> ReceivedUploads::refresh(std::optional<ServerAccount::Reading> reading) {
    // A reading handed in serves the first run only: a refresh asked for meanwhile reads afresh.
    return m_refreshes.run(
        [this, reading]() mutable { return refreshList(std::exchange(reading, std::nullopt)); });
}

QCoro::Task<> ReceivedUploads::refreshList(std::optional<ServerAccount::Reading> given) {
    QPointer<ReceivedUploads> self(this);
    ServerAccount::Reading reading;
    if (given)
        reading = std::move(*given);
    else
        reading = co_await m_account->read();
    if (!self || reading.state == ServerAccount::State::NotConfigured)
        co_return;
    if (reading.state == ServerAccount::State::Unavailable) {
        setError(reading.problem); // said once, without asking the store again
        co_return;
    }
    try {
        QList<IncomingUpload> uploads = co_await APIService::fetchIncoming(reading.server());
        if (!self)
            co_return;
        // Comparing thousands of uploads with the rows would stall the panel: only the rows'
        // changes are made here.
        std::function<Changes()> compare = [shown = m_uploads, uploads = std::move(uploads),
                                            differ = m_model.differ()]() mutable {
            return differ(std::exchange(shown, {}), std::exchange(uploads, {}));
        };
        Changes changes = co_await offMainThread(std::move(compare));
        if (!self)
            co_return;
        applyChanges(std::move(changes));
        setError(std::nullopt);
    } catch (const std::exception& error) {
        if (self)
            setError(incomingFailureText(error));
    }
}

void ReceivedUploads::applyChanges(Changes changes) {
    if (changes.identical)
        return;
    if (!m_uploads.isSharedWith(changes.base)) {
        // The list changed meanwhile (a deletion, a download marked).
        m_uploads = std::move(changes.next);
        releaseOffMainThread(std::move(changes.base));
        Q_EMIT uploadsChanged();
        return;
    }
    m_uploads = changes.next;
    releaseOffMainThread(m_model.apply(std::move(changes)));
    Q_EMIT uploadsChanged();
}

QCoro::Task<> ReceivedUploads::downloadIncoming(IncomingUpload upload) {
    QPointer<ReceivedUploads> self(this);
    setIfChanged(this, m_isDownloading, true, &ReceivedUploads::isDownloadingChanged);
    setIfChanged(this, m_downloadProgress, QCoreApplication::translate("ReceivedUploads", "Lade herunter..."),
                 &ReceivedUploads::downloadProgressChanged);
    try {
        // One read of the store for all the files.
        const ServerAccount::Reading reading = co_await m_account->read();
        if (!self)
            co_return;
        const ServerConnection server = reading.server();
        for (const IncomingFile& file : upload.files) {
            setIfChanged(this, m_downloadProgress,
                         QCoreApplication::translate("ReceivedUploads", "Lade %1...").arg(file.name),
                         &ReceivedUploads::downloadProgressChanged);
            co_await APIService::downloadFile(server, upload.token, file.name);
            if (!self)
                co_return;
        }
        co_await APIService::markAsDownloaded(server, upload.token);
        if (!self)
            co_return;
        // A poll may have replaced the list meanwhile: look the upload up afresh.
        const auto listed = std::find_if(m_uploads.begin(), m_uploads.end(),
                                         [&](const IncomingUpload& u) { return u.token == upload.token; });
        if (listed != m_uploads.end() && !listed->isDownloaded) {
            listed->isDownloaded = true;
            Q_EMIT uploadsChanged();
        }
        setIfChanged(this, m_downloadProgress, QString(), &ReceivedUploads::downloadProgressChanged);
        sendNotification(UserText::downloadDone(),
                         QCoreApplication::translate("ReceivedUploads", "%1 Datei(en) von %2 heruntergeladen")
                             .arg(upload.files.size())
                             .arg(upload.customerName),
                         std::nullopt);
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        setError(incomingFailureText(error));
    }
    setIfChanged(this, m_isDownloading, false, &ReceivedUploads::isDownloadingChanged);
    setIfChanged(this, m_downloadProgress, QString(), &ReceivedUploads::downloadProgressChanged);
}

void ReceivedUploads::remove(const IncomingUpload& upload) {
    QList<IncomingUpload> remaining = m_uploads;
    remaining.removeIf([&](const IncomingUpload& u) { return u.token == upload.token; });
    setIfChanged(this, m_uploads, std::move(remaining), &ReceivedUploads::uploadsChanged);
    detach(deleteOnServer(upload.token), this);
}

QCoro::Task<> ReceivedUploads::deleteOnServer(QString token) {
    QPointer<ReceivedUploads> self(this);
    const ServerAccount::Reading reading = co_await m_account->read();
    if (!self)
        co_return;
    try {
        co_await APIService::deleteIncoming(reading.server(), token);
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        setError(UserText::serverDeleteFailed(incomingFailureText(error)));
    }
    // Also after a failure: the upload, still on the server, comes back.
    if (self)
        co_await refresh(reading);
}

void ReceivedUploads::copyLink(const IncomingUpload& upload, bool showCopied) {
    const auto copy = [this, token = upload.token, showCopied](const QString& link) {
        if (m_desktop.copyText(link) && showCopied)
            m_model.states()->flash(token, RowStates::LinkCopied);
    };
    if (upload.downloadURL && !upload.downloadURL->isEmpty()) {
        copy(*upload.downloadURL);
        return;
    }
    // Built from the server URL, which is read off the main thread.
    detach(linkFromServerURL(upload), this, [copy](std::optional<QString> link) {
        if (link)
            copy(*link);
    });
}

QCoro::Task<std::optional<QString>> ReceivedUploads::linkFromServerURL(IncomingUpload upload) {
    const ServerAccount::Reading reading = co_await m_account->read();
    try {
        co_return reading.server().credentials.serverURL + QStringLiteral("/d/") +
            (upload.code && !upload.code->isEmpty() ? *upload.code : upload.token);
    } catch (const std::exception& error) {
        qCInfo(lcTransfers) << "no link to copy:" << describeError(error).text;
        co_return std::nullopt; // no server URL: nothing to link to
    }
}
