// ZIP creation: createZip against the zip tool run directly on the same tree, and the UTF-8 flag patch
// on an archive with many entries. Usage: bench_zip [rounds] (default 3), or bench_zip [rounds] media
// for a tree of which half is already-compressed media, against zip with and without deflating.
// Data goes to a temporary folder (TMPDIR) and is removed at the end.
#include "services/ZipService.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/resource.h>

namespace {

constexpr int folderCount = 50;
constexpr int filesPerFolder = 40;
constexpr qint64 meanFileSize = 256 * 1024;
constexpr int classicEntries = 65534;

// Half the files are word soup (deflates well), half random bytes (does not), so that both of zip's
// paths are in the measurement.
qint64 generateTree(const QString& root) {
    std::mt19937_64 random(42);
    static const char* const words[] = {"Auftrag ", "Datei ", "Transfer ", "Zanvolt ", "Server ",
                                        "Kunde ",   "Link ",  "Passwort ", "\n",       "2024 "};
    qint64 total = 0;
    for (int folder = 0; folder < folderCount; ++folder) {
        const QString dir = root + QStringLiteral("/folder%1/sub").arg(folder, 2, 10, QLatin1Char('0'));
        QDir().mkpath(dir);
        for (int index = 0; index < filesPerFolder; ++index) {
            const qint64 size = meanFileSize / 2 + qint64(random() % meanFileSize);
            QByteArray bytes;
            bytes.reserve(size + 16);
            if (index % 2 == 0) {
                while (bytes.size() < size)
                    bytes.append(words[random() % 10]);
                bytes.truncate(size);
            } else {
                bytes.resize(size);
                for (qint64 at = 0; at + 8 <= size; at += 8)
                    qToLittleEndian<quint64>(random(), bytes.data() + at);
            }
            QFile file((index % 4 == 3 ? dir : QFileInfo(dir).path()) +
                       QStringLiteral("/file%1.dat").arg(index, 3, 10, QLatin1Char('0')));
            file.open(QIODevice::WriteOnly);
            file.write(bytes);
            total += size;
        }
    }
    return total;
}

QCoro::Task<QUrl> catching(QCoro::Task<QUrl> task, std::exception_ptr* error) {
    try {
        co_return co_await std::move(task);
    } catch (...) {
        *error = std::current_exception();
        co_return QUrl();
    }
}

QString createZip(const QString& item) {
    std::exception_ptr error;
    const QUrl archive = QCoro::waitFor(
        catching(ZipService::createZip({QUrl::fromLocalFile(item)}, QStringLiteral("bench.zip")), &error));
    if (error)
        std::rethrow_exception(error);
    return archive.toLocalFile();
}

void zipDirectly(const QString& parent, const QString& name, const QString& archive,
                 const QStringList& options = {}) {
    QFile::remove(archive);
    QProcess zip;
    zip.setWorkingDirectory(parent);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
    zip.setProcessEnvironment(environment);
    zip.start(QStringLiteral("/usr/bin/zip"),
              QStringList{QStringLiteral("-r"), QStringLiteral("-X"), QStringLiteral("-q")} + options +
                  QStringList{archive, name});
    zip.waitForFinished(-1);
    if (zip.exitCode() != 0)
        throw std::runtime_error("zip failed");
}

// Name, CRC and sizes of every central entry: what an unpacker sees, without the flag field. Without
// `compressedSize` the compressed size is left out, for archives that store what the other deflates.
QList<QByteArray> centralEntries(const QString& path, bool compressedSize = true) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray zip = file.readAll();
    const qsizetype end = zip.lastIndexOf("PK\x05\x06");
    qsizetype at = qFromLittleEndian<quint32>(zip.constData() + end + 16);
    QList<QByteArray> list;
    for (int i = 0; i < qFromLittleEndian<quint16>(zip.constData() + end + 10); ++i) {
        const auto field = [&](int offset) {
            return qFromLittleEndian<quint16>(zip.constData() + at + offset);
        };
        list.append(zip.mid(at + 16, 4) + (compressedSize ? zip.mid(at + 20, 4) : QByteArray()) +
                    zip.mid(at + 24, 4) + zip.mid(at + 46, field(28)));
        at += 46 + field(28) + field(30) + field(32);
    }
    std::sort(list.begin(), list.end());
    return list;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct IoCounters {
    qint64 rchar = 0, wchar = 0, syscr = 0, syscw = 0;
};

// Bytes and calls of read()/write() by this process, as the kernel counts them.
IoCounters ioCounters() {
    QFile file(QStringLiteral("/proc/self/io"));
    file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    IoCounters counters;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() != 2)
            continue;
        const qint64 value = parts[1].trimmed().toLongLong();
        if (parts[0] == "rchar")
            counters.rchar = value;
        else if (parts[0] == "wchar")
            counters.wchar = value;
        else if (parts[0] == "syscr")
            counters.syscr = value;
        else if (parts[0] == "syscw")
            counters.syscw = value;
    }
    return counters;
}

