// Transfers through the client's HTTP engine against curl on loopback over HTTPS, alternating in the
// same run, each figure the median of the rounds:
// - upload of one file (uploadOutgoing) beside `curl --http1.1 -T` of the same file, to (a) an nginx
//   offering HTTP/2 whose upload endpoints and sink discard the body, and (b) the bundled server
//   (in a child process, this program with --serve), with the CPU time of each;
// - how late a 10 ms timer on the main thread fires during each client upload;
// - download of the same file from nginx (downloadOutgoingFile) beside `curl -o` of the same URL;
// - peak resident memory while uploading a larger file to nginx, beside the idle size.
// - with --outage: an upload to the bundled server without, then with, an outage in the middle.
// Usage: bench_upload [rounds] [throughput MiB] [memory MiB] (defaults 3, 1024, 2048), or
// bench_upload --outage [MiB] [seconds] (defaults 1024, 30). Files go to a
// temporary folder (TMPDIR) and are removed at the end; curl and nginx must be installed.
#include "DevServer.h"
#include "NginxServer.h"
#include "models/AppError.h"
#include "net/HttpEngine.h"
#include "services/APIService.h"
#include "services/APIServiceOutgoing.h"
#include "services/APIServiceUpload.h"
#include "services/KeychainService.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QCoroTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The server the uploads and downloads go to, as an operation of the client hands it to them.
ServerConnection benchServer;

int serve() {
    DevServer server;
    if (!server.start()) {
        std::fprintf(stderr, "server: %s\n", qPrintable(server.lastError()));
        return 1;
    }
    std::printf("%s %s\n", qPrintable(server.baseURL()), qPrintable(server.apiKey()));
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line); // until the parent closes our input
    server.stop();
    return 0;
}

QString randomFile(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QRandomGenerator random(7);
    QByteArray block(8 << 20, Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= block.size()) {
        random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        file.write(block.constData(), std::min<qint64>(left, block.size()));
    }
    return path;
}

qint64 statusKiB(const char* field) {
    QFile file(QStringLiteral("/proc/self/status"));
    file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    return -1;
}

// User + system CPU seconds of this process, or of its waited-for children (curl; the server
// process is waited for only at the end).
double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The upload endpoints answer as the bundled server does without storing anything; nginx reads and
// drops every body. Files of `downloads` are served under /d/c/file/.
QStringList sinkSite(const QString& downloads) {
    return {QStringLiteral(R"(    default_type application/json;
    location = /api/create-upload-token { return 200 '{"token":"t"}'; }
    location = /api/upload-chunk { return 200 '{}'; }
    location = /api/upload-complete { return 200 '{"status":"success","code":"c","downloadURL":"https://127.0.0.1/d/c","files":[{"name":"throughput.bin","size":1,"sizeFormatted":"1 B"}]}'; }
    location = /sink { return 200 '{}'; }
    location /d/c/file/ { alias %1/; default_type application/octet-stream; })")
                .arg(downloads)};
}

struct UploadTimes {
    double chunksSeconds = 0; // until the last chunk was confirmed
    double totalSeconds = 0;  // including the completion, in which the server joins the chunks
    double cpuSeconds = 0;
    QList<double> timerLateness; // ms, of each 10 ms timeout on the main thread
};

template <typename T> QCoro::Task<> catching(QCoro::Task<T> task, std::exception_ptr* error) {
    try {
        co_await std::move(task);
    } catch (...) {
        *error = std::current_exception();
    }
}

template <typename T> void waitOrThrow(QCoro::Task<T> task) {
    std::exception_ptr error; // QCoro 0.8's waitFor would wait forever on a thrown error
    QCoro::waitFor(catching(std::move(task), &error));
    if (error)
        std::rethrow_exception(error);
}

UploadTimes upload(const QString& path) {
    QElapsedTimer timer;
    timer.start();
    UploadTimes times;
    // How late the main thread serves a 10 ms timer while the upload runs.
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    qint64 lastTick = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = timer.nsecsElapsed();
        times.timerLateness << (now - lastTick) / 1e6 - 10.0;
        lastTick = now;
    });
    ticker.start(10);
    lastTick = timer.nsecsElapsed();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    auto progress = [&](double fraction, double) {
        if (fraction >= 1.0 && times.chunksSeconds == 0)
            times.chunksSeconds = timer.nsecsElapsed() / 1e9;
    };
    waitOrThrow(APIService::uploadOutgoing(benchServer, path, std::nullopt, false, progress));
    ticker.stop();
    times.totalSeconds = timer.nsecsElapsed() / 1e9;
    times.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    return times;
}

