#pragma once

#include "models/IncomingUpload.h"
#include "transfers/RecordListModel.h"
#include "transfers/RefreshGate.h"
#include "transfers/ServerAccount.h"

#include <QList>
#include <QObject>
#include <QString>
#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

class DesktopServices;

// The customer uploads on the server: the list, the running download with its progress line, the
// last error of the receive side, deletions and links. Addressed by token. Change signals fire
// only when a value really changes.
class ReceivedUploads : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<IncomingUpload> uploads READ uploads NOTIFY uploadsChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY isDownloadingChanged)
    Q_PROPERTY(QString downloadProgress READ downloadProgress NOTIFY downloadProgressChanged)
    Q_PROPERTY(std::optional<QString> error READ error WRITE setError NOTIFY errorChanged)

public:
    ReceivedUploads(ServerAccount* account, DesktopServices& desktop, QObject* parent = nullptr);

    QList<IncomingUpload> uploads() const { return m_uploads; }
    // The same list for a list view, one row per upload, kept by token.
    RecordListModel<IncomingUpload>* model() { return &m_model; }
    bool isDownloading() const { return m_isDownloading; }
    QString downloadProgress() const { return m_downloadProgress; }
    std::optional<QString> error() const { return m_error; }
    void setError(const std::optional<QString>& value);

    // Whether the receive side can list anything, as the secret store last answered; a store that
    // has not answered or cannot be read counts as configured.
    bool isConfigured() const;
    // Asks the secret store afresh; configuredChanged() follows when the answer differs.
    void checkConfiguration();

    // One list request at a time: asked for while one runs, it waits for the next (RefreshGate).
    // `reading`: the store's answer the caller already has (a poll reads once for both lists).
    QCoro::Task<> refresh(std::optional<ServerAccount::Reading> reading = std::nullopt);
    QCoro::Task<> downloadIncoming(IncomingUpload upload);
    // Gone from the list at once; the server's deletion runs in the background.
    void remove(const IncomingUpload& upload);
    // The upload's own link, else one built from the server URL and its code or token. Once the
    // clipboard took it, the row says "Link kopiert" for a while if `showCopied`.
    void copyLink(const IncomingUpload& upload, bool showCopied = false);

Q_SIGNALS:
    void uploadsChanged();
    void isDownloadingChanged();
    void downloadProgressChanged();
    void errorChanged();
    void configuredChanged();

private:
    using Changes = RecordListModel<IncomingUpload>::Changes;

    // A poll's new list, with its row changes worked out off the main thread.
    void applyChanges(Changes changes);
    void sendNotification(const QString& title, const QString& body,
                          const std::optional<QString>& downloadURL);
    QCoro::Task<> refreshList(std::optional<ServerAccount::Reading> given);
    QCoro::Task<> deleteOnServer(QString token);
    QCoro::Task<std::optional<QString>> linkFromServerURL(IncomingUpload upload);

    ServerAccount* m_account;
    DesktopServices& m_desktop;
    QList<IncomingUpload> m_uploads;
    RecordListModel<IncomingUpload> m_model;
    bool m_isDownloading = false;
    QString m_downloadProgress;
    std::optional<QString> m_error;
    RefreshGate m_refreshes;
};
