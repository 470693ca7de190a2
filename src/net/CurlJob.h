#pragma once

#include "net/HttpRequest.h"
#include "net/ProxyChoice.h"
#include "net/ServerTrust.h"

#include <QByteArray>
#include <QString>
#include <curl/curl.h>

// One request on the transfer thread: its libcurl handle, the body it reads
// from memory and a file, and the answer it collects in memory or writes into
// a ".part" file. Its callbacks run on the transfer thread only.
struct CurlJob {
    CurlJob() = default;
    ~CurlJob();
    CurlJob(const CurlJob&) = delete;
    CurlJob& operator=(const CurlJob&) = delete;

    quint64 id = 0;
    HttpRequest request;
    ServerTrust::Peer peer;
    ProxyChoice proxy;
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
    qint64 resumedFrom = -1;   // a continued download: the bytes its ".part" had; -1: a new one
    bool bodyStarted = false;  // the answer's file body began (a 200 replaces what a resume kept)
    bool rangeRefused = false; // a 206 for another range than was asked
    QByteArray validator;      // the answer's ETag, else its Last-Modified

    curl_off_t sent = 0;
    curl_off_t received = 0;
    bool progressChanged = false;

    bool isDownload() const { return !request.downloadFolder.isEmpty(); }
    long status() const;
    // Whether the answer's body is the file: a 200, or the 206 of the range a resume asked for.
    bool bodyIsFile() const;
    // Opens the ".part" a resume continues; false with writeErrno set when it cannot.
    bool reopenPart();
    // At the first byte of a file body: a 200 starts the ".part" over; the validator is taken.
    bool startFileBody();
    // Hands a cut-off download's ".part" over for a later resume; nullopt when nothing is worth
    // resuming (the file is then removed with the job).
    std::optional<HttpRequest::Resume> takePartial();
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
