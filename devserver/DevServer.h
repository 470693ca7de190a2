#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

#include <memory>

// The bundled transfer server: a real HTTP(S) server on background threads that the client's tests
// start in-process, and that `zanvolt-devserver` wraps for people trying the client by hand.
// Every method is thread-safe.
class DevServer {
public:
    struct Options {
        QString dataDir; // empty: a fresh temporary folder, removed on stop
        QString apiKey;  // empty: the one kept in the data folder, else a generated one
        QString bindAddress = QStringLiteral("127.0.0.1");
        int port = 0;
        bool plainHttp = false;
        bool testControls = true;         // exposes /test/... and PUT /bench/sink over HTTP
        QString certificatePath, keyPath; // PEM files to use instead of the self-signed pair
        QString publicBaseURL;            // what download links start with; default baseURL()
    };

    struct RecordedRequest {
        QString method;
        QString path;                   // as sent on the wire, percent-encoded, without the query
        QMap<QString, QString> headers; // lower-case names
        qint64 bodySize = 0;
        QByteArray body; // only while setRecordBodies(true)
        QDateTime at;
    };

    struct SeedFile {
        QString name;
        QByteArray content;
    };

    DevServer(); // default options (a default argument cannot use the member initialisers here)
    explicit DevServer(Options options);
    ~DevServer();
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    // Listens on a background thread; returns once connections are accepted.
    bool start();
    void stop();
    bool isRunning() const;
    QString lastError() const;

    int port() const;
    QString baseURL() const; // e.g. https://127.0.0.1:PORT
    QString apiKey() const;
    QString dataDir() const;
    QByteArray certificatePem() const; // empty over plain HTTP

    // Test controls. `path` matches a request path exactly (percent-encoded as sent, or decoded),
    // or as a prefix when it ends with '*'. Fail, garble and drop replace the request's normal
    // handling; a delay is added before the answer of whatever handles it.
    void failNext(const QString& path, int count, int status, const QByteArray& body);
    void delayNext(const QString& path, int count, int milliseconds);
    void garbleNext(const QString& path, int count); // 200 with a body that is not JSON
    void dropNext(const QString& path, int count);   // closes the connection without answering
    // Answers with `status` (301, 302, 307, 308) and a Location header.
    void redirectNext(const QString& path, int count, int status, const QByteArray& location);
    // A file download announces its full Content-Length, sends only the first `bytes` bytes and
    // closes the connection; with `stallMilliseconds`, only after holding it open that long without
    // sending anything more (a server that hangs in the middle of a file).
    void truncateNext(const QString& path, int count, qint64 bytes, int stallMilliseconds = 0);
    // A network outage: for `milliseconds`, every connection open now is cut and every request
    // that arrives is dropped unanswered and unrecorded. The connection from `sparedPeerPort` (the
    // one that asked for it) is left alone.
    void outage(int milliseconds, int sparedPeerPort = 0);
    void setRecordBodies(bool record);
    QList<RecordedRequest> requests() const;
    void clearRequests();
    int maxInFlight(const QString& path) const; // most concurrent requests seen for matching paths

    // Seeding; file names must be valid. Returns the code (transfers) or token (customer uploads),
    // or an empty string when the files could not be stored.
    QString seedTransfer(const QList<SeedFile>& files, const QString& password = {},
                         QDateTime createdAt = {});
    QString seedIncoming(const QString& customerName, const QList<SeedFile>& files,
                         const QString& auftragsnummer = {}, const QString& nachricht = {},
                         bool withCodeAndLink = true, QDateTime uploadDate = {});

    // Serves the files of `dir` under /updates/ (empty: nothing served).
    void setUpdateFeedDirectory(const QString& dir);

private:
    class Impl;
    std::unique_ptr<Impl> d;
};
