#pragma once

#include "models/TransferItem.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>
#include <qcoro/qcorotask.h>

class DesktopServices;
class SentTransfers;
class ServerAccount;

// What can be done with a sent transfer: its password shown, made anew or removed (kept in memory
// only, on the list's record), a file renamed, the transfer deleted, downloaded, its link or
// password copied. What changes shows in `list`; failures go to its error line.
class SentTransferOperations : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY isDownloadingChanged)

public:
    SentTransferOperations(ServerAccount* account, SentTransfers* list, DesktopServices& desktop,
                           QObject* parent = nullptr);

    QCoro::Task<std::optional<QString>> revealPassword(QString code);
    QCoro::Task<std::optional<QString>> regeneratePassword(QString code);
    QCoro::Task<bool> removePassword(QString code);
    QCoro::Task<bool> renameOutgoingFile(QString code, QString oldName, QString newName);
    // Gone from the list and the history at once; the server's deletion runs in the background.
    void remove(const TransferItem& transfer);
    // Saves the file into downloadFolder() under a free name and shows it in the file manager.
    QCoro::Task<> downloadOutgoing(TransferItem transfer);
    bool isDownloading() const { return m_downloads > 0; }
    // "Zanvolt" in the user's Downloads folder.
    static QString downloadFolder();

    // True when the clipboard took the link.
    bool copyLink(const TransferItem& transfer);
    // The known password, or the server's when it is not known yet. True when a known password is
    // on the clipboard now.
    bool copyPassword(const TransferItem& transfer);

Q_SIGNALS:
    void isDownloadingChanged();

private:
    QCoro::Task<> deleteOnServer(QString code);
    // The failure, if any, on the list's error line.
    void report(const std::optional<QString>& failure);

    ServerAccount* m_account;
    QPointer<SentTransfers> m_list;
    DesktopServices& m_desktop;
    int m_downloads = 0;
};
