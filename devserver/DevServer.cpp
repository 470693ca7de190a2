#include "DevServer.h"

#include "ControlEndpoints.h"
#include "IncomingEndpoints.h"
#include "OutgoingEndpoints.h"
#include "SelfSignedCertificate.h"
#include "ServerControls.h"
#include "ServerExchange.h"
#include "ServerNames.h"
#include "ServerStore.h"
#include "UploadEndpoints.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <dirent.h>
#include <httplib.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace {

// Connections stay open between a client's requests; each holds one worker while it does.
constexpr size_t workerThreads = 64;
constexpr size_t keepAliveRequests = 100000;
constexpr time_t keepAliveSeconds = 30;
constexpr time_t socketTimeoutSeconds = 60;

int localPortOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return -1;
}

// httplib waits out the keep-alive time of idle connections when stopping; shutting down the
// sockets it accepted on our port ends those waits at once.
void shutDownAcceptedSockets(int port, int sparedPeerPort = 0) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return;
    while (dirent* entry = readdir(dir)) {
        const int fd = atoi(entry->d_name);
        if (fd <= 2 || fd == dirfd(dir) || localPortOf(fd) != port)
            continue;
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
            continue;
        const int peerPort = peer.ss_family == AF_INET6
                                 ? ntohs(reinterpret_cast<const sockaddr_in6&>(peer).sin6_port)
                                 : ntohs(reinterpret_cast<const sockaddr_in&>(peer).sin_port);
        if (sparedPeerPort == 0 || peerPort != sparedPeerPort)
            ::shutdown(fd, SHUT_RDWR);
    }
    closedir(dir);
}

QString readKeyFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

} // namespace

class DevServer::Impl {
public:
    Impl(DevServer& owner, Options options) : owner(owner), options(std::move(options)) {}

    bool prepare();
    bool start();
    void stop();
    void dispatch(const httplib::Request& request, httplib::Response& response,
                  const httplib::ContentReader* reader);
    void route(ServerExchange& exchange);
    void serveUpdate(ServerExchange& exchange, const QByteArray& encodedName);
    QString baseURL() const;
    QString publicBaseURL() const;
    void fail(const QString& message) {
        std::lock_guard lock(mutex);
        error = message;
    }

    DevServer& owner;
    const Options options;
    mutable std::mutex mutex;
    QString error;
    QString updateFeedDir;

    std::unique_ptr<QTemporaryDir> temporaryDir;
    QString dataDir;
    QString apiKey;
    QString certificatePath;
    std::unique_ptr<ServerStore> store;
    ServerControls controls;
    std::unique_ptr<UploadEndpoints> uploads;
    std::unique_ptr<OutgoingEndpoints> outgoing;
    std::unique_ptr<IncomingEndpoints> incoming;
    std::unique_ptr<ControlEndpoints> controlEndpoints;

    std::unique_ptr<httplib::Server> http;
    std::thread listener;
    std::atomic<int> port{0};
};

bool DevServer::Impl::prepare() {
    if (store)
        return true;
    if (options.dataDir.isEmpty()) {
        temporaryDir =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/zanvolt-devserver-XXXXXX"));
        if (!temporaryDir->isValid()) {
            fail(temporaryDir->errorString());
            return false;
        }
        dataDir = temporaryDir->path();
    } else {
        dataDir = QDir(options.dataDir).absolutePath();
    }
    if (!QDir().mkpath(dataDir)) {
        fail(QStringLiteral("Datenordner %1 lässt sich nicht anlegen").arg(dataDir));
        return false;
    }
    auto newStore = std::make_unique<ServerStore>(dataDir);
    QString loadError;
    if (!newStore->load(&loadError)) {
        fail(loadError);
        return false;
    }

    apiKey = options.apiKey;
    const QString keyFile = dataDir + QStringLiteral("/api-key");
    if (apiKey.isEmpty())
        apiKey = readKeyFile(keyFile);
    if (apiKey.isEmpty()) {
        apiKey = ServerNames::newApiKey();
        QSaveFile file(keyFile);
        if (file.open(QIODevice::WriteOnly)) {
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            file.write(apiKey.toUtf8() + '\n');
            file.commit();
        }
    }

    store = std::move(newStore);
    auto base = [this] { return publicBaseURL(); };
    uploads = std::make_unique<UploadEndpoints>(*store, base);
    outgoing = std::make_unique<OutgoingEndpoints>(*store, base);
    incoming = std::make_unique<IncomingEndpoints>(*store, base);
    controlEndpoints = std::make_unique<ControlEndpoints>(owner);
    return true;
}

