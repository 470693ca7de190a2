// Upload: uploadOutgoing of a 1 GiB file to the bundled server over HTTPS on loopback against curl
// sending the same file to the server's sink in one PUT, alternating, in the same run; then the peak
// resident memory while uploading a 2 GiB file. The server runs in a child process (this program with
// --serve), so the memory figures are the client's alone.
// Usage: bench_upload [rounds] [throughput MiB] [memory MiB] (defaults 3, 1024, 2048). Files go to a
// temporary folder (TMPDIR) and are removed at the end; curl must be installed.
#include "APIService.h"
#include "APIServiceUpload.h"
#include "AppError.h"
#include "KeychainService.h"
#include "SecretStore.h"
#include "TransferServer.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sys/resource.h>

namespace {

class MemorySecretStore : public SecretStore {
public:
    int find(const QString& service, const QString& account, QByteArray* data) override {
        const auto it = items.constFind(service + u'\n' + account);
        if (it == items.constEnd())
            return -1;
        *data = *it;
        return 0;
    }
    int remove(const QString& service, const QString& account) override {
        return items.remove(service + u'\n' + account) ? 0 : -1;
    }
    int store(const QString& service, const QString& account, const QByteArray& data) override {
        items[service + u'\n' + account] = data;
        return 0;
    }
    QMap<QString, QByteArray> items;
};

int serve() {
    TransferServer server;
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

struct UploadTimes {
    double chunksSeconds = 0; // until the last chunk was confirmed
    double totalSeconds = 0;  // including the completion, in which the server joins the chunks
    double cpuSeconds = 0;
};

QCoro::Task<> catching(QCoro::Task<APIService::OutgoingResult> task, std::exception_ptr* error) {
    try {
        co_await std::move(task);
    } catch (...) {
        *error = std::current_exception();
    }
}

UploadTimes upload(const QString& path) {
    QElapsedTimer timer;
    timer.start();
    UploadTimes times;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    auto progress = [&](double fraction, double) {
        if (fraction >= 1.0)
            times.chunksSeconds = timer.nsecsElapsed() / 1e9;
    };
    std::exception_ptr error; // QCoro 0.8's waitFor would wait forever on a thrown error
    QCoro::waitFor(catching(APIService::uploadOutgoing(path, std::nullopt, false, progress), &error));
    if (error)
        std::rethrow_exception(error);
    times.totalSeconds = timer.nsecsElapsed() / 1e9;
    times.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    return times;
}

double curlPut(const QString& path, const QString& baseURL, double* cpu) {
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"), {QStringLiteral("-k"), QStringLiteral("-s"), QStringLiteral("-f"),
                                        QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                        QStringLiteral("-T"), path, baseURL + QStringLiteral("/bench/sink")});
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0)
        qFatal("curl failed: %s", curl.readAllStandardError().constData());
    *cpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    return timer.nsecsElapsed() / 1e9;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int run(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const qint64 throughputSize = (argc > 2 ? std::atoll(argv[2]) : 1024) << 20;
    const qint64 memorySize = (argc > 3 ? std::atoll(argv[3]) : 2048) << 20;

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--serve")});
    if (!server.waitForReadyRead(30000))
        qFatal("the server did not start");
    const QStringList address = QString::fromUtf8(server.readLine()).trimmed().split(u' ');
    const QString baseURL = address.value(0);
    KeychainService::setDefaultStore(std::make_shared<MemorySecretStore>());
    KeychainService::saveCredentials({baseURL, address.value(1)});

    QTemporaryDir dir;
    const QString file = randomFile(dir.filePath(QStringLiteral("throughput.bin")), throughputSize);
    std::printf("throughput: %.0f MiB to %s, %d rounds, alternating\n", throughputSize / 1048576.0,
                qPrintable(baseURL), rounds);
    double curlCpu = 0;
    curlPut(file, baseURL, &curlCpu); // warm-up: both then read the file from the page cache
    QList<double> curlTimes, chunkTimes, totalTimes;
    for (int round = 0; round < rounds; ++round) {
        const double curlSeconds = curlPut(file, baseURL, &curlCpu);
        const UploadTimes times = upload(file);
        curlTimes << curlSeconds;
        chunkTimes << times.chunksSeconds;
        totalTimes << times.totalSeconds;
        std::printf("  round %d: curl %.2f s (CPU %.2f s); uploadOutgoing %.2f s to the last chunk, "
                    "%.2f s with completion (CPU %.2f s); %.3f / %.3f x curl\n",
                    round + 1, curlSeconds, curlCpu, times.chunksSeconds, times.totalSeconds,
                    times.cpuSeconds, times.chunksSeconds / curlSeconds, times.totalSeconds / curlSeconds);
    }
    std::printf("  median: curl %.2f s (%.0f MiB/s); uploadOutgoing %.2f s to the last chunk (%.3f x curl), "
                "%.2f s with completion (%.3f x curl)\n",
                median(curlTimes), throughputSize / 1048576.0 / median(curlTimes), median(chunkTimes),
                median(chunkTimes) / median(curlTimes), median(totalTimes),
                median(totalTimes) / median(curlTimes));
    QFile::remove(file);

    const QString big = randomFile(dir.filePath(QStringLiteral("memory.bin")), memorySize);
    const qint64 before = statusKiB("VmRSS:");
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        qFatal("cannot reset the peak resident size");
    clearRefs.close();
    const UploadTimes times = upload(big);
    const qint64 peak = statusKiB("VmHWM:");
    std::printf("memory: %.0f MiB in %.2f s; VmRSS before %.1f MiB, VmHWM during %.1f MiB, growth %.1f MiB "
                "(limit 64 MiB)\n",
                memorySize / 1048576.0, times.totalSeconds, before / 1024.0, peak / 1024.0,
                (peak - before) / 1024.0);

    server.closeWriteChannel();
    server.waitForFinished(60000);
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--serve") == 0)
        return serve();
    QCoreApplication app(argc, argv);
    try {
        return run(argc, argv);
    } catch (const AppError& error) {
        std::fprintf(stderr, "upload failed: %s\n", error.what());
        return 1;
    }
}
