#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>
#include <httplib.h>

class ServerControls;

// One request and its answer: the raw path and its segments, the body (streamed, counted and
// recorded for the tests), and the ways of answering.
class ServerExchange {
public:
    ServerExchange(const httplib::Request& request, httplib::Response& response,
                   const httplib::ContentReader* reader);

    QString method() const { return method_; }
    // As sent, percent-encoded, without the query.
    QString rawPath() const { return rawPath_; }
    QString decodedPath() const;
    // The raw path split at "/", still percent-encoded.
    const QList<QByteArray>& segments() const { return segments_; }
    QByteArray header(const char* name) const;
    QMap<QString, QString> headers() const;
    QByteArray query(const char* name) const;
    int remotePort() const { return request_.remote_port; }

    void setRecorder(ServerControls* controls, qint64 id);
    qint64 bodySize() const { return bodySize_; }

    // Passes the body on piece by piece; false when the connection broke or the receiver refused
    // (what remains of the body is then drained).
    bool streamBody(const std::function<bool(const char*, size_t)>& receiver);
    // The whole body when it is at most `limit` bytes; false otherwise.
    bool readBody(QByteArray* body, qsizetype limit = 1 << 20);
    void drain();

    void json(int status, const QJsonObject& object);
    void json(int status, const QJsonArray& array);
    void error(int status, const QString& message); // {"error": message}
    void text(int status, const QString& text);
    void html(int status, const QString& page);
    void raw(int status, const QByteArray& body, const char* contentType);
    void redirect(int status, const QByteArray& location);
    // A file answer then stops after this many bytes and, after `stallMilliseconds`, closes the
    // connection; -1: whole.
    void setTruncateAfter(qint64 bytes, int stallMilliseconds = 0) {
        truncateAfter_ = bytes;
        stallMilliseconds_ = stallMilliseconds;
    }
    // Streams a file; false when it cannot be opened.
    bool file(const QString& path, const QString& downloadName);
    // Shuts the connection down without an answer.
    void dropConnection();

private:
    bool hasBody() const;

    const httplib::Request& request_;
    httplib::Response& response_;
    const httplib::ContentReader* reader_;
    QString method_;
    QString rawPath_;
    QList<QByteArray> segments_;
    ServerControls* controls_ = nullptr;
    qint64 recordId_ = 0;
    bool recordBody_ = false;
    bool bodyRead_ = false;
    qint64 bodySize_ = 0;
    qint64 truncateAfter_ = -1;
    int stallMilliseconds_ = 0;
};
