#include "SingleInstance.h"

#include "LocalPath.h"
#include "PrivateTempDir.h"
#include "SendResult.h"
#include "Uploads.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <sys/stat.h>

// One request per connection: a line of compact JSON, either {"show":true} or
// {"files":["file:///…", …]}; the answer is the line "ok" or "refused".
// `zanvolt send` asks {"send":["file:///…", …],"generatePassword":false}; the answer is
// "refused", or lines {"progress":0.42,"text":"…"} while its upload runs and then
// {"result":{…}} (SendResult's JSON), after which the instance closes the connection.
namespace {
constexpr qsizetype maxRequestBytes = 4 * 1024 * 1024;
constexpr int requestDeadlineMs = 10000;
const QByteArray okAnswer = QByteArrayLiteral("ok\n");
const QByteArray refusedAnswer = QByteArrayLiteral("refused\n");

QByteArray request(bool show, const QList<QUrl>& urls) {
    QJsonObject object;
    if (show) {
        object.insert(QStringLiteral("show"), true);
    } else {
        QJsonArray files;
        for (const QUrl& url : urls)
            files.append(url.toString(QUrl::FullyEncoded));
        object.insert(QStringLiteral("files"), files);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

SingleInstance::Outcome handOver(QLocalSocket& socket, bool show, const QList<QUrl>& urls, int timeoutMs) {
    socket.write(request(show, urls));
    if (!socket.waitForBytesWritten(timeoutMs))
        return SingleInstance::Outcome::Unavailable;
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (!socket.waitForReadyRead(timeoutMs))
            return SingleInstance::Outcome::Unavailable;
        answer += socket.readAll();
    }
    if (answer == okAnswer)
        return SingleInstance::Outcome::HandedOver;
    return answer == refusedAnswer ? SingleInstance::Outcome::Refused : SingleInstance::Outcome::Unavailable;
}
} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath(std::move(socketPath)) {
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
}

QString SingleInstance::defaultSocketPath() {
    // The runtime folder is private to the user and goes with the session; the
    // cache folder serves where there is none.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/com.zanvolt.Zanvolt.socket");
    return PrivateTempDir::path() + QStringLiteral("/instance.socket");
}

SingleInstance::Outcome SingleInstance::start(const QStringList& arguments, const QString& workingDirectory,
                                              int timeoutMs) {
    // Two starts at once must not both take the socket over: the lock makes
    // "connect, else replace a stale socket and listen" one step.
    QLockFile lock(socketPath + QStringLiteral(".lock"));
    lock.tryLock(timeoutMs);

    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (socket.waitForConnected(timeoutMs))
        return handOver(socket, arguments.isEmpty(), urlsFromArguments(arguments, workingDirectory),
                        timeoutMs);

    // Nobody listens: a socket file left here belongs to an instance that died.
    QLocalServer::removeServer(socketPath);
    return server.listen(socketPath) ? Outcome::Primary : Outcome::Unavailable;
}

QList<QUrl> SingleInstance::urlsFromArguments(const QStringList& arguments, const QString& workingDirectory) {
    QList<QUrl> urls;
    for (const QString& argument : arguments) {
        const QUrl url = QUrl::fromUserInput(argument, workingDirectory, QUrl::AssumeLocalFile);
        if (url.isValid())
            urls.append(url);
    }
    return urls;
}

QList<QUrl> SingleInstance::acceptedFiles(const QList<QUrl>& urls) {
    QList<QUrl> files;
    for (const QUrl& url : urls) {
        // lstat on the bytes: a link to nothing is taken, for the upload to name it rather than
        // leave it out, and so is a name that is not UTF-8.
        const QByteArray path = LocalPath::bytes(url);
        struct stat info {};
        if (url.isLocalFile() && path.startsWith('/') && ::lstat(path.constData(), &info) == 0)
            files.append(url);
    }
    return files;
}

void SingleInstance::onNewConnection() {
    while (QLocalSocket* socket = server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A peer that never finishes its line is dropped.
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, &QLocalSocket::abort);
        deadline->start(requestDeadlineMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, deadline] {
            if (!deadline->isActive())
                return; // one request per connection
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > maxRequestBytes)
                    socket->abort();
                return;
            }
            deadline->stop();
            const QByteArray line = socket->readLine(maxRequestBytes);
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            if (object.contains(QStringLiteral("send"))) {
                if (!serveSend(object, socket)) {
                    socket->write(refusedAnswer);
                    socket->disconnectFromServer();
                }
                return;
            }
            const bool accepted = handle(line);
            socket->write(accepted ? okAnswer : refusedAnswer);
            socket->disconnectFromServer();
        });
    }
}

bool SingleInstance::handle(const QByteArray& line) {
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    if (object.value(QStringLiteral("show")) == QJsonValue(true)) {
        Q_EMIT showRequested();
        return true;
    }
    QList<QUrl> urls;
    const QJsonArray files = object.value(QStringLiteral("files")).toArray();
    for (const QJsonValue& value : files)
        urls.append(QUrl(value.toString(), QUrl::StrictMode));
    urls = acceptedFiles(urls);
    if (urls.isEmpty())
        return false;
    Q_EMIT filesReceived(urls);
    return true;
}

void SingleInstance::serveUploads(Uploads* uploads) {
    m_uploads = uploads;
}

bool SingleInstance::serveSend(const QJsonObject& request, QLocalSocket* socket) {
    QList<QUrl> urls;
    const QJsonArray files = request.value(QStringLiteral("send")).toArray();
    for (const QJsonValue& value : files)
        urls.append(QUrl(value.toString(), QUrl::StrictMode));
    urls = acceptedFiles(urls);
    if (urls.isEmpty() || !m_uploads)
        return false;

    const auto answer = [socket](const QJsonObject& object) {
        socket->write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    };
    const auto finish = [socket, answer](const SendResult& result) {
        answer({{QStringLiteral("result"), result.toJson()}});
        socket->disconnectFromServer();
    };
    // Answered when the upload ends, also when the settings turn out missing: taking the request
    // never waits for the secret store.
    const std::optional<QUuid> id = m_uploads->uploadFiles(
        urls, std::nullopt, request.value(QStringLiteral("generatePassword")).toBool());
    if (!id)
        return false;
    Uploads* uploads = m_uploads;
    const auto reportProgress = [uploads, id = *id, answer] {
        if (uploads->runningRequest() == id)
            answer({{QStringLiteral("progress"), uploads->progress()},
                    {QStringLiteral("text"), uploads->progressText()}});
    };
    connect(uploads, &Uploads::progressChanged, socket, reportProgress);
    connect(uploads, &Uploads::progressTextChanged, socket, reportProgress);
    connect(uploads, &Uploads::uploadFinished, socket,
            [id = *id, finish](QUuid finished, const UploadJob::Result& result) {
                if (finished == id)
                    finish(SendResult::fromUpload(result));
            });
    // The command ended before its upload did (Ctrl-C): what it asked for is withdrawn. After the
    // answer, the id is no longer queued or running, so this does nothing.
    connect(socket, &QLocalSocket::disconnected, uploads, [uploads, id = *id] { uploads->withdraw(id); });
    return true;
}
