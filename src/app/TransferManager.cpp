#include "TransferManager.h"

#include "APIService.h"
#include "APIServiceIncoming.h"
#include "APIServiceOutgoing.h"
#include "APIServiceUpload.h"
#include "CancelToken.h"
#include "DesktopServices.h"
#include "Graphemes.h"
#include "KeychainService.h"
#include "UserDefaults.h"
#include "ZipService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QStandardPaths>
#include <QtConcurrent>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <qcoro/qcorofuture.h>

namespace {
// C's printf rounds exact halves to even ("%.0f" of 2.5 is "2"); Qt's number
// formatting rounds them up, so the size texts go through snprintf.
QString printf1(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return QString::fromLatin1(buffer);
}

QString incomingFailureText(const std::exception& error) {
    const auto* appError = dynamic_cast<const AppError*>(&error);
    return appError ? appError->localizedDescription() : QString::fromUtf8(error.what());
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

// ---- Uploads ----

UserDefaults& TransferManager::userDefaults() const {
    return *m_environment.defaults;
}

void TransferManager::uploadFiles(const QList<QUrl>& urls, const std::optional<QString>& password,
                                  bool generatePassword) {
    if (urls.isEmpty())
        return; // nothing to send: no run, nothing queued
    if (!hasServerConfig()) {
        setShowSettings(true);
        return;
    }
    const QueuedUpload upload{urls, password, generatePassword};
    if (!m_isUploading) {
        startUpload(upload);
        return;
    }
    m_uploadQueue.append(upload);
    update(m_queueCount, int(m_uploadQueue.size()), &TransferManager::queueCountChanged);
}

void TransferManager::cancelUpload() {
    m_wasCancelled = true;
    if (m_uploadCancel)
        m_uploadCancel->cancel();
}

void TransferManager::dismissJustCompleted() {
    update(m_justCompleted, std::optional<JustCompletedTransfer>(), &TransferManager::justCompletedChanged);
}

void TransferManager::processQueue() {
    if (m_uploadQueue.isEmpty()) {
        update(m_queueCount, 0, &TransferManager::queueCountChanged);
        return;
    }
    if (m_isProcessingQueue)
        return;
    m_isProcessingQueue = true;
    const QueuedUpload next = m_uploadQueue.takeFirst();
    update(m_queueCount, int(m_uploadQueue.size()), &TransferManager::queueCountChanged);
    m_isProcessingQueue = false;
    startUpload(next);
}

void TransferManager::startUpload(const QueuedUpload& upload) {
    update(m_isUploading, true, &TransferManager::isUploadingChanged);
    update(m_errorMessage, std::optional<QString>(), &TransferManager::errorMessageChanged);
    m_wasCancelled = false;
    if (m_uploadCancel)
        m_uploadCancel->deleteLater();
    m_uploadCancel = new CancelToken(this);
    runUpload(upload, m_uploadCancel, ++m_runCounter);
}

namespace {
bool isDirectory(const QUrl& url) {
    return QFileInfo(url.toLocalFile()).isDir();
}

QString lastPathComponent(const QUrl& url) {
    return QFileInfo(QDir::cleanPath(url.toLocalFile())).fileName();
}

// Quotes, line breaks and backslashes would break the server's
// Content-Disposition headers and the names shown in the panel.
QString sanitizedName(QString name) {
    for (const QChar c : {QLatin1Char('"'), QLatin1Char('\n'), QLatin1Char('\r'), QLatin1Char('\\')})
        name.replace(c, QLatin1Char('_'));
    return name;
}

QString withoutExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString archiveName(const QUrl& first) {
    const QString base = Graphemes::left(sanitizedName(withoutExtension(lastPathComponent(first))), 60);
    return base + QLatin1Char('_') + QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy")) +
           QStringLiteral(".zip");
}

void collectFiles(const QString& folder, const QString& prefix, QStringList& names) {
    // Hidden entries are skipped, and so is everything below a hidden folder.
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir())
            collectFiles(entry.filePath(), prefix, names);
        else if (entry.isFile())
            names << entry.filePath().mid(prefix.size());
    }
}
} // namespace

QStringList TransferManager::collectOriginalNames(const QList<QUrl>& urls) {
    QStringList names;
    for (const QUrl& url : urls) {
        if (!isDirectory(url)) {
            names << lastPathComponent(url);
            continue;
        }
        const QString folder = QDir::cleanPath(url.toLocalFile());
        const qsizetype before = names.size();
        collectFiles(folder, QFileInfo(folder).path() + QLatin1Char('/'), names);
        if (names.size() == before)
            names << lastPathComponent(url);
    }
    return names;
}