double download(const QString& folder, double* cpu) {
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    waitOrThrow(APIService::downloadOutgoingFile(benchServer, QStringLiteral("c"),
                                                 QStringLiteral("throughput.bin"), folder));
    *cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    return timer.nsecsElapsed() / 1e9;
}

double runCurl(const QStringList& arguments, double* cpu) {
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"), QStringList{QStringLiteral("-k"), QStringLiteral("-s"),
                                                   QStringLiteral("-f"), QStringLiteral("--http1.1")} +
                                           arguments);
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0)
        qFatal("curl failed: %s", curl.readAllStandardError().constData());
    *cpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    return timer.nsecsElapsed() / 1e9;
}

// User + system CPU seconds a running process has used so far.
double processCpuSeconds(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double percentile(QList<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[std::min<qsizetype>(values.size() - 1, qsizetype(fraction * values.size()))];
}

double loadAverage() {
    double load = -1;
    getloadavg(&load, 1);
    return load;
}

// Alternating rounds of curl PUT to `sinkURL` and uploadOutgoing to the stored server.
// `serverPid` is the server's process, whose CPU time is reported beside each side's.
void compareUploads(const char* label, const QString& file, const QString& sinkURL, qint64 serverPid,
                    int rounds, QList<double>* lateness) {
    const double mib = QFileInfo(file).size() / 1048576.0;
    double curlCpu = 0;
    const QStringList curlArguments{QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-T"),
                                    file, sinkURL};
    runCurl(curlArguments, &curlCpu); // warm-up: both then read the file from the page cache
    QList<double> curlTimes, curlCpus, chunkTimes, totalTimes, clientCpus;
    std::printf("upload to %s: %.0f MiB, %d rounds, alternating (load average %.2f)\n", label, mib, rounds,
                loadAverage());
    for (int round = 0; round < rounds; ++round) {
        const double serverBefore = processCpuSeconds(serverPid);
        const double curlSeconds = runCurl(curlArguments, &curlCpu);
        const double serverMiddle = processCpuSeconds(serverPid);
        const UploadTimes times = upload(file);
        const double serverAfter = processCpuSeconds(serverPid);
        curlTimes << curlSeconds;
        curlCpus << curlCpu;
        chunkTimes << times.chunksSeconds;
        totalTimes << times.totalSeconds;
        clientCpus << times.cpuSeconds;
        *lateness += times.timerLateness;
        std::printf("  round %d: curl %.2f s (CPU %.2f s); uploadOutgoing %.2f s to the last chunk, "
                    "%.2f s with completion (CPU %.2f s); throughput %.3f x curl; timer late by %.1f ms "
                    "at most%s\n",
                    round + 1, curlSeconds, curlCpu, times.chunksSeconds, times.totalSeconds,
                    times.cpuSeconds, curlSeconds / times.totalSeconds,
                    *std::max_element(times.timerLateness.begin(), times.timerLateness.end()),
                    serverPid > 0
                        ? qPrintable(QStringLiteral("; server CPU %1 s for curl, %2 s for the client")
                                         .arg(serverMiddle - serverBefore, 0, 'f', 2)
                                         .arg(serverAfter - serverMiddle, 0, 'f', 2))
                        : "");
    }
    const double gib = mib / 1024.0;
    std::printf(
        "  median: curl %.2f s (%.0f MiB/s, CPU %.2f s/GiB); uploadOutgoing %.2f s to the last chunk, "
        "%.2f s with completion (%.0f MiB/s, CPU %.2f s/GiB); throughput %.3f x curl, CPU %.2f x "
        "curl; load average %.2f\n",
        median(curlTimes), mib / median(curlTimes), median(curlCpus) / gib, median(chunkTimes),
        median(totalTimes), mib / median(totalTimes), median(clientCpus) / gib,
        median(curlTimes) / median(totalTimes), median(clientCpus) / median(curlCpus), loadAverage());
}

} // namespace

