#pragma once

#include "SelfSignedCertificate.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// nginx on loopback offering HTTP/2 over TLS (a self-signed certificate made at start), run as the
// current user with everything it writes in a temporary folder. Each site is the inside of one
// server block (its locations) and gets a free port of its own. Header-only, so the benchmarks can
// use it without the test support library.
class NginxServer {
public:
    explicit NginxServer(const QStringList& sites, QList<int> ports = {}) {
        QString error;
        const QString certificate = m_dir.filePath(QStringLiteral("cert.pem"));
        const QString key = m_dir.filePath(QStringLiteral("key.pem"));
        if (!SelfSignedCertificate::create(certificate, key, &error))
            qFatal("certificate: %s", qPrintable(error));
        QString servers;
        for (qsizetype i = 0; i < sites.size(); ++i) {
            m_ports << (i < ports.size() && ports[i] > 0 ? ports[i] : freePort());
            servers +=
                QStringLiteral("  server {\n    listen 127.0.0.1:%1 ssl http2;\n    ssl_certificate %2;\n"
                               "    ssl_certificate_key %3;\n    client_max_body_size 0;\n%4\n  }\n")
                    .arg(QString::number(m_ports.last()), certificate, key, sites[i]);
        }
        // Workers of a root master switch to "nobody", who could not enter this folder.
        const QString user = ::geteuid() == 0 ? QStringLiteral("user root;\n") : QString();
        const QString config = user +
                               QStringLiteral("worker_processes 1;\ndaemon off;\npid %1/nginx.pid;\n"
                                              "events { worker_connections 64; }\nhttp {\n"
                                              "  access_log off;\n  client_body_temp_path %1/body;\n"
                                              "  proxy_temp_path %1/proxy;\n  fastcgi_temp_path %1/fastcgi;\n"
                                              "  uwsgi_temp_path %1/uwsgi;\n  scgi_temp_path %1/scgi;\n")
                                   .arg(m_dir.path()) +
                               servers + QStringLiteral("}\n");
        QFile file(m_dir.filePath(QStringLiteral("nginx.conf")));
        if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
            qFatal("cannot write the nginx configuration");
        file.close();
        const QString log = m_dir.filePath(QStringLiteral("error.log"));
        m_nginx.setProcessChannelMode(QProcess::MergedChannels);
        m_nginx.start(executable(), {QStringLiteral("-p"), m_dir.path(), QStringLiteral("-e"), log,
                                     QStringLiteral("-c"), file.fileName()});
        QElapsedTimer waited;
        waited.start();
        for (const int port : std::as_const(m_ports)) {
            while (!accepts(port)) {
                if (m_nginx.state() == QProcess::NotRunning || waited.hasExpired(10000)) {
                    QFile errors(log);
                    errors.open(QIODevice::ReadOnly);
                    qFatal("nginx did not start: %s\n%s", m_nginx.readAll().constData(),
                           errors.readAll().constData());
                }
                QThread::msleep(20);
            }
        }
    }
    ~NginxServer() {
        m_nginx.terminate();
        if (!m_nginx.waitForFinished(10000))
            m_nginx.kill();
        m_nginx.waitForFinished();
    }
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    static QString executable() {
        return QStandardPaths::findExecutable(QStringLiteral("nginx"),
                                              {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    }
    // A loopback port nobody listens on right now.
    static int freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            qFatal("no free port");
        ::close(fd);
        return ntohs(address.sin_port);
    }

    int port(int site = 0) const { return m_ports.value(site); }
    QString url(int site = 0) const { return QStringLiteral("https://127.0.0.1:%1").arg(port(site)); }

private:
    static sockaddr_in loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(port));
        return address;
    }
    static bool accepts(int port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in address = loopback(port);
        const bool connected =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return connected;
    }

    QTemporaryDir m_dir;
    QList<int> m_ports;
    QProcess m_nginx;
};
