#include "TransferManager.h"

#include "KeychainService.h"

#include <QPointer>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {
// C's printf rounds exact halves to even ("%.0f" of 2.5 is "2"); Qt's number
// formatting rounds them up, so the size texts go through snprintf.
QString printf1(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return QString::fromLatin1(buffer);
}
} // namespace

TransferManager::TransferManager(QObject* parent) : TransferManager(Environment{}, parent) {}

TransferManager::TransferManager(Environment environment, QObject* parent)
    : QObject(parent), m_environment(std::move(environment)),
      m_historyService(m_environment.historyDirectory) {
    m_transfers = m_historyService.load();
    cleanupLegacyKeychainEntries();
    if (!hasServerConfig())
        m_showSettings = true;
    startPolling();

    [](QPointer<TransferManager> self) -> QCoro::Task<> {
        if (self)
            co_await self->refreshOutgoing();
    }(this);
}

TransferManager::~TransferManager() = default;

SecretStore& TransferManager::secretStore() const {
    return m_environment.secretStore ? *m_environment.secretStore : KeychainService::defaultStore();
}

bool TransferManager::hasServerConfig() const {
    return KeychainService::hasCredentials(secretStore());
}

void TransferManager::setShowSettings(bool value) {
    update(m_showSettings, value, &TransferManager::showSettingsChanged);
}

void TransferManager::setIncomingError(const std::optional<QString>& value) {
    update(m_incomingError, value, &TransferManager::incomingErrorChanged);
}

void TransferManager::setSelectedTab(int value) {
    update(m_selectedTab, value, &TransferManager::selectedTabChanged);
}

void TransferManager::cleanupLegacyKeychainEntries() {
    // Accounts of an earlier layout that kept server settings one per item.
    static const char* const legacyAccounts[] = {"FTP_HOST",     "FTP_USER",  "FTP_PASS",  "FTP_PATH",
                                                 "DOWNLOAD_URL", "SMTP_HOST", "SMTP_PORT", "SMTP_USER",
                                                 "SMTP_PASS",    "MAIL_FROM", "MAIL_TO"};
    for (const char* account : legacyAccounts)
        secretStore().remove(KeychainService::serviceName, QString::fromLatin1(account));
}

void TransferManager::startPolling() {
    m_firstPoll.setSingleShot(true);
    m_firstPoll.setInterval(m_environment.firstPollDelay);
    connect(&m_firstPoll, &QTimer::timeout, this, &TransferManager::pollOnce);
    m_firstPoll.start();

    m_pollTimer.setInterval(m_environment.pollInterval);
    connect(&m_pollTimer, &QTimer::timeout, this, &TransferManager::pollOnce);
    m_pollTimer.start();
}

QCoro::Task<> TransferManager::pollOnce() {
    QPointer<TransferManager> self(this);
    co_await refreshIncoming();
    if (self)
        co_await self->refreshOutgoing();
}

// ---- Uploads (not yet built) ----

void TransferManager::uploadFiles(const QList<QUrl>&, const std::optional<QString>&, bool) {}

void TransferManager::cancelUpload() {}

void TransferManager::dismissJustCompleted() {
    update(m_justCompleted, std::optional<JustCompletedTransfer>(), &TransferManager::justCompletedChanged);
}

// ---- Sent transfers (not yet built) ----

QCoro::Task<> TransferManager::refreshOutgoing() {
    co_return;
}

QCoro::Task<std::optional<QString>> TransferManager::revealPassword(QString) {
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> TransferManager::regeneratePassword(QString) {
    co_return std::nullopt;
}

QCoro::Task<bool> TransferManager::removePassword(QString) {
    co_return false;
}

QCoro::Task<bool> TransferManager::renameOutgoingFile(QString, QString, QString) {
    co_return false;
}

void TransferManager::deleteTransfer(const TransferItem&) {}

QCoro::Task<> TransferManager::downloadOutgoing(TransferItem) {
    co_return;
}

void TransferManager::copyLink(const TransferItem&) {}

// ---- Customer uploads (not yet built) ----

QCoro::Task<> TransferManager::refreshIncoming() {
    co_return;
}

QCoro::Task<> TransferManager::downloadIncoming(IncomingUpload) {
    co_return;
}

void TransferManager::deleteIncoming(const IncomingUpload&) {}

void TransferManager::copyIncomingLink(const IncomingUpload&) {}

// ---- Formatting ----

QString TransferManager::formatSize(qint64 bytes) {
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    if (bytes < 1024 * 1024)
        return printf1("%.0f KB", double(bytes) / 1024);
    if (bytes < 1024LL * 1024 * 1024)
        return printf1("%.1f MB", double(bytes) / 1048576);
    return printf1("%.2f GB", double(bytes) / 1073741824);
}

QString TransferManager::formatSpeed(double bytesPerSecond) {
    if (bytesPerSecond <= 0)
        return QStringLiteral("...");
    if (bytesPerSecond < 1048576.0)
        return printf1("%.0f KB/s", bytesPerSecond / 1024);
    return printf1("%.1f MB/s", bytesPerSecond / 1048576);
}

QString TransferManager::formatRemaining(double progress, double speed, qint64 totalSize) {
    if (!(progress > 0.01 && speed > 0))
        return QStringLiteral("berechne...");
    const double remaining = std::trunc((1.0 - progress) * double(totalSize) / speed);
    // A tiny speed can give more seconds than a 64-bit integer holds; the
    // largest value keeps the text finite instead of converting out of range.
    const qint64 s = std::isfinite(remaining) && remaining < 9.2e18 ? qint64(remaining)
                                                                    : std::numeric_limits<qint64>::max();
    if (s > 3599)
        return QStringLiteral("ca. %1h %2 Min.").arg(s / 3600).arg((s % 3600) / 60);
    if (s > 59)
        return QStringLiteral("ca. %1 Min.").arg(s / 60);
    return QStringLiteral("ca. %1s").arg(s);
}