int run(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const qint64 throughputSize = (argc > 2 ? std::atoll(argv[2]) : 1024) << 20;
    const qint64 memorySize = (argc > 3 ? std::atoll(argv[3]) : 2048) << 20;

    QTemporaryDir dir;
    HttpEngine http({.pinsFolder = dir.filePath(QStringLiteral("pins"))});
    const QString sources = dir.filePath(QStringLiteral("sources"));
    QDir().mkpath(sources);
    const QString file = randomFile(sources + QStringLiteral("/throughput.bin"), throughputSize);
    QList<double> lateness;

    NginxServer nginx(sinkSite(sources));
    benchServer = {&http, {nginx.url(), QStringLiteral("key")}};
    compareUploads("nginx (HTTP/2 offered)", file, nginx.url() + QStringLiteral("/sink"), 0, rounds,
                   &lateness);

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--serve")});
    if (!server.waitForReadyRead(30000))
        qFatal("the server did not start");
    const QStringList address = QString::fromUtf8(server.readLine()).trimmed().split(u' ');
    benchServer = {&http, {address.value(0), address.value(1)}};
    compareUploads("the bundled server", file, address.value(0) + QStringLiteral("/bench/sink"),
                   server.processId(), rounds, &lateness);
    server.closeWriteChannel();
    server.waitForFinished(60000);
    std::printf("main-thread 10 ms timer during all client uploads: %lld timeouts, late by %.1f ms at the "
                "99th percentile, %.1f ms at most\n",
                qint64(lateness.size()), percentile(lateness, 0.99),
                *std::max_element(lateness.begin(), lateness.end()));

    benchServer = {&http, {nginx.url(), QStringLiteral("key")}};
    const QString target = dir.filePath(QStringLiteral("downloads"));
    const QString curlTarget = dir.filePath(QStringLiteral("curl.bin"));
    const QString url = nginx.url() + QStringLiteral("/d/c/file/throughput.bin");
    std::printf("download from nginx: %.0f MiB, %d rounds, alternating (load average %.2f)\n",
                throughputSize / 1048576.0, rounds, loadAverage());
    QList<double> curlTimes, clientTimes;
    for (int round = 0; round < rounds; ++round) {
        double curlCpu = 0, clientCpu = 0;
        const double curlSeconds = runCurl({QStringLiteral("-o"), curlTarget, url}, &curlCpu);
        QFile::remove(curlTarget);
        const double clientSeconds = download(target, &clientCpu);
        QDir(target).removeRecursively();
        curlTimes << curlSeconds;
        clientTimes << clientSeconds;
        std::printf("  round %d: curl -o %.2f s (CPU %.2f s); downloadOutgoingFile %.2f s (CPU %.2f s); "
                    "throughput %.3f x curl\n",
                    round + 1, curlSeconds, curlCpu, clientSeconds, clientCpu, curlSeconds / clientSeconds);
    }
    std::printf("  median: curl -o %.2f s; downloadOutgoingFile %.2f s; throughput %.3f x curl; load average "
                "%.2f\n",
                median(curlTimes), median(clientTimes), median(curlTimes) / median(clientTimes),
                loadAverage());
    QFile::remove(file);

    // In a fresh process, so idle is the client at rest before its first transfer.
    const QString big = randomFile(dir.filePath(QStringLiteral("memory.bin")), memorySize);
    std::fflush(stdout);
    QProcess memory;
    memory.setProcessChannelMode(QProcess::ForwardedChannels);
    memory.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--memory"), big, nginx.url(), dir.filePath(QStringLiteral("pins"))});
    if (!memory.waitForFinished(-1) || memory.exitCode() != 0)
        qFatal("the memory run failed");
    QFile::remove(big);
    return 0;
}

// Idle resident size of a client that has its HTTP engine running and its credentials read, then the
// peak while it uploads `file` to the nginx sink at `url`.
int measureMemory(const QString& file, const QString& url, const QString& pins) {
    HttpEngine http({.pinsFolder = pins});
    benchServer = {&http, {url, QStringLiteral("key")}};
    QCoro::waitFor(QCoro::sleepFor(std::chrono::milliseconds(200)));
    const qint64 idle = statusKiB("VmRSS:");
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        qFatal("cannot reset the peak resident size");
    clearRefs.close();
    const UploadTimes times = upload(file);
    const qint64 peak = statusKiB("VmHWM:");
    std::printf("memory: %.0f MiB to nginx in %.2f s in a fresh process; idle VmRSS %.1f MiB, VmHWM during "
                "%.1f MiB, growth %.1f MiB (limit 32 MiB)\n",
                QFileInfo(file).size() / 1048576.0, times.totalSeconds, idle / 1024.0, peak / 1024.0,
                (peak - idle) / 1024.0);
    return 0;
}