IoCounters operator-(const IoCounters& a, const IoCounters& b) {
    return {a.rchar - b.rchar, a.wchar - b.wchar, a.syscr - b.syscr, a.syscw - b.syscw};
}

void measurePatch(const QString& path, const char* label) {
    const IoCounters first = ioCounters();
    const IoCounters idle = ioCounters() - first; // what reading the counters itself costs
    const IoCounters before = ioCounters();
    QElapsedTimer timer;
    timer.start();
    ZipService::setUtf8Flag(path);
    const double ms = timer.nsecsElapsed() / 1e6;
    const IoCounters used = (ioCounters() - before) - idle;
    std::printf("  %s: %.0f ms, read %lld bytes in %lld calls, wrote %lld bytes in %lld calls\n", label, ms,
                used.rchar, used.syscr, used.wchar, used.syscw);
}

// User and system time of this process (all threads) and of its finished children: less sensitive than
// wall time to other load on a shared machine.
double cpuSeconds() {
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

struct Timing {
    double seconds;
    double cpu;
};

template <typename F> Timing timed(F&& run) {
    const double cpuBefore = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    run();
    return {timer.nsecsElapsed() / 1e9, cpuSeconds() - cpuBefore};
}

void benchPacking(const QString& dataDir, int rounds) {
    const QString tree = dataDir + QStringLiteral("/tree");
    const qint64 bytes = generateTree(tree);
    const QString direct = dataDir + QStringLiteral("/direct.zip");
    std::printf("packing: %d files, %.1f MiB in %s\n", folderCount * filesPerFolder, bytes / 1048576.0,
                qPrintable(tree));

    // Untimed warm-up: both runs then read the tree from the page cache.
    zipDirectly(dataDir, QStringLiteral("tree"), direct);
    QList<double> directTimes, serviceTimes, ratios, cpuRatios;
    QString archive;
    for (int round = 0; round < rounds; ++round) {
        const auto [directSeconds, directCpu] =
            timed([&] { zipDirectly(dataDir, QStringLiteral("tree"), direct); });
        const auto [serviceSeconds, serviceCpu] = timed([&] { archive = createZip(tree); });
        directTimes.append(directSeconds);
        serviceTimes.append(serviceSeconds);
        ratios.append(serviceSeconds / directSeconds);
        cpuRatios.append(serviceCpu / directCpu);
        std::printf("  round %d: zip -r -X -q %.2f s (cpu %.2f s), createZip %.2f s (cpu %.2f s), ratio %.3f "
                    "(cpu %.3f)\n",
                    round + 1, directSeconds, directCpu, serviceSeconds, serviceCpu, ratios.last(),
                    cpuRatios.last());
    }
    std::printf("  median: zip %.2f s, createZip %.2f s, median ratio %.3f, median cpu ratio %.3f\n",
                median(directTimes), median(serviceTimes), median(ratios), median(cpuRatios));
    std::printf("  flag patch on a copy of the direct archive (%lld entries):\n",
                qint64(centralEntries(direct).size()));
    const QString copy = dataDir + QStringLiteral("/direct-copy.zip");
    QFile::copy(direct, copy);
    measurePatch(copy, "run       ");
    QFile::remove(copy);
    std::printf("  archives %lld / %lld bytes, entries (name, CRC, sizes) identical: %s\n",
                QFileInfo(direct).size(), QFileInfo(archive).size(),
                centralEntries(direct) == centralEntries(archive) ? "yes" : "NO");
    QFile::remove(archive);
}

// 500 MiB: half random bytes named as photos and videos, half word text in many smaller files.
qint64 generateMediaTree(const QString& root) {
    std::mt19937_64 random(7);
    static const char* const words[] = {"Auftrag ", "Datei ", "Transfer ", "Zanvolt ", "Server ",
                                        "Kunde ",   "Link ",  "Passwort ", "\n",       "2024 "};
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    };
    qint64 total = 0;
    for (int index = 0; index < 60; ++index) {
        // 50 photos of 3 MiB and 10 videos of 10 MiB: 250 MiB.
        const bool video = index >= 50;
        QByteArray bytes((video ? 10 : 3) << 20, Qt::Uninitialized);
        for (qsizetype at = 0; at + 8 <= bytes.size(); at += 8)
            qToLittleEndian<quint64>(random(), bytes.data() + at);
        write(root + (video ? QStringLiteral("/Videos/clip%1.mp4") : QStringLiteral("/Fotos/IMG_%1.jpg"))
                         .arg(index, 4, 10, QLatin1Char('0')),
              bytes);
        total += bytes.size();
    }
    for (int index = 0; index < 1000; ++index) {
        // 1,000 text files of 256 KiB: 250 MiB.
        QByteArray bytes;
        bytes.reserve(256 * 1024 + 16);
        while (bytes.size() < 256 * 1024)
            bytes.append(words[random() % 10]);
        bytes.truncate(256 * 1024);
        write(
            root +
                QStringLiteral("/Texte/%1/notiz%2.txt").arg(index / 100).arg(index, 4, 10, QLatin1Char('0')),
            bytes);
        total += bytes.size();
    }
    return total;
}