void TransferManager::sendNotification(const QString& title, const QString& body,
                                       const std::optional<QString>& downloadURL) {
    if (m_environment.desktop)
        m_environment.desktop->postNotification(title, body, downloadURL);
}

QCoro::Task<> TransferManager::runUpload(QueuedUpload upload, QPointer<CancelToken> cancel, quint64 run) {
    QPointer<TransferManager> self(this);
    const bool pack = upload.urls.size() > 1 || isDirectory(upload.urls.first());
    QString fileToSend;
    QString displayName;
    QStringList packedNames;
    try {
        if (!pack) {
            fileToSend = upload.urls.first().toLocalFile();
            displayName = sanitizedName(lastPathComponent(upload.urls.first()));
        } else {
            update(m_isZipping, true, &TransferManager::isZippingChanged);
            update(m_uploadProgress, QStringLiteral("ZIP erstellen..."),
                   &TransferManager::uploadProgressChanged);
            // Walking a large folder would block the panel.
            packedNames = co_await QtConcurrent::run(&TransferManager::collectOriginalNames, upload.urls);
            const QUrl archive =
                co_await ZipService::createZip(upload.urls, archiveName(upload.urls.first()));
            if (!self)
                co_return;
            fileToSend = archive.toLocalFile();
            displayName = archive.fileName();
            update(m_isZipping, false, &TransferManager::isZippingChanged);
            if (cancel)
                cancel->throwIfCancelled(); // packing itself cannot be interrupted
        }

        const QFileInfo info(fileToSend);
        const qint64 size = info.exists() ? info.size() : 0;
        update(m_uploadProgress, QStringLiteral("Hochladen: %1 (%2)...").arg(displayName, formatSize(size)),
               &TransferManager::uploadProgressChanged);
        update(m_uploadPercent, 0.0, &TransferManager::uploadPercentChanged);

        auto onProgress = [self, run, size](double fraction, double speed) {
            // A report that arrives after its run ended must not bring a
            // percentage line back into the idle state.
            if (!self || self->m_runCounter != run || !self->m_isUploading)
                return;
            self->update(self->m_uploadPercent, fraction, &TransferManager::uploadPercentChanged);
            self->update(
                self->m_uploadProgress,
                QStringLiteral("%1% von %2 – %3 – %4")
                    .arg(int(fraction * 100))
                    .arg(formatSize(size), formatSpeed(speed), formatRemaining(fraction, speed, size)),
                &TransferManager::uploadProgressChanged);
        };
        const APIService::OutgoingResult result = co_await APIService::uploadOutgoing(
            fileToSend, upload.password, upload.generatePassword, onProgress, cancel);
        if (!self)
            co_return;

        const bool hasPassword = result.hasPassword.value_or(result.password.has_value());
        TransferItem item;
        item.fileName = displayName;
        item.code = result.code;
        item.downloadURL = result.downloadURL;
        item.uploadDate = QDateTime::currentDateTimeUtc();
        item.originalFileNames = packedNames;
        item.hasPassword = hasPassword;
        item.password = result.password;
        m_historyService.add(item);

        // The file never holds passwords: carry this one into the reloaded list.
        QList<TransferItem> reloaded = m_historyService.load();
        for (TransferItem& entry : reloaded) {
            if (entry.code == result.code) {
                entry.password = result.password;
                entry.hasPassword = hasPassword;
                break;
            }
        }
        update(m_transfers, reloaded, &TransferManager::transfersChanged);

        bool copied = false;
        if (userDefaults().autoCopyLink() && m_environment.desktop) {
            const bool withPassword = result.password && !result.password->isEmpty();
            m_environment.desktop->copyText(withPassword ? QStringLiteral("Download-Link: %1\nPasswort: %2")
                                                               .arg(result.downloadURL, *result.password)
                                                         : result.downloadURL);
            copied = true;
        }

        update(m_justCompleted,
               std::optional<JustCompletedTransfer>(JustCompletedTransfer{
                   QUuid::createUuid(), result.code, result.downloadURL, displayName, result.password}),
               &TransferManager::justCompletedChanged);
        update(m_uploadProgress, QString(), &TransferManager::uploadProgressChanged);

        QString body;
        if (result.password)
            body = copied ? QStringLiteral("Link + Passwort kopiert")
                          : QStringLiteral("Upload fertig — Passwort im Banner");
        else
            body = copied ? QStringLiteral("Link kopiert – bereit zum Teilen")
                          : QStringLiteral("Klicken um Link zu kopieren");
        sendNotification(QStringLiteral("Upload abgeschlossen"), body, result.downloadURL);

        if (pack)
            QFile::remove(fileToSend); // only the archive this run made; a dropped file is never deleted
        finishRun();
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        const auto* appError = dynamic_cast<const AppError*>(&error);
        const QString description =
            appError ? appError->localizedDescription() : QString::fromUtf8(error.what());
        update(m_uploadProgress, QString(), &TransferManager::uploadProgressChanged);
        update(m_isZipping, false, &TransferManager::isZippingChanged);
        if (m_wasCancelled) {
            update(m_errorMessage, std::optional<QString>(QStringLiteral("Upload abgebrochen")),
                   &TransferManager::errorMessageChanged);
        } else {
            const QString message =
                description.isEmpty() ? QStringLiteral("Upload fehlgeschlagen") : description;
            update(m_errorMessage, std::optional<QString>(message), &TransferManager::errorMessageChanged);
            sendNotification(QStringLiteral("Upload fehlgeschlagen"), message, std::nullopt);
        }
        finishRun();
    }
}

