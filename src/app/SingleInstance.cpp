#include "SingleInstance.h"

#include "PrivateTempDir.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

// One request per connection: a line of compact JSON, either {"show":true} or
// {"files":["file:///…", …]}; the answer is the line "ok" or "refused".
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
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isAbsolute() &&
            QFileInfo::exists(url.toLocalFile()))
            files.append(url);
    }
    return files;
}

void SingleInstance::onNewConnection() {
    while (QLocalSocket* socket = server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A peer that never finishes its line is dropped.
        QTimer::singleShot(requestDeadlineMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > maxRequestBytes)
                    socket->abort();
                return;
            }
            const bool accepted = handle(socket->readLine(maxRequestBytes));
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
