#include "APIServiceOutgoing.h"
#include "APIServiceUpload.h"
#include "NginxServer.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "WaitForTask.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {
// The sites in front of the bundled server at `backendPort` (plain HTTP): the first passes
// everything through; the second answers a chunk upload with 413 from its headers alone, before
// reading the body.
QStringList proxySites(int backendPort) {
    const QString pass =
        QStringLiteral("    location / { proxy_pass http://127.0.0.1:%1; proxy_http_version 1.1; "
                       "proxy_request_buffering off; proxy_buffering off; }")
            .arg(backendPort);
    const QString refuse = QStringLiteral("    location = /api/upload-chunk { client_max_body_size 1k; "
                                          "proxy_pass http://127.0.0.1:%1; }\n")
                               .arg(backendPort);
    return {pass, refuse + pass};
}

// The protocol nginx agrees on with a client that offers HTTP/2, as curl reports it.
QString negotiatedVersion(const QString& url) {
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-sk"), QStringLiteral("--http2"), QStringLiteral("-o"),
                QStringLiteral("/dev/null"), QStringLiteral("-w"), QStringLiteral("%{http_version}"),
                url + QStringLiteral("/")});
    curl.waitForFinished(20000);
    return QString::fromUtf8(curl.readAllStandardOutput());
}
} // namespace

// The client behind an nginx that offers HTTP/2, with the bundled server behind it.
class TestHttp2 : public QObject {
    Q_OBJECT

    QTemporaryDir files;

private Q_SLOTS:
    void initTestCase() {
        if (NginxServer::executable().isEmpty())
            QFAIL("nginx is not installed (scripts/bootstrap.sh installs it)");
    }

    void throughAnHttp2ProxyTransfersWorkAndARefusalIsPrompt() {
        const int proxyPort = NginxServer::freePort();
        TransferServer::Options options;
        options.plainHttp = true;
        // The links the server hands out lead through the proxy.
        options.publicBaseURL = QStringLiteral("https://127.0.0.1:%1").arg(proxyPort);
        TestServerFixture fixture(options);
        NginxServer nginx(proxySites(fixture.server().port()), {proxyPort});
        QCOMPARE(negotiatedVersion(nginx.url()), QStringLiteral("2"));
        fixture.server().clearRequests();
        fixture.storeCredentials(nginx.url(), fixture.server().apiKey());

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

        // A proxy that refuses a chunk from its headers alone must end the upload with its status
        // at once; an HTTP/2 stream left waiting for the rest of the body would hang until the
        // 60 s inactivity limit.
        fixture.server().clearRequests();
        fixture.storeCredentials(nginx.url(1), fixture.server().apiKey());

        const QString tooBig = files.filePath(QStringLiteral("zu groß.bin"));
        // Every chunk, the last included, is larger than the proxy takes.
        writeFile(tooBig, randomBytes(2 * APIService::uploadChunkSize + 4096));
        QElapsedTimer timer;
        timer.start();
        const QString failure = failureOf(APIService::uploadOutgoing(tooBig, std::nullopt, false, {}));
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
