#include "TestFiles.h"
#include "WaitForTask.h"
#include "models/CancelledError.h"
#include "models/LocalPath.h"
#include "models/PlatformError.h"
#include "models/Utf8.h"
#include "services/PrivateTempDir.h"
#include "services/StagingFolder.h"
#include "services/ZipService.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A reader of its own, so that a misreading in the service does not cancel out here.
struct Entry {
    QByteArray name;
    int central; // offset of the central header
    int local;   // offset of the local header it names
    quint16 centralFlags;
    quint16 localFlags; // 0xFFFF when no local header is there
    quint32 mode;       // the Unix mode in the upper half of the external attributes
};

quint16 u16(const QByteArray& d, qsizetype at) {
    return qFromLittleEndian<quint16>(d.constData() + at);
}
quint32 u32(const QByteArray& d, qsizetype at) {
    return qFromLittleEndian<quint32>(d.constData() + at);
}
template <typename T> void put(QByteArray& d, qsizetype at, T v) {
    qToLittleEndian(v, d.data() + at);
}
qsizetype endRecord(const QByteArray& zip) {
    return zip.lastIndexOf("PK\x05\x06");
}

QList<Entry> entries(const QByteArray& zip) {
    QList<Entry> list;
    const qsizetype end = endRecord(zip);
    if (end < 0 || end + 22 > zip.size())
        return list;
    qsizetype at = u32(zip, end + 16);
    for (int i = 0; i < u16(zip, end + 10) && at + 46 <= zip.size(); ++i) {
        const int local = int(u32(zip, at + 42));
        const bool hasLocal = local + 8 <= zip.size() && zip.mid(local, 4) == "PK\x03\x04";
        list.append({zip.mid(at + 46, u16(zip, at + 28)), int(at), local, u16(zip, at + 8),
                     hasLocal ? u16(zip, local + 6) : quint16(0xFFFF), u32(zip, at + 38) >> 16});
        at += 46 + u16(zip, at + 28) + u16(zip, at + 30) + u16(zip, at + 32);
    }
    return list;
}

bool unzipAccepts(const QString& archive) {
    return QProcess::execute(QStringLiteral("unzip"), {QStringLiteral("-tqq"), archive}) == 0;
}

QStringList names(const QList<Entry>& list) {
    QStringList result;
    for (const Entry& e : list)
        result.append(QString::fromUtf8(e.name));
    result.sort();
    return result;
}

// The archive holds exactly these names, each flagged as UTF-8 in both its headers, and unzip accepts it.
void checkArchive(const QString& path, const QStringList& expected) {
    const QList<Entry> list = entries(readAll(path));
    QCOMPARE(names(list), expected);
    for (const Entry& e : list) {
        QVERIFY2(e.centralFlags & 0x0800, e.name.constData());
        QVERIFY2(e.localFlags != 0xFFFF && (e.localFlags & 0x0800), e.name.constData());
    }
    QVERIFY(unzipAccepts(path));
}

QUrl url(const QString& path) {
    return QUrl::fromLocalFile(path);
}

// A file whose name need not be UTF-8, which a QString path cannot make.
bool writeRaw(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    return fd >= 0 && ::write(fd, "x", 1) == 1 && ::close(fd) == 0;
}

Entry named(const QList<Entry>& list, const QByteArray& name) {
    for (const Entry& e : list) {
        if (e.name == name)
            return e;
    }
    return {name, -1, -1, 0, 0xFFFF, 0};
}

// State and parent of a process; state 0 when it is gone.
std::pair<char, qint64> processState(const QString& pid) {
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    const QList<QByteArray> fields = close < 0 ? QList<QByteArray>() : stat.mid(close + 2).split(' ');
    if (fields.size() < 2)
        return {0, 0};
    return {fields[0].at(0), fields[1].toLongLong()};
}

// The zip processes of this parent that still run (a zombie has ended).
QStringList zipProcesses(qint64 parent = QCoreApplication::applicationPid()) {
    QStringList found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        if (!readAll(QStringLiteral("/proc/%1/comm").arg(pid)).startsWith("zip\n"))
            continue;
        const auto [state, ppid] = processState(pid);
        if (ppid == parent && state != 'Z')
            found.append(pid);
    }
    return found;
}

int modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}
bool hasEnded(const QString& pid) {
    const char state = processState(pid).first;
    return state == 0 || state == 'Z';
}

