#include "APIServiceOutgoing.h"
#include "APIServiceUpload.h"
#include "SelfSignedCertificate.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "WaitForTask.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A loopback port nobody listens on right now.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        qFatal("no free port");
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// nginx offering HTTP/2 over TLS in front of the bundled server (plain HTTP), run as the
// current user with everything it writes inside a temporary folder. Two sites: `port` passes
// everything through; `refusingPort` answers a chunk upload with 413 from its headers alone,
// before reading the body.
class NginxProxy {
public:
    explicit NginxProxy(int backendPort, int port = freePort()) : port(port), refusingPort(freePort()) {
        QString error;
        const QString certificate = m_dir.filePath(QStringLiteral("cert.pem"));
        const QString key = m_dir.filePath(QStringLiteral("key.pem"));
        if (!SelfSignedCertificate::create(certificate, key, &error))
            qFatal("certificate: %s", qPrintable(error));
        const QString backend = QStringLiteral("http://127.0.0.1:%1").arg(backendPort);
        const QString site = QStringLiteral(R"(
  server {
    listen 127.0.0.1:%1 ssl http2;
    ssl_certificate %2;
    ssl_certificate_key %3;
    client_max_body_size 0;
    %4
    location / {
      proxy_pass %5;
      proxy_http_version 1.1;
      proxy_request_buffering off;
      proxy_buffering off;
    }
  })");
        const QString refuse = QStringLiteral("location = /api/upload-chunk { client_max_body_size 1k; "
                                              "proxy_pass %1; }")
                                   .arg(backend);
        // Workers of a root master switch to "nobody", who could not enter this folder.
        const QString user = ::geteuid() == 0 ? QStringLiteral("user root;") : QString();
        const QString config =
            QStringLiteral(R"(%1
worker_processes 1;
daemon off;
pid %2/nginx.pid;
error_log %2/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path %2/body;
  proxy_temp_path %2/proxy;
  fastcgi_temp_path %2/fastcgi;
  uwsgi_temp_path %2/uwsgi;
  scgi_temp_path %2/scgi;
  %3
  %4
}
)")
                .arg(user, m_dir.path(),
                     site.arg(QString::number(port), certificate, key, QString(), backend),
                     site.arg(QString::number(refusingPort), certificate, key, refuse, backend));
        writeFile(m_dir.filePath(QStringLiteral("nginx.conf")), config.toUtf8());
        m_nginx.setProcessChannelMode(QProcess::MergedChannels);
        m_nginx.start(nginxPath(), {QStringLiteral("-p"), m_dir.path(), QStringLiteral("-e"),
                                    m_dir.filePath(QStringLiteral("error.log")), QStringLiteral("-c"),
                                    m_dir.filePath(QStringLiteral("nginx.conf"))});
        QElapsedTimer waited;
        waited.start();
        while (!(accepts(port) && accepts(refusingPort))) {
            if (m_nginx.state() == QProcess::NotRunning || waited.hasExpired(10000))
                qFatal("nginx did not start: %s\n%s", m_nginx.readAll().constData(),
                       readAll(m_dir.filePath(QStringLiteral("error.log"))).constData());
            QTest::qWait(20);
        }
    }
    ~NginxProxy() {
        m_nginx.terminate();
        if (!m_nginx.waitForFinished(10000))
            m_nginx.kill();
        m_nginx.waitForFinished();
    }

    static QString nginxPath() {
        return QStandardPaths::findExecutable(QStringLiteral("nginx"),
                                              {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    }
    QString url(int sitePort) const { return QStringLiteral("https://127.0.0.1:%1").arg(sitePort); }

    // The protocol nginx agrees on with a client that offers HTTP/2, as curl reports it.
    QString negotiatedVersion() const {
        QProcess curl;
        curl.start(QStringLiteral("curl"),
                   {QStringLiteral("-sk"), QStringLiteral("--http2"), QStringLiteral("-o"),
                    QStringLiteral("/dev/null"), QStringLiteral("-w"), QStringLiteral("%{http_version}"),
                    url(port) + QStringLiteral("/")});
        curl.waitForFinished(20000);
        return QString::fromUtf8(curl.readAllStandardOutput());
    }

    const int port;
    const int refusingPort;

private:
    QTemporaryDir m_dir;
    QProcess m_nginx;
};

QByteArray randomBytes(qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(18);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}
} // namespace