bool DevServer::Impl::start() {
    if (http)
        return true;
    if (!prepare())
        return false;
    std::signal(SIGPIPE, SIG_IGN);

    if (options.plainHttp) {
        http = std::make_unique<httplib::Server>();
    } else {
        certificatePath = options.certificatePath;
        QString keyPath = options.keyPath;
        if (certificatePath.isEmpty() || keyPath.isEmpty()) {
            certificatePath = dataDir + QStringLiteral("/certificate.pem");
            keyPath = dataDir + QStringLiteral("/key.pem");
            if (!QFile::exists(certificatePath) || !QFile::exists(keyPath)) {
                QString certificateError;
                if (!SelfSignedCertificate::create(certificatePath, keyPath, &certificateError)) {
                    fail(certificateError);
                    return false;
                }
            }
        }
        auto server = std::make_unique<httplib::SSLServer>(QFile::encodeName(certificatePath).constData(),
                                                           QFile::encodeName(keyPath).constData());
        if (!server->is_valid()) {
            fail(QStringLiteral("Zertifikat oder Schlüssel unbrauchbar: %1").arg(certificatePath));
            return false;
        }
        http = std::move(server);
    }

    http->new_task_queue = [] { return new httplib::ThreadPool(workerThreads); };
    http->set_keep_alive_max_count(keepAliveRequests);
    http->set_keep_alive_timeout(keepAliveSeconds);
    http->set_read_timeout(socketTimeoutSeconds);
    http->set_write_timeout(socketTimeoutSeconds);
    // Small answers would otherwise wait for the client's delayed ACK.
    http->set_tcp_nodelay(true);
    // httplib's default sets SO_REUSEPORT, which would let a second server share a fixed port.
    http->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // One catch-all per method: the routing below works on the raw, still percent-encoded path.
    const std::string any = R"([\s\S]*)";
    auto plain = [this](const httplib::Request& request, httplib::Response& response) {
        dispatch(request, response, nullptr);
    };
    auto withBody = [this](const httplib::Request& request, httplib::Response& response,
                           const httplib::ContentReader& reader) { dispatch(request, response, &reader); };
    http->Get(any, plain);
    http->Options(any, plain);
    http->Post(any, withBody);
    http->Put(any, withBody);
    http->Patch(any, withBody);
    http->Delete(any, withBody);

    const std::string host = options.bindAddress.toStdString();
    int bound = -1;
    if (options.port == 0)
        bound = http->bind_to_any_port(host);
    else if (http->bind_to_port(host, options.port))
        bound = options.port;
    if (bound <= 0) {
        fail(QStringLiteral("%1:%2 lässt sich nicht belegen").arg(options.bindAddress).arg(options.port));
        http.reset();
        return false;
    }
    port = bound;
    controls.resume();
    listener = std::thread([server = http.get()] { server->listen_after_bind(); });
    for (int i = 0; i < 1000 && !http->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void DevServer::Impl::stop() {
    if (!http)
        return;
    controls.interrupt();
    http->stop();
    shutDownAcceptedSockets(port);
    if (listener.joinable())
        listener.join();
    http.reset();
    port = 0;
    if (temporaryDir) {
        controlEndpoints.reset();
        incoming.reset();
        outgoing.reset();
        uploads.reset();
        store.reset();
        temporaryDir.reset();
    }
}

QString DevServer::Impl::baseURL() const {
    QString host = options.bindAddress;
    if (host.isEmpty() || host == QStringLiteral("0.0.0.0"))
        host = QStringLiteral("127.0.0.1");
    else if (host == QStringLiteral("::"))
        host = QStringLiteral("[::1]");
    else if (host.contains(u':'))
        host = u'[' + host + u']';
    return QStringLiteral("%1://%2:%3")
        .arg(options.plainHttp ? QStringLiteral("http") : QStringLiteral("https"), host)
        .arg(port.load());
}

QString DevServer::Impl::publicBaseURL() const {
    QString base = options.publicBaseURL.isEmpty() ? baseURL() : options.publicBaseURL;
    if (base.endsWith(u'/'))
        base.chop(1);
    return base;
}

void DevServer::Impl::dispatch(const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader* reader) {
    ServerExchange exchange(request, response, reader);
    if (exchange.segments().value(0) == "test") {
        if (options.testControls)
            controlEndpoints->handle(exchange);
        else
            exchange.error(404, QStringLiteral("Nicht gefunden"));
        return;
    }
    if (controls.inOutage())
        return exchange.dropConnection();
    const QString decodedPath = exchange.decodedPath();
    const qint64 id = controls.begin(exchange.method(), exchange.rawPath(), decodedPath, exchange.headers());
    exchange.setRecorder(&controls, id);
    const ServerControls::Action action = controls.take(exchange.rawPath(), decodedPath);
    if (action.drop) {
        exchange.dropConnection();
    } else if (action.fail) {
        const bool isJson = action.body.startsWith('{') || action.body.startsWith('[');
        exchange.raw(action.status, action.body, isJson ? "application/json" : "text/plain; charset=utf-8");
    } else if (action.redirect) {
        exchange.redirect(action.status, action.body);
    } else if (action.garble) {
        exchange.raw(200, "<html><body>Wartungsarbeiten</body></html>", "text/html; charset=utf-8");
    } else {
        exchange.setTruncateAfter(action.truncateAfter, action.stallMilliseconds);
        route(exchange);
    }
    if (action.delayMilliseconds > 0 && !action.drop)
        controls.sleep(action.delayMilliseconds);
    controls.finish(id, exchange.bodySize());
}

void DevServer::Impl::route(ServerExchange& exchange) {
    const QList<QByteArray>& s = exchange.segments();
    const qsizetype n = s.size();
    const QString method = exchange.method();
    const auto is = [&](const char* m) { return method == QLatin1StringView(m); };
    const auto decoded = [&](qsizetype i) {
        return QString::fromUtf8(ServerNames::percentDecode(s.value(i)));
    };
    const auto notAllowed = [&] { exchange.error(405, QStringLiteral("Methode nicht erlaubt")); };
    const bool keyGiven = !apiKey.isEmpty() && exchange.header("X-Api-Key") == apiKey.toUtf8();

    if (s.value(0) == "api") {
        if (!keyGiven)
            return exchange.text(401, QStringLiteral("Ungültiger oder fehlender API-Key"));
        const QByteArray area = s.value(1);
        if (n == 2 && area == "create-upload-token")
            return is("POST") ? uploads->createToken(exchange) : notAllowed();
        if (n == 2 && area == "upload-chunk")
            return is("POST") ? uploads->uploadChunk(exchange) : notAllowed();
        if (n == 2 && area == "upload-complete")
            return is("POST") ? uploads->complete(exchange) : notAllowed();
        if (area == "outgoing") {
            if (n == 2)
                return is("GET") ? outgoing->list(exchange) : notAllowed();
            if (n == 3)
                return is("DELETE") ? outgoing->remove(exchange, decoded(2)) : notAllowed();
            if (n == 4 && s[3] == "password")
                return is("GET") || is("PATCH") ? outgoing->password(exchange, decoded(2)) : notAllowed();
            if (n == 4 && s[3] == "files")
                return is("PATCH") ? outgoing->rename(exchange, decoded(2)) : notAllowed();
        }
        if (area == "incoming") {
            if (n == 2)
                return is("GET") ? incoming->list(exchange) : notAllowed();
            if (n == 3)
                return is("DELETE") ? incoming->remove(exchange, decoded(2)) : notAllowed();
            if (n == 4 && s[3] == "downloaded")
                return is("POST") ? incoming->markDownloaded(exchange, decoded(2)) : notAllowed();
            if (n >= 5 && s[3] == "files")
                return is("GET") ? incoming->file(exchange, decoded(2), s.mid(4).join('/')) : notAllowed();
        }
        return exchange.error(404, QStringLiteral("Unbekannter Endpunkt"));
    }
    if (n == 0)
        return is("GET") ? incoming->form(exchange) : is("POST") ? incoming->submit(exchange) : notAllowed();
    if (s[0] == "d" && n == 2)
        return is("GET") ? outgoing->publicPage(exchange, decoded(1)) : notAllowed();
    if (s[0] == "d" && n >= 4 && s[2] == "file")
        return is("GET") ? outgoing->publicFile(exchange, decoded(1), s.mid(3).join('/'), keyGiven)
                         : notAllowed();
    if (s[0] == "updates" && n >= 2)
        return is("GET") ? serveUpdate(exchange, s.mid(1).join('/')) : notAllowed();
    if (options.testControls && n == 2 && s[0] == "bench" && s[1] == "sink")
        return is("PUT") || is("POST") ? uploads->sink(exchange) : notAllowed();
    exchange.text(404, QStringLiteral("Nicht gefunden"));
}

void DevServer::Impl::serveUpdate(ServerExchange& exchange, const QByteArray& encodedName) {
    QString dir;
    {
        std::lock_guard lock(mutex);
        dir = updateFeedDir;
    }
    const auto name = ServerNames::fileName(ServerNames::percentDecode(encodedName));
    if (dir.isEmpty() || !name || !exchange.file(dir + u'/' + *name, *name))
        exchange.text(404, QStringLiteral("Nicht gefunden"));
}

DevServer::DevServer() : DevServer(Options{}) {}

DevServer::DevServer(Options options) : d(std::make_unique<Impl>(*this, std::move(options))) {
    d->prepare();
}

DevServer::~DevServer() {
    stop();
}

bool DevServer::start() {
    return d->start();
}

void DevServer::stop() {
    d->stop();
}

bool DevServer::isRunning() const {
    return d->http != nullptr;
}

QString DevServer::lastError() const {
    std::lock_guard lock(d->mutex);
    return d->error;
}

int DevServer::port() const {
    return d->port;
}

QString DevServer::baseURL() const {
    return d->baseURL();
}

QString DevServer::apiKey() const {
    return d->apiKey;
}

QString DevServer::dataDir() const {
    return d->dataDir;
}

QByteArray DevServer::certificatePem() const {
    if (d->options.plainHttp || d->certificatePath.isEmpty())
        return {};
    QFile file(d->certificatePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void DevServer::failNext(const QString& path, int count, int status, const QByteArray& body) {
    d->controls.add(ServerControls::Kind::Fail, path, count, status, body);
}

void DevServer::delayNext(const QString& path, int count, int milliseconds) {
    d->controls.add(ServerControls::Kind::Delay, path, count, 0, {}, milliseconds);
}

void DevServer::garbleNext(const QString& path, int count) {
    d->controls.add(ServerControls::Kind::Garble, path, count);
}

void DevServer::redirectNext(const QString& path, int count, int status, const QByteArray& location) {
    d->controls.add(ServerControls::Kind::Redirect, path, count, status, location);
}

void DevServer::dropNext(const QString& path, int count) {
    d->controls.add(ServerControls::Kind::Drop, path, count);
}

void DevServer::truncateNext(const QString& path, int count, qint64 bytes, int stallMilliseconds) {
    d->controls.add(ServerControls::Kind::Truncate, path, count, 0, {}, stallMilliseconds,
                    qMax<qint64>(bytes, 0));
}

void DevServer::outage(int milliseconds, int sparedPeerPort) {
    d->controls.startOutage(milliseconds);
    if (d->port > 0)
        shutDownAcceptedSockets(d->port, sparedPeerPort);
}

void DevServer::setRecordBodies(bool record) {
    d->controls.setRecordBodies(record);
}

QList<DevServer::RecordedRequest> DevServer::requests() const {
    return d->controls.requests();
}

void DevServer::clearRequests() {
    d->controls.clear();
}

int DevServer::maxInFlight(const QString& path) const {
    return d->controls.maxInFlight(path);
}

QString DevServer::seedTransfer(const QList<SeedFile>& files, const QString& password, QDateTime createdAt) {
    if (!d->prepare() || files.isEmpty())
        return {};
    for (const auto& file : files) {
        if (!ServerNames::isValidFileName(file.name))
            return {};
    }
    ServerStore& store = *d->store;
    ServerStore::Transfer transfer;
    transfer.code = store.uniqueCode();
    transfer.name = files.first().name;
    transfer.createdAt = createdAt.isValid() ? createdAt.toUTC() : QDateTime::currentDateTimeUtc();
    transfer.password = password;
    const QString dir = store.transferDir(transfer.code);
    QDir().mkpath(dir);
    for (const auto& file : files) {
        QSaveFile out(dir + u'/' + file.name);
        if (!out.open(QIODevice::WriteOnly) || out.write(file.content) != file.content.size() ||
            !out.commit()) {
            QDir(dir).removeRecursively();
            return {};
        }
        transfer.files.append(ServerStore::describe(dir + u'/' + file.name, file.name));
    }
    store.addTransfer(transfer);
    return transfer.code;
}

QString DevServer::seedIncoming(const QString& customerName, const QList<SeedFile>& files,
                                const QString& auftragsnummer, const QString& nachricht, bool withCodeAndLink,
                                QDateTime uploadDate) {
    if (!d->prepare())
        return {};
    ServerStore& store = *d->store;
    QList<std::pair<QString, QString>> written;
    bool ok = true;
    for (const auto& file : files) {
        const QString path = store.scratchFile();
        QFile out(path);
        ok = ok && ServerNames::isValidFileName(file.name) && out.open(QIODevice::WriteOnly) &&
             out.write(file.content) == file.content.size();
        written.append({file.name, path});
    }
    ServerStore::Incoming upload;
    upload.customerName = customerName;
    upload.auftragsnummer = auftragsnummer;
    upload.nachricht = nachricht;
    upload.uploadDate = uploadDate.isValid() ? uploadDate.toUTC() : QDateTime::currentDateTimeUtc();
    if (withCodeAndLink) {
        upload.code = store.uniqueCode();
        upload.hasLink = true;
    }
    const QString token = ok ? IncomingEndpoints::create(store, upload, written) : QString();
    for (const auto& file : written)
        QFile::remove(file.second);
    return token;
}

void DevServer::setUpdateFeedDirectory(const QString& dir) {
    std::lock_guard lock(d->mutex);
    d->updateFeedDir = dir;
}
