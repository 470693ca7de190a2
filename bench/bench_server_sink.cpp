// How fast the bundled server takes uploads: curl sends the same bytes once to the raw sink
// (PUT /bench/sink, body straight to disk) and once as 5 MiB multipart chunks to
// /api/upload-chunk, each as one stream and with four in parallel. The chunk path must keep up
// with the sink. Usage: bench_server_sink [MiB=256] [rounds=3]
#include "DevServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr qint64 chunkSize = 5 * 1024 * 1024;

// Runs curl with a config file of requests; returns seconds, or -1 on failure.
double runCurl(const QString& configPath, int parallel) {
    QProcess curl;
    QStringList arguments{"-sS"};
    if (parallel > 1)
        arguments << "--parallel"
                  << "--parallel-max" << QString::number(parallel);
    arguments << "-K" << configPath;
    QElapsedTimer timer;
    timer.start();
    curl.start("curl", arguments);
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0) {
        std::fprintf(stderr, "curl failed: %s\n", curl.readAllStandardError().constData());
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

void writeConfig(const QString& path, const QStringList& entries) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(entries.join("next\n").toUtf8());
}

QString quoted(const QString& text) {
    return '"' + QString(text).replace('\\', "\\\\").replace('"', "\\\"") + '"';
}

QByteArray post(const DevServer& server, const QString& path, const QByteArray& body) {
    QProcess curl;
    curl.start("curl", {"-sS", "-k", "-X", "POST", "-H", "X-Api-Key: " + server.apiKey(), "-H",
                        "Content-Type: application/json", "--data-binary", "@-", server.baseURL() + path});
    curl.write(body);
    curl.closeWriteChannel();
    curl.waitForFinished(600000);
    return curl.readAllStandardOutput();
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 mebibytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 256;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    const qint64 total = mebibytes * 1024 * 1024;

    QTemporaryDir scratch;
    DevServer server;
    if (!server.start()) {
        std::fprintf(stderr, "server: %s\n", qPrintable(server.lastError()));
        return 1;
    }

    // Random bytes, so neither side can profit from compression; cut into the client's chunks.
    const QString source = scratch.filePath("source.bin");
    QStringList chunkPaths;
    {
        QFile whole(source);
        whole.open(QIODevice::WriteOnly);
        QByteArray block(chunkSize, Qt::Uninitialized);
        for (qint64 offset = 0; offset < total; offset += chunkSize) {
            const qint64 size = std::min(chunkSize, total - offset);
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), size / 4);
            whole.write(block.constData(), size);
            const QString chunkPath = scratch.filePath(QString("chunk-%1").arg(chunkPaths.size()));
            QFile chunk(chunkPath);
            chunk.open(QIODevice::WriteOnly);
            chunk.write(block.constData(), size);
            chunkPaths << chunkPath;
        }
    }
    const int chunks = int(chunkPaths.size());
    // Options after "next" start afresh in curl, so every request carries its own.
    const QString key = "header = " + quoted("X-Api-Key: " + server.apiKey()) +
                        "\nheader = \"Expect:\"\ninsecure\nfail\noutput = \"/dev/null\"\n";

    const QString sinkWhole = scratch.filePath("sink-whole.cfg");
    writeConfig(sinkWhole, {"url = " + quoted(server.baseURL() + "/bench/sink") +
                            "\nupload-file = " + quoted(source) + "\n" + key});
    QStringList sinkEntries;
    for (const QString& chunkPath : chunkPaths)
        sinkEntries << "url = " + quoted(server.baseURL() + "/bench/sink") +
                           "\nupload-file = " + quoted(chunkPath) + "\n" + key;
    const QString sinkChunks = scratch.filePath("sink-chunks.cfg");
    writeConfig(sinkChunks, sinkEntries);

    // The chunk bodies are built beforehand, exactly as the client frames them, and sent like the
    // sink's pieces, so curl does the same work for both and only the server's side differs.
    const auto chunkConfig = [&](const QString& token) {
        QStringList entries;
        for (int i = 0; i < chunks; ++i) {
            const QByteArray boundary =
                "boundary-" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
            QByteArray head;
            const QList<std::pair<QByteArray, QByteArray>> fields{
                {"token", token.toUtf8()},
                {"filename", "bench.bin"},
                {"chunkIndex", QByteArray::number(i)},
                {"totalChunks", QByteArray::number(chunks)}};
            for (const auto& [name, value] : fields)
                head += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                        "\"\r\n\r\n" + value + "\r\n";
            head += "--" + boundary +
                    "\r\nContent-Disposition: form-data; name=\"chunk\"; filename=\"chunk.bin\"\r\n"
                    "Content-Type: application/octet-stream\r\n\r\n";
            QFile piece(chunkPaths[i]);
            piece.open(QIODevice::ReadOnly);
            const QString bodyPath = chunkPaths[i] + "." + token;
            QFile body(bodyPath);
            body.open(QIODevice::WriteOnly);
            body.write(head + piece.readAll() + "\r\n--" + boundary + "--\r\n");
            entries << "url = " + quoted(server.baseURL() + "/api/upload-chunk") + "\n" + key +
                           "request = \"POST\"\nupload-file = " + quoted(bodyPath) +
                           "\nheader = " + quoted("Content-Type: multipart/form-data; boundary=" + boundary) +
                           "\n";
        }
        const QString path = scratch.filePath("chunks-" + token + ".cfg");
        writeConfig(path, entries);
        return path;
    };

    const auto createToken = [&] {
        return QJsonDocument::fromJson(post(server, "/api/create-upload-token", {}))["token"].toString();
    };
    const auto complete = [&](const QString& token) {
        const QJsonObject done =
            QJsonDocument::fromJson(
                post(server, "/api/upload-complete",
                     QJsonDocument(QJsonObject{{"token", token},
                                               {"files", QJsonArray{QJsonObject{{"name", "bench.bin"},
                                                                                {"totalChunks", chunks}}}},
                                               {"name", "bench.bin"},
                                               {"direction", "outgoing"}})
                         .toJson()))
                .object();
        QProcess::execute("curl",
                          {"-sk", "-o", "/dev/null", "-X", "DELETE", "-H", "X-Api-Key: " + server.apiKey(),
                           server.baseURL() + "/api/outgoing/" + done["code"].toString()});
        return done["files"].toArray().first()["size"].toInteger() == total;
    };
    // Each run starts with the previous runs' data on disk, so none pays for another's writeback.
    const auto settle = [&] {
        QDir(server.dataDir() + "/sink").removeRecursively();
        QProcess::execute("sync", {});
    };

    QMap<QString, QList<double>> seconds;
    for (int round = 0; round < rounds; ++round) {
        const QString single = createToken();
        const QString parallel = createToken();
        const QString singleConfig = chunkConfig(single);
        const QString parallelConfig = chunkConfig(parallel);
        settle();
        seconds["sink, 1 stream, whole file"] << runCurl(sinkWhole, 1);
        settle();
        seconds["sink, 5 MiB pieces, 1 stream"] << runCurl(sinkChunks, 1);
        settle();
        seconds["upload-chunk, 1 stream"] << runCurl(singleConfig, 1);
        settle();
        seconds["sink, 5 MiB pieces, 4 parallel"] << runCurl(sinkChunks, 4);
        settle();
        seconds["upload-chunk, 4 parallel"] << runCurl(parallelConfig, 4);
        settle();
        QElapsedTimer timer;
        timer.start();
        const bool completed = complete(single);
        seconds["upload-complete (curl round trip)"] << timer.nsecsElapsed() / 1e9;
        if (!completed || !complete(parallel)) {
            std::fprintf(stderr, "completion failed\n");
            return 1;
        }
    }

    std::printf("%lld MiB, %d chunks, median of %d rounds\n", mebibytes, chunks, rounds);
    for (auto it = seconds.begin(); it != seconds.end(); ++it) {
        const double s = median(it.value());
        if (it.key().startsWith("upload-complete"))
            std::printf("  %-34s %7.3f s\n", qPrintable(it.key()), s);
        else
            std::printf("  %-34s %7.3f s  %7.1f MB/s\n", qPrintable(it.key()), s, total / s / 1e6);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("  peak resident memory of the server process: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