// The client behind an nginx that offers HTTP/2, with the bundled server behind it.
class TestHttp2 : public QObject {
    Q_OBJECT

    QTemporaryDir files;

private Q_SLOTS:
    void initTestCase() {
        if (NginxProxy::nginxPath().isEmpty())
            QFAIL("nginx is not installed (scripts/bootstrap.sh installs it)");
    }

    void uploadAndDownloadThroughHttp2Proxy() {
        const int proxyPort = freePort();
        TransferServer::Options options;
        options.plainHttp = true;
        // The links the server hands out lead through the proxy.
        options.publicBaseURL = QStringLiteral("https://127.0.0.1:%1").arg(proxyPort);
        TestServerFixture fixture(options);
        NginxProxy nginx(fixture.server().port(), proxyPort);
        QCOMPARE(nginx.negotiatedVersion(), QStringLiteral("2"));
        fixture.server().clearRequests();
        fixture.storeCredentials(nginx.url(nginx.port), fixture.server().apiKey());

        const QByteArray content = randomBytes(3 * APIService::uploadChunkSize + 4321);
        const QString path = files.filePath(QStringLiteral("Messreihe 7.bin"));
        writeFile(path, content);
        const APIService::OutgoingResult result =
            waitForTask(APIService::uploadOutgoing(path, std::nullopt, false, {}));
        QCOMPARE(result.files.value(0).name, QStringLiteral("Messreihe 7.bin"));
        QCOMPARE(result.files.value(0).size, content.size());
        QCOMPARE(fixture.server().requests().size(), 1 + 4 + 1);

        const QList<OutgoingTransfer> sent = waitForTask(APIService::fetchOutgoing());
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].code, result.code);
        QCOMPARE(sent[0].files.value(0).size, content.size());

        const QString folder = files.filePath(QStringLiteral("wieder"));
        const QString saved = waitForTask(
            APIService::downloadOutgoingFile(result.code, QStringLiteral("Messreihe 7.bin"), folder));
        QCOMPARE(saved, folder + QStringLiteral("/Messreihe 7.bin"));
        QVERIFY(readAll(saved) == content);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Messreihe 7.bin")});
    }

    // A proxy that refuses a chunk from its headers alone must end the upload with its status
    // at once; an HTTP/2 stream left waiting for the rest of the body would hang until the
    // 60 s inactivity limit.
    void uploadRefusedBeforeTheBodyFailsPromptly() {
        TransferServer::Options options;
        options.plainHttp = true;
        TestServerFixture fixture(options);
        NginxProxy nginx(fixture.server().port());
        fixture.storeCredentials(nginx.url(nginx.refusingPort), fixture.server().apiKey());

        const QString path = files.filePath(QStringLiteral("zu groß.bin"));
        // Every chunk, the last included, is larger than the proxy takes.
        writeFile(path, randomBytes(2 * APIService::uploadChunkSize + 4096));
        QElapsedTimer timer;
        timer.start();
        const QString failure = failureOf(APIService::uploadOutgoing(path, std::nullopt, false, {}));
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(failure.startsWith(QStringLiteral("Server-Fehler 413: ")), qPrintable(failure));
        QVERIFY2(elapsed < 20000, qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
        for (const auto& request : fixture.server().requests())
            QVERIFY2(request.path != QStringLiteral("/api/upload-chunk") &&
                         request.path != QStringLiteral("/api/upload-complete"),
                     qPrintable(request.path));
    }
};

QTEST_GUILESS_MAIN(TestHttp2)
#include "tst_http2.moc"
