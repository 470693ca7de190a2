#include "transfers/ClientSession.h"

#include "net/HttpEngine.h"
#include "platform/DesktopServices.h"
#include "platform/NoDesktopServices.h"
#include "transfers/Detached.h"
#include "transfers/ReceivedUploads.h"
#include "transfers/SentTransferOperations.h"
#include "transfers/SentTransfers.h"
#include "transfers/ServerAccount.h"
#include "transfers/SetIfChanged.h"
#include "transfers/Uploads.h"

#include <QCoreApplication>

ClientSession::ClientSession(HttpEngine& http, Environment environment, QObject* parent)
    : QObject(parent), m_noDesktop(environment.desktop ? nullptr : std::make_unique<NoDesktopServices>()),
      m_desktop(environment.desktop ? *environment.desktop : *m_noDesktop),
      m_account(new ServerAccount(http, environment.secretStore, environment.settings, m_desktop, this)),
      m_sent(new SentTransfers(m_account, environment.historyDirectory, this)),
      m_sentOperations(new SentTransferOperations(m_account, m_sent, m_desktop, this)),
      m_received(new ReceivedUploads(m_account, m_desktop, this)),
      m_uploads(new Uploads(m_account, m_sent, m_desktop, this)) {
    connect(m_uploads, &Uploads::configurationMissing, this, [this] { setShowSettings(true); });
    connect(m_uploads, &Uploads::isUploadingChanged, this, &ClientSession::checkIdle);
    connect(m_uploads, &Uploads::isZippingChanged, this, &ClientSession::checkIdle);
    connect(m_uploads, &Uploads::uploadFinished, this, &ClientSession::checkIdle);
    connect(m_received, &ReceivedUploads::isDownloadingChanged, this, &ClientSession::checkIdle);
    connect(m_sentOperations, &SentTransferOperations::isDownloadingChanged, this, &ClientSession::checkIdle);
    connect(&http, &HttpEngine::certificateNotSaved, this, [this](const QString& folder) {
        m_desktop.postNotification(
            QStringLiteral("Zanvolt"),
            QCoreApplication::translate(
                "ClientSession", "Das Zertifikat des Servers kann nicht in „%1“ gespeichert werden. Es gilt "
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

ClientSession::~ClientSession() = default;

void ClientSession::setShowSettings(bool value) {
    setIfChanged(this, m_showSettings, value, &ClientSession::showSettingsChanged);
}

void ClientSession::setSelectedTab(int value) {
    setIfChanged(this, m_selectedTab, value, &ClientSession::selectedTabChanged);
}

bool ClientSession::isBusy() const {
    // The queue counts: between two queued uploads the first has ended and the next not yet begun.
    return m_uploads->isUploading() || m_uploads->isZipping() || m_uploads->queueCount() > 0 ||
           !m_uploads->runningRequest().isNull() || m_received->isDownloading() ||
           m_sentOperations->isDownloading();
}

void ClientSession::checkIdle() {
    if (!isBusy())
        Q_EMIT becameIdle();
}

void ClientSession::startPolling(std::chrono::milliseconds firstDelay, std::chrono::milliseconds interval) {
    m_firstPoll.setSingleShot(true);
    m_firstPoll.setInterval(firstDelay);
    connect(&m_firstPoll, &QTimer::timeout, this, &ClientSession::poll);
    m_firstPoll.start();

    m_pollTimer.setInterval(interval);
    connect(&m_pollTimer, &QTimer::timeout, this, &ClientSession::poll);
    m_pollTimer.start();
}

void ClientSession::poll() {
    detach(refreshLists(), this);
}

QCoro::Task<> ClientSession::refreshLists() {
    QPointer<ClientSession> self(this);
    const ServerAccount::Reading reading = co_await m_account->read();
    if (!self)
        co_return;
    QPointer<SentTransfers> sent(m_sent);
    co_await m_received->refresh(reading);
    if (sent)
        co_await sent->refresh(reading);
}
