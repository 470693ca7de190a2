#pragma once

#include <QDir>
#include <QJsonObject>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

class QLocalSocket;
class Uploads;

// One client per user. A second start hands its command-line files to the
// running instance over a local socket in the user's private folder and exits;
// a second start without files asks the running instance to show its panel.
// `zanvolt send` hands its upload over the same way and waits for the link.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Primary,    // no instance ran: this one listens now
        HandedOver, // the running instance took the request
        Refused,    // the running instance found no usable file URL in it
        Unavailable // an instance runs but did not answer, or the socket could not be made
    };

    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);

    // "instance.socket" in the private per-user folder; throws PlatformError
    // when that folder cannot be made.
    static QString defaultSocketPath();

    // Called once at program start with the arguments after the program name.
    // Blocks for at most `timeoutMs` while a running instance answers, so it
    // belongs before the event loop starts.
    Outcome start(const QStringList& arguments, const QString& workingDirectory = QDir::currentPath(),
                  int timeoutMs = 5000);

    // The arguments as absolute URLs: paths relative to `workingDirectory`,
    // URLs as given.
    static QList<QUrl> urlsFromArguments(const QStringList& arguments, const QString& workingDirectory);
    // Only URLs of local files or folders that exist (a link to nothing included), in their order.
    static QList<QUrl> acceptedFiles(const QList<QUrl>& urls);

    // Where handed-over `zanvolt send` jobs go; until set, they are refused.
    void serveUploads(Uploads* uploads);

Q_SIGNALS:
    // One signal per hand-over, with all of its accepted files.
    void filesReceived(QList<QUrl> urls);
    void showRequested();

private:
    void onNewConnection();
    bool handle(const QByteArray& line);
    bool serveSend(const QJsonObject& request, QLocalSocket* socket);

    QString socketPath;
    QLocalServer server;
    QPointer<Uploads> m_uploads;
};
