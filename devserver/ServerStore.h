#pragma once

#include "ZipCentralDirectory.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>

// The server's records and where their files live in the data folder:
//   index.json                 every transfer and customer upload, rewritten atomically on change
//   transfers/<code>/<name>    the files of a sent transfer
//   incoming/<token>/<name>    the files of a customer upload
//   uploads/<token>/…          chunks of an upload not yet completed
//   scratch/                   bodies being received
//   sink/                      bodies sent to the benchmark sink, until the next start
class ServerStore {
public:
    struct StoredFile {
        QString name;
        qint64 size = 0;
        std::optional<QList<ZipCentralDirectory::Entry>> zipEntries;
    };
    struct Transfer {
        QString code;
        QString name;
        QDateTime createdAt;
        QList<StoredFile> files;
        QString password; // empty: none
        QDateTime downloadedAt;
        qint64 totalSize() const;
    };
    struct Incoming {
        QString token;
        QString code; // empty: none
        QString customerName;
        QString auftragsnummer;
        QString nachricht;
        QList<StoredFile> files;
        QDateTime uploadDate;
        bool isDownloaded = false;
        bool hasLink = false;
        qint64 totalSize() const;
    };

    explicit ServerStore(const QString& dataDir);
    bool load(QString* error);

    QString dataDir() const { return dataDir_; }
    QString transferDir(const QString& code) const;
    QString incomingDir(const QString& token) const;
    QString uploadDir(const QString& token) const;
    // A fresh path for a body being received, inside the data folder.
    QString scratchFile() const;

    // Reads name and size, and the entries of a .zip file.
    static StoredFile describe(const QString& path, const QString& name);

    QList<Transfer> transfers() const; // newest first
    std::optional<Transfer> transfer(const QString& code) const;
    void addTransfer(const Transfer& transfer);
    bool removeTransfer(const QString& code);
    // Runs `change` under the store's lock; 404 for an unknown code, else its status. The index is
    // saved when that status is 200.
    int updateTransfer(const QString& code, const std::function<int(Transfer&)>& change);

    QList<Incoming> incoming() const; // newest first
    std::optional<Incoming> incomingUpload(const QString& token) const;
    // Looks an upload up by its code, or by its token when it has no code.
    std::optional<Incoming> incomingByLink(const QString& codeOrToken) const;
    void addIncoming(const Incoming& upload);
    bool removeIncoming(const QString& token);
    int updateIncoming(const QString& token, const std::function<int(Incoming&)>& change);

    // A code that no transfer or customer upload uses.
    QString uniqueCode() const;

private:
    bool saveLocked();

    const QString dataDir_;
    mutable std::mutex mutex_;
    QList<Transfer> transfers_;
    QList<Incoming> incoming_;
};
