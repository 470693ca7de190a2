#pragma once

#include "HttpRequest.h"
#include "ServerTrust.h"

#include <QByteArray>
#include <QString>
#include <curl/curl.h>

// One request on the transfer thread: its libcurl handle, the body it reads
// from memory and a file, and the answer it collects in memory or writes into
// a ".part" file. Its callbacks run on the transfer thread only.
struct TransferJob {
    TransferJob() = default;
    ~TransferJob();
    TransferJob(const TransferJob&) = delete;
    TransferJob& operator=(const TransferJob&) = delete;

    quint64 id = 0;
    HttpRequest request;
    ServerTrust::Peer peer;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    char error[CURL_ERROR_SIZE] = {};

    int bodyFd = -1;
    qint64 bodySize = 0;
    qint64 readPosition = 0;
    int readErrno = 0;
    bool fileChanged = false;

    QByteArray body;
    int partFd = -1;
    QByteArray partPath; // removed with the job unless taken
    qint64 written = 0;
    int writeErrno = 0;
    bool tooLarge = false;

    curl_off_t sent = 0;
    curl_off_t received = 0;
    bool progressChanged = false;

    bool isDownload() const { return !request.downloadFolder.isEmpty(); }
    long status() const;
    // Owner-only while it grows; closePart() gives it its final mode.
    bool openPart();
    // 0, or the error of closing the complete file.
    int closePart();
    // The complete file's path; the job no longer removes it.
    QString takePart();
    QString incompleteText() const;

    // libcurl's callbacks; `user` is the job.
    static size_t readBody(char* buffer, size_t size, size_t count, void* user);
    // A reused connection that turns out dead makes libcurl send the body again from the start.
    static int seekBody(void* user, curl_off_t offset, int origin);
    static size_t writeBody(char* data, size_t size, size_t count, void* user);
    static int progress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent);
    static CURLcode sslContext(CURL*, void* context, void* user);
};
