#include "ReceivedUploads.h"

#include "APIService.h"
#include "APIServiceIncoming.h"
#include "DesktopServices.h"
#include "Detached.h"
#include "ErrorText.h"
#include "IncomingPresenter.h"
#include "Logging.h"
#include "OffMainThread.h"
#include "ServerAccount.h"
#include "UserText.h"

#include <QCoreApplication>
#include <QPointer>
#include <algorithm>

namespace {
QString incomingFailureText(const std::exception& error) {
    return describeError(error).text;
}
} // namespace

ReceivedUploads::ReceivedUploads(ServerAccount* account, DesktopServices* desktop, QObject* parent)
    : QObject(parent), m_account(account), m_desktop(desktop),
      m_model([](const IncomingUpload& upload) { return upload.token; }, std::equal_to<IncomingUpload>(),
              [](const IncomingUpload& upload) { return IncomingPresenter(upload).accessibleName(); }) {
    // First, so the list is up to date before anyone else hears of a change.
    connect(this, &ReceivedUploads::uploadsChanged, this, [this] { m_model.assign(m_uploads); });
    connect(account, &ServerAccount::stateChanged, this, &ReceivedUploads::configuredChanged);
}

void ReceivedUploads::setError(const std::optional<QString>& value) {
    update(m_error, value, &ReceivedUploads::errorChanged);
}

bool ReceivedUploads::isConfigured() const {
    return m_account->isConfigured();
}

void ReceivedUploads::checkConfiguration() {
    detach(m_account->reload(), this);
}

void ReceivedUploads::sendNotification(const QString& title, const QString& body,
                                       const std::optional<QString>& downloadURL) {
    if (m_desktop)
        m_desktop->postNotification(title, body, downloadURL);
}

QCoro::Task<> ReceivedUploads::refresh() {
    return m_refreshes.run([this] { return refreshList(); });
}

QCoro::Task<> ReceivedUploads::refreshList() {
    QPointer<ReceivedUploads> self(this);
    const ServerAccount::State state = co_await m_account->reload();
    if (!self || state == ServerAccount::State::NotConfigured)
        co_return;
    if (state == ServerAccount::State::Unavailable) {
        setError(m_account->problem()); // said once, without asking the store again
        co_return;
    }
    try {
        QList<IncomingUpload> uploads = co_await APIService::fetchIncoming();
        if (!self)
            co_return;
        if (m_uploads != uploads) {
            QList<IncomingUpload> previous = std::exchange(m_uploads, std::move(uploads));
            Q_EMIT uploadsChanged();
            releaseOffMainThread(std::move(previous));
        }
        setError(std::nullopt);
    } catch (const std::exception& error) {
        if (self)
            setError(incomingFailureText(error));
    }
}

QCoro::Task<> ReceivedUploads::downloadIncoming(IncomingUpload upload) {
    QPointer<ReceivedUploads> self(this);
    update(m_isDownloading, true, &ReceivedUploads::isDownloadingChanged);
    update(m_downloadProgress, QCoreApplication::translate("ReceivedUploads", "Lade herunter..."),
           &ReceivedUploads::downloadProgressChanged);
    try {
        for (const IncomingFile& file : upload.files) {
            update(m_downloadProgress,
                   QCoreApplication::translate("ReceivedUploads", "Lade %1...").arg(file.name),
                   &ReceivedUploads::downloadProgressChanged);
            co_await APIService::downloadFile(upload.token, file.name);
            if (!self)
                co_return;
        }
        co_await APIService::markAsDownloaded(upload.token);
        if (!self)
            co_return;
        // A poll may have replaced the list meanwhile: look the upload up afresh.
        const auto listed = std::find_if(m_uploads.begin(), m_uploads.end(),
                                         [&](const IncomingUpload& u) { return u.token == upload.token; });
        if (listed != m_uploads.end() && !listed->isDownloaded) {
            listed->isDownloaded = true;
            Q_EMIT uploadsChanged();
        }
        update(m_downloadProgress, QString(), &ReceivedUploads::downloadProgressChanged);
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
    update(m_isDownloading, false, &ReceivedUploads::isDownloadingChanged);
    update(m_downloadProgress, QString(), &ReceivedUploads::downloadProgressChanged);
}

void ReceivedUploads::remove(const IncomingUpload& upload) {
    QList<IncomingUpload> remaining = m_uploads;
    remaining.removeIf([&](const IncomingUpload& u) { return u.token == upload.token; });
    update(m_uploads, std::move(remaining), &ReceivedUploads::uploadsChanged);
    detach(deleteOnServer(upload.token), this);
}

QCoro::Task<> ReceivedUploads::deleteOnServer(QString token) {
    QPointer<ReceivedUploads> self(this);
    try {
        co_await APIService::deleteIncoming(token);
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        setError(UserText::serverDeleteFailed(incomingFailureText(error)));
    }
    // Also after a failure: the upload, still on the server, comes back.
    if (self)
        co_await refresh();
}

void ReceivedUploads::copyLink(const IncomingUpload& upload) {
    if (upload.downloadURL && !upload.downloadURL->isEmpty()) {
        if (m_desktop)
            m_desktop->copyText(*upload.downloadURL);
        return;
    }
    // Built from the server URL, which is read off the main thread.
    detach(linkFromServerURL(upload), this, [this](std::optional<QString> link) {
        if (link && m_desktop)
            m_desktop->copyText(*link);
    });
}

QCoro::Task<std::optional<QString>> ReceivedUploads::linkFromServerURL(IncomingUpload upload) {
    try {
        const KeychainService::Credentials stored = co_await APIService::configuration();
        co_return stored.serverURL + QStringLiteral("/d/") +
            (upload.code && !upload.code->isEmpty() ? *upload.code : upload.token);
    } catch (const std::exception& error) {
        qCInfo(lcTransfers) << "no link to copy:" << describeError(error).text;
        co_return std::nullopt; // no server URL: nothing to link to
    }
}