void benchMediaPacking(const QString& dataDir, int rounds) {
    const QString tree = dataDir + QStringLiteral("/tree");
    const qint64 bytes = generateMediaTree(tree);
    const QString deflated = dataDir + QStringLiteral("/deflated.zip");
    const QString stored = dataDir + QStringLiteral("/stored.zip");
    std::printf("packing, half media: 1,060 files, %.1f MiB in %s\n", bytes / 1048576.0, qPrintable(tree));

    zipDirectly(dataDir, QStringLiteral("tree"), deflated); // untimed warm-up: page cache
    QList<double> zipTimes, storeTimes, serviceTimes, ratios, storeRatios, cpuRatios;
    QString archive;
    for (int round = 0; round < rounds; ++round) {
        const auto [zipSeconds, zipCpu] =
            timed([&] { zipDirectly(dataDir, QStringLiteral("tree"), deflated); });
        const double storeSeconds =
            timed([&] {
                zipDirectly(dataDir, QStringLiteral("tree"), stored, {QStringLiteral("-0")});
            }).seconds;
        const auto [serviceSeconds, serviceCpu] = timed([&] { archive = createZip(tree); });
        zipTimes.append(zipSeconds);
        storeTimes.append(storeSeconds);
        serviceTimes.append(serviceSeconds);
        ratios.append(serviceSeconds / zipSeconds);
        storeRatios.append(serviceSeconds / storeSeconds);
        cpuRatios.append(serviceCpu / zipCpu);
        std::printf(
            "  round %d: zip -r -X -q %.2f s (cpu %.2f s), zip -0 %.2f s, createZip %.2f s (cpu %.2f s), "
            "ratio to zip %.3f (cpu %.3f), to zip -0 %.3f\n",
            round + 1, zipSeconds, zipCpu, storeSeconds, serviceSeconds, serviceCpu, ratios.last(),
            cpuRatios.last(), storeRatios.last());
    }
    std::printf("  median: zip %.2f s, zip -0 %.2f s, createZip %.2f s; median ratio to zip %.3f (cpu %.3f), "
                "to zip -0 %.3f\n",
                median(zipTimes), median(storeTimes), median(serviceTimes), median(ratios), median(cpuRatios),
                median(storeRatios));
    const bool same = centralEntries(deflated, false) == centralEntries(archive, false) &&
                      centralEntries(stored, false) == centralEntries(archive, false);
    std::printf(
        "  archives: zip %lld, zip -0 %lld, createZip %lld bytes; entries (name, CRC, size) identical: %s\n",
        QFileInfo(deflated).size(), QFileInfo(stored).size(), QFileInfo(archive).size(), same ? "yes" : "NO");
    QFile::remove(archive);
}