void TransferManager::finishRun() {
    update(m_isUploading, false, &TransferManager::isUploadingChanged);
    update(m_uploadPercent, 0.0, &TransferManager::uploadPercentChanged);
    processQueue();
}

// ---- Sent transfers ----

namespace {
// The first item with this code gets the password; the list is a copy, so the
// caller can publish it in one change.
QList<TransferItem> withPassword(QList<TransferItem> items, const QString& code,
                                 const std::optional<QString>& password, bool hasPassword) {
    const auto it =
        std::find_if(items.begin(), items.end(), [&](const TransferItem& i) { return i.code == code; });
    if (it != items.end()) {
        it->password = password;
        it->hasPassword = hasPassword;
    }
    return items;
}

QStringList namesOf(const OutgoingTransfer& transfer, const TransferItem* inHistory) {
    QStringList names;
    if (inHistory && !inHistory->originalFileNames.isEmpty())
        return inHistory->originalFileNames;
    if (const auto entries = transfer.primaryZipEntries(); !entries.isEmpty()) {
        for (const auto& entry : entries)
            names.append(entry.name);
    } else if (transfer.files.size() > 1) {
        for (const auto& file : transfer.files)
            names.append(file.name);
    }
    return names;
}
} // namespace

QCoro::Task<> TransferManager::refreshOutgoing() {
    if (!hasServerConfig())
        co_return;
    // Passwords live only in memory; taken before waiting, carried over by code.
    QHash<QString, QString> knownPasswords;
    for (const TransferItem& item : std::as_const(m_transfers)) {
        if (item.password)
            knownPasswords.insert(item.code, *item.password);
    }
    const auto knownPassword = [&](const QString& code) {
        const auto it = knownPasswords.constFind(code);
        return it == knownPasswords.constEnd() ? std::optional<QString>() : std::optional<QString>(*it);
    };

    QPointer<TransferManager> self(this);
    QList<OutgoingTransfer> listed;
    try {
        listed = co_await APIService::fetchOutgoing();
    } catch (...) {
        // Offline is normal for a tray client: keep what is shown, say nothing.
        if (self && self->m_transfers.isEmpty())
            self->update(self->m_transfers, self->m_historyService.load(),
                         &TransferManager::transfersChanged);
        co_return;
    }
    if (!self)
        co_return;

    const QList<TransferItem> history = m_historyService.load();
    QHash<QString, const TransferItem*> firstInHistory;
    for (const TransferItem& item : history) {
        if (!firstInHistory.contains(item.code))
            firstInHistory.insert(item.code, &item);
    }

    QList<TransferItem> merged;
    QSet<QString> seen;
    for (const OutgoingTransfer& transfer : std::as_const(listed)) {
        seen.insert(transfer.code);
        TransferItem item;
        item.fileName = transfer.files.isEmpty() ? transfer.code : transfer.files.first().name;
        item.code = transfer.code;
        item.downloadURL = transfer.downloadURL;
        item.uploadDate = transfer.createdAt;
        item.originalFileNames = namesOf(transfer, firstInHistory.value(transfer.code));
        item.downloadedAt = transfer.downloadedAt;
        item.hasPassword = transfer.hasPassword.value_or(false);
        item.password = knownPassword(transfer.code);
        merged.append(std::move(item));
    }
    for (const TransferItem& item : history) {
        if (seen.contains(item.code))
            continue;
        TransferItem copy = item;
        copy.password = knownPassword(item.code);
        merged.append(std::move(copy));
    }
    std::stable_sort(merged.begin(), merged.end(), [](const TransferItem& a, const TransferItem& b) {
        return a.uploadDate > b.uploadDate;
    });
    update(m_transfers, std::move(merged), &TransferManager::transfersChanged);
}

