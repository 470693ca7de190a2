#include "transfers/SentTransferOperations.h"

#include "models/ErrorText.h"
#include "models/UserText.h"
#include "platform/DesktopServices.h"
#include "services/APIService.h"
#include "services/APIServiceOutgoing.h"
#include "transfers/Detached.h"
#include "transfers/SentTransfers.h"
#include "transfers/ServerAccount.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QStandardPaths>

SentTransferOperations::SentTransferOperations(ServerAccount* account, SentTransfers* list,
                                               DesktopServices& desktop, QObject* parent)
    : QObject(parent), m_account(account), m_list(list), m_desktop(desktop) {}

void SentTransferOperations::report(const std::optional<QString>& failure) {
    if (m_list && failure)
        m_list->setError(failure);
}

QCoro::Task<std::optional<QString>> SentTransferOperations::revealPassword(QString code) {
    QPointer<SentTransferOperations> self(this);
    std::optional<QString> failure;
    try {
        const ServerAccount::Reading reading = co_await m_account->read();
        const APIService::PasswordResponse response =
            co_await APIService::revealOutgoingPassword(reading.server(), code);
        if (self && self->m_list)
            self->m_list->setPassword(code, response.password, response.hasPassword);
        co_return response.password;
    } catch (const std::exception& error) {
        failure = QCoreApplication::translate("SentTransfers", "Passwort konnte nicht geladen werden: ") +
                  describeError(error).text;
    }
    if (self)
        self->report(failure);
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> SentTransferOperations::regeneratePassword(QString code) {
    QPointer<SentTransferOperations> self(this);
    std::optional<QString> failure;
    try {
        const ServerAccount::Reading reading = co_await m_account->read();
        const APIService::PasswordResponse response = co_await APIService::updateOutgoingPassword(
            reading.server(), code, APIService::PasswordAction::generate());
        if (self && self->m_list)
            self->m_list->setPassword(code, response.password, true);
        co_return response.password;
    } catch (const std::exception& error) {
        failure = QCoreApplication::translate("SentTransfers", "Passwort konnte nicht erzeugt werden: ") +
                  describeError(error).text;
    }
    if (self)
        self->report(failure);
    co_return std::nullopt;
}

QCoro::Task<bool> SentTransferOperations::removePassword(QString code) {
    QPointer<SentTransferOperations> self(this);
    std::optional<QString> failure;
    try {
        const ServerAccount::Reading reading = co_await m_account->read();
        co_await APIService::updateOutgoingPassword(reading.server(), code,
                                                    APIService::PasswordAction::remove());
        if (self && self->m_list)
            self->m_list->setPassword(code, std::nullopt, false);
        co_return true;
    } catch (const std::exception& error) {
        failure = QCoreApplication::translate("SentTransfers", "Passwort konnte nicht entfernt werden: ") +
                  describeError(error).text;
    }
    if (self)
        self->report(failure);
    co_return false;
}

QCoro::Task<bool> SentTransferOperations::renameOutgoingFile(QString code, QString oldName, QString newName) {
    QPointer<SentTransferOperations> self(this);
    std::optional<QString> failure;
    const ServerAccount::Reading reading = co_await m_account->read();
    try {
        co_await APIService::renameOutgoingFile(reading.server(), code, oldName, newName);
    } catch (const std::exception& error) {
        failure = QCoreApplication::translate("SentTransfers", "Umbenennen fehlgeschlagen: ") +
                  describeError(error).text;
    }
    if (!self || !m_list)
        co_return !failure;
    if (failure) {
        report(failure);
        co_return false;
    }
    // The new name comes from the server's list, not from a local edit.
    co_await m_list->refresh(reading);
    co_return true;
}

void SentTransferOperations::remove(const TransferItem& transfer) {
    const QString code = transfer.code; // the argument may be an element of the list changed below
    if (m_list)
        m_list->remove(transfer);
    detach(deleteOnServer(code), this);
}

QCoro::Task<> SentTransferOperations::deleteOnServer(QString code) {
    QPointer<SentTransferOperations> self(this);
    // Without a server the transfer leaves only the history.
    const ServerAccount::Reading reading = co_await m_account->read();
    if (reading.state == ServerAccount::State::NotConfigured || !self)
        co_return;
    std::optional<QString> failure;
    try {
        co_await APIService::deleteOutgoing(reading.server(), code);
    } catch (const std::exception& error) {
        failure = UserText::serverDeleteFailed(describeError(error).text);
    }
    if (!self || !m_list)
        co_return;
    // Shown where the user deleted it: the send tab.
    report(failure);
    co_await m_list->refresh(reading);
}

QString SentTransferOperations::downloadFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) + QStringLiteral("/Zanvolt");
}

QCoro::Task<> SentTransferOperations::downloadOutgoing(TransferItem transfer) {
    QPointer<SentTransferOperations> self(this);
    const QString folder = downloadFolder();
    QString destination;
    std::optional<QString> failure;
    if (m_downloads++ == 0)
        Q_EMIT isDownloadingChanged();
    const auto done = qScopeGuard([self] {
        if (self && --self->m_downloads == 0)
            Q_EMIT self->isDownloadingChanged();
    });
    try {
        const ServerAccount::Reading reading = co_await m_account->read();
        destination = co_await APIService::downloadOutgoingFile(reading.server(), transfer.code,
                                                                transfer.fileName, folder);
    } catch (const std::exception& error) {
        failure = describeError(error).text;
    }
    if (!self)
        co_return;
    if (failure) {
        report(QCoreApplication::translate("SentTransfers", "Download fehlgeschlagen: ") + *failure);
        co_return;
    }
    m_desktop.revealInFileViewer(destination);
    m_desktop.postNotification(UserText::downloadDone(), transfer.fileName, std::nullopt);
}

bool SentTransferOperations::copyLink(const TransferItem& transfer) {
    return m_desktop.copyText(transfer.downloadURL);
}

bool SentTransferOperations::copyPassword(const TransferItem& transfer) {
    if (transfer.password)
        return m_desktop.copyText(*transfer.password);
    // The copy is wanted even when a refresh rebuilds the row that asked.
    detach(revealPassword(transfer.code), this, [this](std::optional<QString> password) {
        if (password)
            m_desktop.copyText(*password);
    });
    return false;
}