// Stored, empty entries: the smallest archive with this many headers.
qint64 writeManyEntries(const QString& path, int count, qint64* directorySize) {
    QByteArray local, central;
    for (int i = 0; i < count; ++i) {
        const QByteArray name = QStringLiteral("d%1/f%2.txt")
                                    .arg(i / 1000, 3, 10, QLatin1Char('0'))
                                    .arg(i, 6, 10, QLatin1Char('0'))
                                    .toLatin1();
        QByteArray header(30, '\0');
        std::memcpy(header.data(), "PK\x03\x04", 4);
        qToLittleEndian<quint16>(10, header.data() + 4);
        qToLittleEndian<quint16>(quint16(name.size()), header.data() + 26);
        QByteArray entry(46, '\0');
        std::memcpy(entry.data(), "PK\x01\x02", 4);
        qToLittleEndian<quint16>(0x031E, entry.data() + 4);
        qToLittleEndian<quint16>(10, entry.data() + 6);
        qToLittleEndian<quint16>(quint16(name.size()), entry.data() + 28);
        qToLittleEndian<quint32>(quint32(local.size()), entry.data() + 42);
        local += header + name;
        central += entry + name;
    }
    QByteArray end(22, '\0');
    std::memcpy(end.data(), "PK\x05\x06", 4);
    qToLittleEndian<quint16>(quint16(count), end.data() + 8);
    qToLittleEndian<quint16>(quint16(count), end.data() + 10);
    qToLittleEndian<quint32>(quint32(central.size()), end.data() + 12);
    qToLittleEndian<quint32>(quint32(local.size()), end.data() + 16);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(local + central + end);
    *directorySize = central.size();
    return file.size();
}

void benchPatch(const QString& dataDir) {
    // The end record counts entries in 16 bits and 0xFFFF marks ZIP64, so this is the most entries a
    // classic archive, the only kind the patch changes, can hold.
    const QString classic = dataDir + QStringLiteral("/classic.zip");
    qint64 directorySize = 0;
    const qint64 size = writeManyEntries(classic, classicEntries, &directorySize);
    std::printf("patch, classic archive: %d entries, %lld bytes, central directory %lld bytes\n",
                classicEntries, size, directorySize);
    std::printf(
        "  bound: read %lld (tail 65557 + directory + 2 + 4 + 2 per entry), write %d (2 per header)\n",
        65557 + directorySize + 8LL * classicEntries, 4 * classicEntries);
    measurePatch(classic, "first run ");
    measurePatch(classic, "second run");

    // With more than 65,535 entries zip writes the ZIP64 markers, which the patch leaves alone.
    const QString folder = dataDir + QStringLiteral("/many");
    for (int dir = 0; dir < 100; ++dir) {
        const QString sub = folder + QStringLiteral("/d%1").arg(dir, 3, 10, QLatin1Char('0'));
        QDir().mkpath(sub);
        for (int file = 0; file < 1000; ++file)
            QFile(sub + QStringLiteral("/f%1").arg(file, 4, 10, QLatin1Char('0'))).open(QIODevice::WriteOnly);
    }
    const QString zip64 = dataDir + QStringLiteral("/many.zip");
    zipDirectly(dataDir, QStringLiteral("many"), zip64);
    QDir(folder).removeRecursively();
    std::printf("patch, archive zip wrote for 100,000 files in 100 folders: %lld bytes\n",
                QFileInfo(zip64).size());
    measurePatch(zip64, "run       ");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QTemporaryDir dataDir;
    QTemporaryDir cacheDir; // createZip's archives, on the same file system as zip's
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheDir.path()));
    if (argc > 2 && std::strcmp(argv[2], "media") == 0) {
        benchMediaPacking(dataDir.path(), rounds);
        return 0;
    }
    benchPatch(dataDir.path());
    benchPacking(dataDir.path(), rounds);
    return 0;
}