// Deflating it takes seconds.
QString bigFile(const QString& path) {
    if (QFileInfo(path).size() == 384 << 20)
        return path;
    QDir().mkpath(QFileInfo(path).path());
    QFile big(path);
    big.open(QIODevice::WriteOnly);
    const QByteArray block = randomBytes(1 << 20);
    for (int i = 0; i < 384; ++i)
        big.write(block);
    return path;
}

} // namespace

class TestZipService : public QObject {
    Q_OBJECT
    QTemporaryDir m_runtime; // the cache folder
    QTemporaryDir m_work;
    QString m_archive; // crafted archives for the flag patch

    QString privateDir() const { return m_runtime.path() + QStringLiteral("/zanvolt"); }
    QString work(const QString& relative) const { return m_work.filePath(relative); }

    // Three ASCII entries as the zip tool writes them under the C locale: no flag bit set.
    QByteArray baseArchive() {
        const QString dir = work(QStringLiteral("base"));
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            writeFile(dir + u'/' + QLatin1String(name), QByteArray(name).repeated(50));
        QFile::remove(m_archive);
        QProcess zip;
        zip.setWorkingDirectory(dir);
        zip.setProcessEnvironment(QProcessEnvironment());
        zip.start(QStringLiteral("/usr/bin/zip"), {"-X", "-q", m_archive, "a.txt", "b.txt", "c.txt"});
        zip.waitForFinished();
        return readAll(m_archive);
    }

    // Writes the bytes, patches them, and returns what is on disk afterwards.
    QByteArray patched(const QByteArray& bytes) {
        writeFile(m_archive, bytes);
        ZipService::setUtf8Flag(m_archive);
        return readAll(m_archive);
    }