QCoro::Task<std::optional<QString>> TransferManager::revealPassword(QString code) {
    QPointer<TransferManager> self(this);
    std::optional<QString> failure;
    try {
        const APIService::PasswordResponse response = co_await APIService::revealOutgoingPassword(code);
        if (self)
            self->update(self->m_transfers,
                         withPassword(self->m_transfers, code, response.password, response.hasPassword),
                         &TransferManager::transfersChanged);
        co_return response.password;
    } catch (const AppError& error) {
        failure = QStringLiteral("Passwort konnte nicht geladen werden: ") + error.localizedDescription();
    }
    if (self)
        self->update(self->m_errorMessage, failure, &TransferManager::errorMessageChanged);
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> TransferManager::regeneratePassword(QString code) {
    QPointer<TransferManager> self(this);
    std::optional<QString> failure;
    try {
        const APIService::PasswordResponse response =
            co_await APIService::updateOutgoingPassword(code, APIService::PasswordAction::generate());
        if (self)
            self->update(self->m_transfers, withPassword(self->m_transfers, code, response.password, true),
                         &TransferManager::transfersChanged);
        co_return response.password;
    } catch (const AppError& error) {
        failure = QStringLiteral("Passwort konnte nicht erzeugt werden: ") + error.localizedDescription();
    }
    if (self)
        self->update(self->m_errorMessage, failure, &TransferManager::errorMessageChanged);
    co_return std::nullopt;
}

QCoro::Task<bool> TransferManager::removePassword(QString code) {
    QPointer<TransferManager> self(this);
    std::optional<QString> failure;
    try {
        co_await APIService::updateOutgoingPassword(code, APIService::PasswordAction::remove());
        if (self)
            self->update(self->m_transfers, withPassword(self->m_transfers, code, std::nullopt, false),
                         &TransferManager::transfersChanged);
        co_return true;
    } catch (const AppError& error) {
        failure = QStringLiteral("Passwort konnte nicht entfernt werden: ") + error.localizedDescription();
    }
    if (self)
        self->update(self->m_errorMessage, failure, &TransferManager::errorMessageChanged);
    co_return false;
}

QCoro::Task<bool> TransferManager::renameOutgoingFile(QString code, QString oldName, QString newName) {
    QPointer<TransferManager> self(this);
    std::optional<QString> failure;
    try {
        co_await APIService::renameOutgoingFile(code, oldName, newName);
    } catch (const AppError& error) {
        failure = QStringLiteral("Umbenennen fehlgeschlagen: ") + error.localizedDescription();
    }
    if (!self)
        co_return !failure;
    if (failure) {
        update(m_errorMessage, failure, &TransferManager::errorMessageChanged);
        co_return false;
    }
    // The new name comes from the server's list, not from a local edit.
    co_await refreshOutgoing();
    co_return true;
}

void TransferManager::deleteTransfer(const TransferItem& transfer) {
    const TransferItem target = transfer; // the argument may be an element of the list changed below
    m_historyService.remove(target);
    QList<TransferItem> remaining = m_transfers;
    remaining.removeIf([&](const TransferItem& item) { return item.code == target.code; });
    update(m_transfers, std::move(remaining), &TransferManager::transfersChanged);
    if (!hasServerConfig())
        return;

    [](QPointer<TransferManager> self, QString code) -> QCoro::Task<> {
        try {
            std::optional<QString> failure;
            try {
                co_await APIService::deleteOutgoing(code);
            } catch (const AppError& error) {
                failure = QStringLiteral("Server-Löschung fehlgeschlagen: ") + error.localizedDescription();
            }
            if (!self)
                co_return;
            if (failure)
                self->setIncomingError(failure);
            co_await self->refreshOutgoing();
        } catch (...) {
            // Nobody awaits this task; an escaping exception would be lost anyway.
        }
    }(this, target.code);
}

QCoro::Task<> TransferManager::downloadOutgoing(TransferItem transfer) {
    QPointer<TransferManager> self(this);
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) + QStringLiteral("/Zanvolt");
    QString destination;
    std::optional<QString> failure;
    try {
        destination = co_await APIService::downloadOutgoingFile(transfer.code, transfer.fileName, folder);
    } catch (const AppError& error) {
        failure = error.localizedDescription();
    }
    if (!self)
        co_return;
    if (failure) {
        update(m_errorMessage, std::optional<QString>(QStringLiteral("Download fehlgeschlagen: ") + *failure),
               &TransferManager::errorMessageChanged);
        co_return;
    }
    if (m_environment.desktop) {
        m_environment.desktop->revealInFileViewer(destination);
        m_environment.desktop->postNotification(QStringLiteral("Download abgeschlossen"), transfer.fileName,
                                                std::nullopt);
    }
}