// An upload to the bundled server in this process, then the same with the server dropping every
// connection for `seconds` once half of the chunks have arrived: the time of each, and the chunk
// body bytes the server received (what the client sent again shows as the difference).
int measureOutage(qint64 size, int seconds) {
    QTemporaryDir dir;
    HttpEngine http({.pinsFolder = dir.filePath(QStringLiteral("pins"))});
    const QString file = randomFile(dir.filePath(QStringLiteral("outage.bin")), size);
    DevServer::Options options;
    options.dataDir = dir.filePath(QStringLiteral("server"));
    DevServer server(options);
    if (!server.start())
        qFatal("server: %s", qPrintable(server.lastError()));
    benchServer = {&http, {server.baseURL(), server.apiKey()}};
    const auto chunkRequests = [&server] {
        QList<DevServer::RecordedRequest> found;
        for (const auto& request : server.requests())
            if (request.path == QStringLiteral("/api/upload-chunk"))
                found << request;
        return found;
    };
    const auto bodyBytes = [](const QList<DevServer::RecordedRequest>& requests) {
        qint64 sum = 0;
        for (const auto& request : requests)
            sum += request.bodySize;
        return sum;
    };
    const qint64 chunks = (size + APIService::uploadChunkSize - 1) / APIService::uploadChunkSize;

    std::printf("upload of %.0f MiB to the bundled server, %d s outage (load average %.2f)\n",
                size / 1048576.0, seconds, loadAverage());
    const UploadTimes plain = upload(file);
    const auto plainRequests = chunkRequests();
    std::printf("  without outage: %.2f s, %lld chunk requests, %lld body bytes\n", plain.totalSeconds,
                qint64(plainRequests.size()), bodyBytes(plainRequests));
    server.clearRequests();
    // The plain run's 2 GiB of chunks and joined file would otherwise be written back during the
    // second run and slow its second half.
    ::sync();
    QTimer watch;
    bool cut = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!cut && chunkRequests().size() >= chunks / 2) {
            cut = true;
            qInfo("outage of %d s starts", seconds);
            server.outage(seconds * 1000);
        }
    });
    watch.start(10);
    const UploadTimes withOutage = upload(file);
    watch.stop();
    const auto outageRequests = chunkRequests();
    // The longest time without a chunk arriving: the outage and the wait after it.
    qint64 longestGap = 0;
    for (qsizetype i = 1; i < outageRequests.size(); ++i)
        longestGap = std::max(longestGap, outageRequests[i - 1].at.msecsTo(outageRequests[i].at));
    const qint64 framing = bodyBytes(plainRequests) - size;
    const qint64 limit = size + 4 * APIService::uploadChunkSize + framing;
    std::printf("  longest time without a chunk arriving: %.2f s\n", longestGap / 1000.0);
    // Where the time went: chunk requests begun before the gap, after it, and the completion.
    if (!outageRequests.isEmpty()) {
        const QDateTime first = outageRequests.first().at;
        qsizetype gapAt = 1;
        while (gapAt < outageRequests.size() &&
               outageRequests[gapAt - 1].at.msecsTo(outageRequests[gapAt].at) < longestGap)
            ++gapAt;
        QDateTime completed;
        for (const auto& request : server.requests())
            if (request.path == QStringLiteral("/api/upload-complete"))
                completed = request.at;
        std::printf("  chunks begun: %lld in %.2f s before the gap, %lld in %.2f s after it; completion "
                    "asked %.2f s after the last chunk began, upload done %.2f s after the first\n",
                    qint64(gapAt), first.msecsTo(outageRequests[gapAt - 1].at) / 1000.0,
                    qint64(outageRequests.size() - gapAt),
                    gapAt < outageRequests.size()
                        ? outageRequests[gapAt].at.msecsTo(outageRequests.last().at) / 1000.0
                        : 0.0,
                    outageRequests.last().at.msecsTo(completed) / 1000.0, withOutage.chunksSeconds);
    }
    std::printf(
        "  with outage: %.2f s (limit %.2f s), %lld chunk requests, %lld body bytes (limit %lld: file "
        "+ 4 chunks + %lld bytes of framing); load average %.2f\n",
        withOutage.totalSeconds, seconds + plain.totalSeconds + 5, qint64(outageRequests.size()),
        bodyBytes(outageRequests), limit, framing, loadAverage());
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--serve") == 0)
        return serve();
    QCoreApplication app(argc, argv);
    try {
        if (argc > 1 && qstrcmp(argv[1], "--outage") == 0)
            return measureOutage((argc > 2 ? std::atoll(argv[2]) : 1024) << 20,
                                 argc > 3 ? std::atoi(argv[3]) : 30);
        if (argc > 4 && qstrcmp(argv[1], "--memory") == 0)
            return measureMemory(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                 QString::fromLocal8Bit(argv[4]));
        return run(argc, argv);
    } catch (const AppError& error) {
        std::fprintf(stderr, "transfer failed: %s\n", error.what());
        return 1;
    }
}