    // The tool's part of the text a failed patch shows.
    QString patchError(const QByteArray& bytes) {
        return failureOf([&] { patched(bytes); }).remove(QStringLiteral("ZIP-Erstellung fehlgeschlagen: "));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_runtime.isValid() && m_work.isValid());
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_runtime.path()));
        m_archive = work(QStringLiteral("crafted.zip"));
    }

    void cleanup() {
        const QStringList left =
            QDir(privateDir())
                .entryList({QStringLiteral("zanvolt-zip-*")}, QDir::AllEntries | QDir::System | QDir::Hidden);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
    }

    void packsItemsAtTopLevel() {
        writeFile(work(QStringLiteral("in/one.txt")), "one");
        writeFile(work(QStringLiteral("in/tree/top.txt")), "top");
        writeFile(work(QStringLiteral("in/tree/sub/deep/leaf.bin")), randomBytes(4096));
        QDir().mkpath(work(QStringLiteral("in/tree/empty")));

        // A stale archive of the same name must be replaced, not added to.
        writeFile(work(QStringLiteral("in/stale.txt")), "stale");
        QDir().mkpath(privateDir());
        const QString single = privateDir() + QStringLiteral("/single.zip");
        QProcess::execute(QStringLiteral("/usr/bin/zip"),
                          {QStringLiteral("-jq"), single, work("in/stale.txt")});

        const QUrl one =
            waitForTask(ZipService::createZip({url(work("in/one.txt"))}, QStringLiteral("single.zip")));
        QCOMPARE(one, url(single));
        checkArchive(single, {"one.txt"});

        const QUrl several =
            waitForTask(ZipService::createZip({url(work("in/tree") + u'/'), url(work("in/one.txt"))}));
        const QString name = several.fileName();
        QVERIFY2(QRegularExpression(QStringLiteral("^Zanvolt_\\d{4}-\\d\\d-\\d\\d_\\d{6}\\.zip$"))
                     .match(name)
                     .hasMatch(),
                 qPrintable(name));
        QCOMPARE(QFileInfo(several.toLocalFile()).path(), privateDir());
        checkArchive(several.toLocalFile(), {"one.txt", "tree/", "tree/empty/", "tree/sub/", "tree/sub/deep/",
                                             "tree/sub/deep/leaf.bin", "tree/top.txt"});

        // A dropped item's name is composed (NFC); names below it stay as they are on disk.
        const QString decomposed = QStringLiteral("Mu\u0308ller");
        writeFile(work("nfc/") + decomposed + QStringLiteral("/A\u0308rger.txt"), "x");
        const QUrl archive = waitForTask(ZipService::createZip({url(work("nfc/") + decomposed)}));
        checkArchive(archive.toLocalFile(),
                     {QStringLiteral("M\u00fcller/"), QStringLiteral("M\u00fcller/A\u0308rger.txt")});

        // More names than fit on a command line comfortably (they go through zip's standard input),
        // blanks at either end included.
        QStringList many{QStringLiteral("many/")};
        for (int i = 0; i < 2600; ++i) {
            const QString name =
                (i % 2 ? QStringLiteral(" %1 ") : QStringLiteral("%1")).arg(i) + QString(100, u'x');
            writeFile(work(QStringLiteral("many/") + name), QByteArray::number(i));
            many << QStringLiteral("many/") + name;
        }
        // A name that a line of that input cannot carry.
        writeFile(work(QStringLiteral("many/bericht\r")), "r");
        many << QStringLiteral("many/bericht\r");
        many.sort();
        const QUrl manyArchive =
            waitForTask(ZipService::createZip({url(work("many"))}, QStringLiteral("many.zip")));
        checkArchive(manyArchive.toLocalFile(), many);

        // Names that are not UTF-8 (Latin-1 from an old file server), dropped and inside a folder:
        // every one in the archive with its bytes, without the UTF-8 flag; the others flagged.
        const QByteArray latin = QFile::encodeName(work(QStringLiteral("latin")));
        QVERIFY(QDir().mkpath(work(QStringLiteral("latin/sub"))));
        for (const QByteArray& name :
             {latin + "/M\xfcller-Preisliste.txt", latin + "/sub/\xc4rger.txt", latin + "/ok.txt"})
            QVERIFY(writeRaw(name));
        const QUrl latinArchive = waitForTask(
            ZipService::createZip({LocalPath::url(latin + "/M\xfcller-Preisliste.txt"), url(work("latin"))},
                                  QStringLiteral("l.zip")));
        QByteArrayList stored;
        for (const Entry& e : entries(readAll(latinArchive.toLocalFile()))) {
            stored << e.name;
            const bool utf8 = decodeUtf8Strict(e.name).has_value();
            QVERIFY2(bool(e.centralFlags & 0x0800) == utf8 && bool(e.localFlags & 0x0800) == utf8, e.name);
        }
        std::sort(stored.begin(), stored.end());
        QCOMPARE(stored,
                 (QByteArrayList{"M\xfcller-Preisliste.txt", "latin/", "latin/M\xfcller-Preisliste.txt",
                                 "latin/ok.txt", "latin/sub/", "latin/sub/\xc4rger.txt"}));
        QVERIFY(unzipAccepts(latinArchive.toLocalFile()));
    }

    // A folder with a link to its own parent and one to itself: followed, zip would never end.
    void storesLinksInsideAsLinks() {
        writeFile(work(QStringLiteral("loops/a.txt")), "a");
        writeFile(work(QStringLiteral("loops/sub/b.txt")), "b");
        QVERIFY(QFile::link(QStringLiteral(".."), work(QStringLiteral("loops/sub/up"))));
        QVERIFY(QFile::link(QStringLiteral("../loops"), work(QStringLiteral("loops/again"))));
        QVERIFY(QFile::link(QStringLiteral("nowhere"), work(QStringLiteral("loops/dangling"))));
        // A dropped link stands for its folder; the links inside stay links.
        QVERIFY(QFile::link(work(QStringLiteral("loops")), work(QStringLiteral("shortcut"))));
        writeFile(work(QStringLiteral("-dash.txt")), "d");

        const QUrl archive = waitForTask(
            ZipService::createZip({url(work("loops")), url(work("shortcut")), url(work("-dash.txt"))},
                                  QStringLiteral("loops.zip")));
        QStringList expected;
        for (const QString& top : {QStringLiteral("loops"), QStringLiteral("shortcut")}) {
            for (const char* below : {"/", "/a.txt", "/again", "/dangling", "/sub/", "/sub/b.txt", "/sub/up"})
                expected << top + QLatin1String(below);
        }
        expected << QStringLiteral("-dash.txt");
        expected.sort();
        checkArchive(archive.toLocalFile(), expected);
        const QList<Entry> list = entries(readAll(archive.toLocalFile()));
        for (const char* link : {"loops/sub/up", "loops/again", "loops/dangling", "shortcut/again"})
            QVERIFY2((named(list, link).mode & 0170000) == 0120000, link);
    }

    void cancelEndsZip() {
        bigFile(work(QStringLiteral("cancel/big.bin")));
        CancelToken cancel;
        // The timer fires while zip runs only if packing leaves the event loop free.
        QTimer::singleShot(300, &cancel, &CancelToken::cancel);
        QVERIFY_THROWS_EXCEPTION(
            CancelledError,
            waitForTask(ZipService::createZip({url(work("cancel"))}, QStringLiteral("cancel.zip"), &cancel)));
        QVERIFY(zipProcesses().isEmpty());
        QVERIFY(!QFileInfo::exists(privateDir() + QStringLiteral("/cancel.zip")));
        QVERIFY(
            QDir(privateDir()).entryList({QStringLiteral("zi*")}, QDir::Files).isEmpty()); // zip's own file
    }

    // This test program, started again as a client that packs (see main), is killed mid-way.
    void zipEndsWithTheClient() {
        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZANVOLT_TEST_PACK"),
                           bigFile(work(QStringLiteral("cancel/big.bin"))));
        client.setProcessEnvironment(environment);
        client.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(client.waitForStarted());
        QStringList zips;
        QTRY_VERIFY_WITH_TIMEOUT(!(zips = zipProcesses(client.processId())).isEmpty(), 20000);
        client.kill();
        QVERIFY(client.waitForFinished());
        QTRY_VERIFY_WITH_TIMEOUT(hasEnded(zips.first()), 5000);

        // What the killed client left goes as at the next start (leftoversGoLinksAreNotFollowed owns how).
        PrivateTempDir::removeLeftovers();
        QFile::remove(work(QStringLiteral("cancel/big.bin")));
    }

    void checksFreeSpaceFirst() {
        writeFile(work(QStringLiteral("space/a.bin")), QByteArray(3 << 20, 'a'));
        writeFile(work(QStringLiteral("space/folder/b.bin")), QByteArray(1 << 20, 'b'));
        const QList<QUrl> items{url(work("space/a.bin")), url(work("space/folder"))};
        QStringList asked;
        qint64 free = 1153433;
        ZipService::Options fullDisk;
        fullDisk.availableBytes = [&](const QString& folder) {
            asked << folder;
            return free;
        };
        QCOMPARE(
            failureOf(ZipService::createZip(items, QStringLiteral("space.zip"), nullptr, {}, fullDisk)),
            QStringLiteral("Nicht genug Speicherplatz für das ZIP-Archiv: 5.0 MB benötigt, 1.1 MB frei."));
        QCOMPARE(asked, QStringList{privateDir()});
        QVERIFY(!QFileInfo::exists(privateDir() + QStringLiteral("/space.zip")));

        free = (5 << 20) + 3 * 256; // exactly what is needed
        checkArchive(
            waitForTask(ZipService::createZip(items, QStringLiteral("space.zip"), nullptr, {}, fullDisk))
                .toLocalFile(),
            {"a.bin", "folder/", "folder/b.bin"});
        free = -1; // unknown: zip finds out itself
        QVERIFY(waitForTask(ZipService::createZip(items, QStringLiteral("space.zip"), nullptr, {}, fullDisk))
                    .isValid());
    }

    void patchesEachHeaderOnce() {
        QByteArray bytes = baseArchive();
        const QList<Entry> list = entries(bytes);
        put<quint16>(bytes, list[0].central + 8, 0x0800); // central already marked, local not
        put<quint16>(bytes, list[1].local + 6, 0x2002);   // other bits survive
        QByteArray expected = bytes;
        for (const Entry& e : list) {
            expected[e.central + 9] = char(expected[e.central + 9] | 0x08);
            expected[e.local + 7] = char(expected[e.local + 7] | 0x08);
        }
        QCOMPARE(patched(bytes), expected);

        // A central entry pointing at no local header: its central flag only, and no error.
        bytes = baseArchive();
        put<quint32>(bytes, list[1].central + 42, 2);          // inside another header
        put<quint32>(bytes, list[2].central + 42, 0xFFFFFF00); // beyond the end
        expected = bytes;
        for (const Entry& e : list)
            expected[e.central + 9] = char(expected[e.central + 9] | 0x08);
        expected[list[0].local + 7] = char(expected[list[0].local + 7] | 0x08);
        QCOMPARE(patched(bytes), expected);
    }

    void unreadableDirectoriesAreReportedOrLeftAlone() {
        const QString noEnd = QStringLiteral("ZIP-Struktur unlesbar (kein End-of-Central-Directory)");
        const QByteArray base = baseArchive();
        QByteArray bytes = base;
        put<quint16>(bytes, endRecord(bytes) + 20, 0xFFFF);
        patched(bytes + QByteArray(65535, 'c'));
        checkArchive(m_archive, {"a.txt", "b.txt", "c.txt"});
        QCOMPARE(patchError(bytes + QByteArray(65536, 'c')), noEnd);
        QCOMPARE(patchError(QByteArray(100, 'x')), noEnd);
        QCOMPARE(patchError("PK\x05\x06 short"), QStringLiteral("<no error>"));
        const QString missing = work(QStringLiteral("missing.zip"));
        QVERIFY_THROWS_EXCEPTION(PlatformError, ZipService::setUtf8Flag(missing));
        QVERIFY(!QFileInfo::exists(missing));

        // ZIP64 markers: left unchanged, without an error.
        for (const auto& [offset, wide] :
             std::initializer_list<std::pair<int, bool>>{{10, false}, {12, true}, {16, true}}) {
            bytes = base;
            wide ? put<quint32>(bytes, endRecord(bytes) + offset, 0xFFFFFFFF)
                 : put<quint16>(bytes, endRecord(bytes) + offset, 0xFFFF);
            QCOMPARE(patched(bytes), bytes);
        }

        // A directory that does not hold together.
        bytes = base;
        put<quint32>(bytes, endRecord(bytes) + 12, u32(bytes, endRecord(bytes) + 12) + 1000);
        QCOMPARE(patchError(bytes), QStringLiteral("Central Directory unvollständig"));

        bytes = base;
        put<quint16>(bytes, endRecord(bytes) + 10, 4);
        QCOMPARE(patchError(bytes), QStringLiteral("Ungültiger Central-Directory-Header"));
    }

    void reportsFailures() {
        // An empty list is refused before anything is made.
        QVERIFY(QDir(privateDir()).removeRecursively());
        QCOMPARE(failureOf(ZipService::createZip({})), QStringLiteral("Keine Dateien zum Zippen"));
        QVERIFY(!QFileInfo::exists(privateDir()));

        // zip prints its own error texts to standard output, so a failure it reports itself (here: no
        // folder for the archive) and one where it is killed (here: over the file-size limit) both leave
        // standard error empty.
        writeFile(work(QStringLiteral("fail/random.bin")), randomBytes(1 << 16));
        const auto failing = [&](std::optional<QString> name) {
            return failureOf(ZipService::createZip({url(work("fail/random.bin"))}, name));
        };
        QCOMPARE(failing(QStringLiteral("no-such-folder/x.zip")),
                 QStringLiteral("ZIP-Erstellung fehlgeschlagen: "));
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &small);
        const QString killed = failing(std::nullopt);
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(killed, QStringLiteral("ZIP-Erstellung fehlgeschlagen: "));

        QCOMPARE(ZipService::toolFailure("Datei \xe2\x80\x9e\xc3\xa4\xe2\x80\x9c fehlt\n").toolMessage(),
                 QStringLiteral("Datei „ä“ fehlt\n"));
        QCOMPARE(ZipService::toolFailure("abc\xc3").message(),
                 QStringLiteral("ZIP-Erstellung fehlgeschlagen: Unbekannter Fehler"));

        // A missing item fails like a failed copy would, instead of being left out.
        QVERIFY_THROWS_EXCEPTION(PlatformError, waitForTask(ZipService::createZip(
                                                    {url(work("fail/random.bin")), url(work("fail/gone"))},
                                                    QStringLiteral("partial.zip"))));
        QVERIFY(!QFileInfo::exists(privateDir() + QStringLiteral("/partial.zip")));

        // A name that reaches zip neither as a line (a carriage return) nor as an argument (not UTF-8)
        // fails packing, named, instead of being left out.
        QVERIFY(writeRaw(QFile::encodeName(work(QStringLiteral("fail/random.bin"))) + "\xfc\r"));
        QCOMPARE(failureOf(ZipService::createZip({url(work("fail"))}, QStringLiteral("partial.zip"))),
                 QStringLiteral("ZIP-Erstellung fehlgeschlagen: „fail/random.bin\ufffd\r“ fehlt im Archiv"));
    }

    // The private folder the archives are staged in (these two move XDG_CACHE_HOME: they run last).
    void folderIsPrivateAndOnDisk() {
        const QString cache = work(QStringLiteral("cache"));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        const QString path = cache + QStringLiteral("/zanvolt");
        QCOMPARE(PrivateTempDir::path(), path);
        QCOMPARE(modeOf(path), 0700);
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0755) == 0);
        QCOMPARE(PrivateTempDir::path(), path);
        QCOMPARE(modeOf(path), 0700);

        // A link planted at the path is refused, and what it points at is left alone.
        QVERIFY(QDir(path).removeRecursively());
        const QString elsewhere = work(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(::chmod(QFile::encodeName(elsewhere).constData(), 0755) == 0);
        QVERIFY(QFile::link(elsewhere, path));
        QVERIFY_THROWS_EXCEPTION(PlatformError, PrivateTempDir::path());
        QCOMPARE(modeOf(elsewhere), 0755);
        QVERIFY(QFile::remove(path));

        // A file, or a folder of another user, is refused too.
        writeFile(path, "x");
        QVERIFY_THROWS_EXCEPTION(PlatformError, PrivateTempDir::path());
        PrivateTempDir::removeLeftovers(); // nothing to clear, and no reason to stop the start
        QVERIFY(QFile::remove(path));
        if (::getuid() == 0) {
            QVERIFY(QDir().mkpath(path));
            QVERIFY(::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
            try {
                PrivateTempDir::path();
                QFAIL("a folder of another user was accepted");
            } catch (const PlatformError& error) {
                QVERIFY2(error.message().contains(QStringLiteral("gehört nicht diesem Benutzer")),
                         qPrintable(error.message()));
            }
            QVERIFY(QDir(path).removeRecursively());
        }
    }

    void leftoversGoLinksAreNotFollowed() {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(work(QStringLiteral("cache2"))));
        const QString folder = PrivateTempDir::path();
        const QString outside = work(QStringLiteral("user"));
        writeFile(outside + QStringLiteral("/Dokument.txt"), "keep");

        writeFile(folder + QStringLiteral("/Zanvolt_2024-05-01_120000.zip"), "zip");
        writeFile(folder + QStringLiteral("/Bericht.pdf.part"), "part");
        writeFile(folder + QStringLiteral("/zanvolt-zip-1/heads/deep/file"), "x");
        QVERIFY(QFile::link(outside, folder + QStringLiteral("/zanvolt-zip-1/trees")));
        QVERIFY(QFile::link(outside, folder + QStringLiteral("/zanvolt-zip-1/heads/user")));
        QVERIFY(QFile::link(outside + QStringLiteral("/Dokument.txt"), folder + QStringLiteral("/link.txt")));

        // A running instance's socket stays.
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray socketPath = QFile::encodeName(folder + QStringLiteral("/instance.socket"));
        std::strncpy(address.sun_path, socketPath.constData(), sizeof(address.sun_path) - 1);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

        // So does the folder of a run that is still packing or sending (another Zanvolt process's).
        auto live = std::make_unique<StagingFolder>();
        const QString run = QFileInfo(live->path()).fileName();
        writeFile(live->path() + QStringLiteral("/Bericht.zip"), "zip");

        PrivateTempDir::removeLeftovers();
        ::close(listener);
        QCOMPARE(readAll(live->path() + QStringLiteral("/Bericht.zip")), QByteArray("zip"));
        QCOMPARE(
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("instance.socket"), run}));
        live.reset(); // the run's end takes its folder along
        QCOMPARE(
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("instance.socket")});
        QCOMPARE(readAll(outside + QStringLiteral("/Dokument.txt")), QByteArray("keep"));
        QCOMPARE(modeOf(folder), 0700);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("ZANVOLT_TEST_PACK")) {
        waitForTask(ZipService::createZip({QUrl::fromLocalFile(qEnvironmentVariable("ZANVOLT_TEST_PACK"))},
                                          QStringLiteral("client.zip")));
        return 0;
    }
    TestZipService test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_zipservice.moc"