void TransferManager::copyLink(const TransferItem& transfer) {
    if (m_environment.desktop)
        m_environment.desktop->copyText(transfer.downloadURL);
}

// ---- Customer uploads ----

QCoro::Task<> TransferManager::refreshIncoming() {
    if (!hasServerConfig())
        co_return;
    QPointer<TransferManager> self(this);
    try {
        QList<IncomingUpload> uploads = co_await APIService::fetchIncoming();
        if (!self)
            co_return;
        update(m_incomingUploads, std::move(uploads), &TransferManager::incomingUploadsChanged);
        setIncomingError(std::nullopt);
    } catch (const std::exception& error) {
        if (self)
            setIncomingError(incomingFailureText(error));
    }
}

QCoro::Task<> TransferManager::downloadIncoming(IncomingUpload upload) {
    QPointer<TransferManager> self(this);
    update(m_isDownloading, true, &TransferManager::isDownloadingChanged);
    update(m_downloadProgress, QStringLiteral("Lade herunter..."), &TransferManager::downloadProgressChanged);
    try {
        for (const IncomingFile& file : upload.files) {
            update(m_downloadProgress, QStringLiteral("Lade ") + file.name + QStringLiteral("..."),
                   &TransferManager::downloadProgressChanged);
            co_await APIService::downloadFile(upload.token, file.name);
            if (!self)
                co_return;
        }
        co_await APIService::markAsDownloaded(upload.token);
        if (!self)
            co_return;
        // A poll may have replaced the list meanwhile: look the upload up afresh.
        const auto listed = std::find_if(m_incomingUploads.begin(), m_incomingUploads.end(),
                                         [&](const IncomingUpload& u) { return u.token == upload.token; });
        if (listed != m_incomingUploads.end() && !listed->isDownloaded) {
            listed->isDownloaded = true;
            Q_EMIT incomingUploadsChanged();
        }
        update(m_downloadProgress, QString(), &TransferManager::downloadProgressChanged);
        sendNotification(QStringLiteral("Download abgeschlossen"),
                         QString::number(upload.files.size()) + QStringLiteral(" Datei(en) von ") +
                             upload.customerName + QStringLiteral(" heruntergeladen"),
                         std::nullopt);
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        setIncomingError(incomingFailureText(error));
    }
    update(m_isDownloading, false, &TransferManager::isDownloadingChanged);
    update(m_downloadProgress, QString(), &TransferManager::downloadProgressChanged);
}

void TransferManager::deleteIncoming(const IncomingUpload& upload) {
    QList<IncomingUpload> remaining = m_incomingUploads;
    remaining.removeIf([&](const IncomingUpload& u) { return u.token == upload.token; });
    update(m_incomingUploads, std::move(remaining), &TransferManager::incomingUploadsChanged);

    [](QPointer<TransferManager> self, QString token) -> QCoro::Task<> {
        try {
            try {
                co_await APIService::deleteIncoming(token);
            } catch (const std::exception& error) {
                if (!self)
                    co_return;
                self->setIncomingError(QStringLiteral("Server-Löschung fehlgeschlagen: ") +
                                       incomingFailureText(error));
            }
            // Also after a failure: the upload, still on the server, comes back.
            if (self)
                co_await self->refreshIncoming();
        } catch (...) {
        }
    }(this, upload.token);
}

void TransferManager::copyIncomingLink(const IncomingUpload& upload) {
    QString link;
    if (upload.downloadURL && !upload.downloadURL->isEmpty()) {
        link = *upload.downloadURL;
    } else {
        try {
            link = APIService::baseURL() + QStringLiteral("/d/") +
                   (upload.code && !upload.code->isEmpty() ? *upload.code : upload.token);
        } catch (const AppError&) {
            return; // no server URL: nothing to link to
        }
    }
    if (m_environment.desktop)
        m_environment.desktop->copyText(link);
}

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
