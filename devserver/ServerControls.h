#pragma once

#include "DevServer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

// What tests tell the server to do to coming requests, and what it saw: every request with its
// headers and body size (and body when asked), and when each was in flight.
class ServerControls {
public:
    enum class Kind { Fail, Delay, Garble, Drop, Truncate, Redirect };
    struct Action {
        bool drop = false;
        bool fail = false;
        bool garble = false;
        bool redirect = false; // `status` with `body` as its Location
        int status = 0;
        QByteArray body;
        int delayMilliseconds = 0;
        qint64 truncateAfter = -1; // a file answer stops after this many bytes; -1: whole
        int stallMilliseconds = 0; // how long it then holds the connection open before closing it
    };

    void add(Kind kind, const QString& path, int count, int status = 0, const QByteArray& body = {},
             int milliseconds = 0, qint64 bytes = -1);
    // Takes the rules due for this request: the first fail/garble/drop rule, the first delay rule and
    // the first truncate rule.
    Action take(const QString& rawPath, const QString& decodedPath);

    // Records a request's arrival and counts it in flight until finish().
    qint64 begin(const QString& method, const QString& rawPath, const QString& decodedPath,
                 const QMap<QString, QString>& headers);
    bool recordsBodies() const;
    void appendBody(qint64 id, const char* data, size_t size);
    void finish(qint64 id, qint64 bodySize);

    void setRecordBodies(bool record);
    QList<DevServer::RecordedRequest> requests() const;
    void clear();
    int maxInFlight(const QString& path) const;

    // Sleeps unless interrupted by stop; false when interrupted.
    bool sleep(int milliseconds);
    void interrupt();
    void resume();

    // Every request is dropped until `milliseconds` from now.
    void startOutage(int milliseconds);
    bool inOutage() const;

    static bool matches(const QString& pattern, const QString& path);

private:
    struct Rule {
        Kind kind;
        QString path;
        int remaining;
        int status;
        QByteArray body;
        int milliseconds;
        qint64 bytes;
    };
    struct Entry {
        qint64 id;
        DevServer::RecordedRequest request;
        QString decodedPath;
        qint64 startSequence;
        qint64 endSequence; // 0 while in flight
    };

    Entry* entryLocked(qint64 id);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool interrupted_ = false;
    QList<Rule> rules_;
    QList<Entry> entries_;
    qint64 nextId_ = 1;
    qint64 sequence_ = 0;
    bool recordBodies_ = false;
    std::chrono::steady_clock::time_point outageEnd_;
};
