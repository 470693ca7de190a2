#include "TestFiles.h"
#include "models/PlatformError.h"
#include "services/PrivateTempDir.h"
#include "services/StagingFolder.h"

#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
int modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}
} // namespace

class TestPrivateTempDir : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_root.isValid()); }

    void folderIsPrivateAndOnDisk() {
        const QString cache = m_root.filePath(QStringLiteral("cache"));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        const QString path = cache + QStringLiteral("/zanvolt");
        QCOMPARE(PrivateTempDir::path(), path);
        QCOMPARE(modeOf(path), 0700);
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0755) == 0);
        QCOMPARE(PrivateTempDir::path(), path);
        QCOMPARE(modeOf(path), 0700);

        // Without XDG_CACHE_HOME: ~/.cache.
        qunsetenv("XDG_CACHE_HOME");
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(m_root.filePath(QStringLiteral("home"))));
        const QString fallback = PrivateTempDir::path();
        qputenv("HOME", home);
        QCOMPARE(fallback, m_root.filePath(QStringLiteral("home/.cache/zanvolt")));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));

        // A link planted at the path is refused, and what it points at is left alone.
        QVERIFY(QDir(path).removeRecursively());
        const QString elsewhere = m_root.filePath(QStringLiteral("elsewhere"));
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
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("cache2"))));
        const QString folder = PrivateTempDir::path();
        const QString outside = m_root.filePath(QStringLiteral("user"));
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

QTEST_GUILESS_MAIN(TestPrivateTempDir)
#include "tst_privatetempdir.moc"
