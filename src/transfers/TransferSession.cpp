#include "TransferSession.h"

#include "DesktopServices.h"
#include "Detached.h"
#include "HttpEngine.h"
#include "ReceivedUploads.h"
#include "SentTransfers.h"
#include "ServerAccount.h"
#include "Uploads.h"

#include <QCoreApplication>

TransferSession::TransferSession(Environment environment, QObject* parent)
    : QObject(parent),
      m_account(new ServerAccount(environment.secretStore, environment.settings, environment.desktop, this)),
      m_sent(new SentTransfers(m_account, environment.historyDirectory, environment.desktop, this)),
      m_received(new ReceivedUploads(m_account, environment.desktop, this)),
      m_uploads(new Uploads(m_account, m_sent, environment.desktop, this)) {
    connect(m_uploads, &Uploads::configurationMissing, this, [this] { setShowSettings(true); });
    connect(m_uploads, &Uploads::isUploadingChanged, this, &TransferSession::checkIdle);
    connect(m_uploads, &Uploads::isZippingChanged, this, &TransferSession::checkIdle);
    connect(m_uploads, &Uploads::uploadFinished, this, &TransferSession::checkIdle);
    connect(m_received, &ReceivedUploads::isDownloadingChanged, this, &TransferSession::checkIdle);
    connect(m_sent, &SentTransfers::isDownloadingChanged, this, &TransferSession::checkIdle);
    if (DesktopServices* desktop = environment.desktop)
        connect(&HttpEngine::instance(), &HttpEngine::certificateNotSaved, this,
                [desktop](const QString& folder) {
                    desktop->postNotification(
                        QStringLiteral("Zanvolt"),
                        QCoreApplication::translate(
                            "TransferSession",
                            "Das Zertifikat des Servers kann nicht in „%1“ gespeichert werden. Es gilt "
                            "nur, bis Zanvolt beendet wird.")
                            .arg(folder),
                        std::nullopt);
                });

    // Both on the secret store's worker: a locked keyring's prompt holds neither the first paint nor
    // a hand-over. Only a store that answered "nothing stored" opens the settings.
    m_account->removeLegacyEntries();
    detach(m_account->reload(), this, [this](ServerAccount::State state) {
        if (state == ServerAccount::State::NotConfigured)
            setShowSettings(true);
    });
    startPolling(environment.firstPollDelay, environment.pollInterval);
    detach(m_sent->refresh(), this);
}

TransferSession::~TransferSession() = default;

void TransferSession::setShowSettings(bool value) {
    if (m_showSettings == value)
        return;
    m_showSettings = value;
    Q_EMIT showSettingsChanged();
}

void TransferSession::setSelectedTab(int value) {
    if (m_selectedTab == value)
        return;
    m_selectedTab = value;
    Q_EMIT selectedTabChanged();
}

bool TransferSession::isBusy() const {
    // The queue counts: between two queued uploads the first has ended and the next not yet begun.
    return m_uploads->isUploading() || m_uploads->isZipping() || m_uploads->queueCount() > 0 ||
           !m_uploads->runningRequest().isNull() || m_received->isDownloading() || m_sent->isDownloading();
}

void TransferSession::checkIdle() {
    if (!isBusy())
        Q_EMIT becameIdle();
}

void TransferSession::startPolling(std::chrono::milliseconds firstDelay, std::chrono::milliseconds interval) {
    m_firstPoll.setSingleShot(true);
    m_firstPoll.setInterval(firstDelay);
    connect(&m_firstPoll, &QTimer::timeout, this, &TransferSession::poll);
    m_firstPoll.start();

    m_pollTimer.setInterval(interval);
    connect(&m_pollTimer, &QTimer::timeout, this, &TransferSession::poll);
    m_pollTimer.start();
}

void TransferSession::poll() {
    // The customer uploads first, then the sent transfers, one after the other.
    QPointer<SentTransfers> sent(m_sent);
    detach(m_received->refresh(), this, [sent] {
        if (sent)
            detach(sent->refresh(), sent);
    });
}
