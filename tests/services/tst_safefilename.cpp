#include "PlatformError.h"
#include "SafeFileName.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>
#include <cstring>

class TestSafeFileName : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;

    // A downloaded file waiting in the temporary folder.
    QString download(const QByteArray& bytes) {
        static int count = 0;
        const QString path = m_root.filePath(QStringLiteral("tmp/download-%1").arg(++count));
        writeFile(path, bytes);
        return path;
    }
    QString inbox(const QString& name = {}) const {
        return m_root.filePath(QStringLiteral("inbox")) + (name.isEmpty() ? QString() : u'/' + name);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_root.isValid() && QDir().mkpath(inbox())); }

    void namesFromTheServerAreCleaned() {
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("Rech\u202Egnp.exe")), QStringLiteral("Rechgnp.exe"));
        QCOMPARE(
            SafeFileName::forFolder(QStringLiteral("\u200Ea\u200F\u061Cb\u202A\u202B\u202C\u202D\u2066\u2067"
                                                   "\u2068\u2069c")),
            QStringLiteral("abc"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("Zeile\n2\t\r\x1b[31m\x7f\u0085\u009f.txt")),
                 QStringLiteral("Zeile2[31m.txt"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("../x/y\\z")), QStringLiteral(".._x_y_z"));
        QCOMPARE(SafeFileName::forFolder(QString(QChar(0)) + QStringLiteral("a")), QStringLiteral("_a"));
        QCOMPARE(SafeFileName::forFolder(QString()), QStringLiteral("_"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("\u202E")), QStringLiteral("_"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral(".")), QStringLiteral("_"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral(".\u200E.")), QStringLiteral("__"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("Grüße 😀.pdf")), QStringLiteral("Grüße 😀.pdf"));

        // Too long for the file system: shortened to whole characters, the extension kept.
        const QString umlauts = QString(300, u'ä') + QStringLiteral(".pdf");
        const QString shortUmlauts = SafeFileName::forFolder(umlauts);
        QVERIFY(shortUmlauts.toUtf8().size() <= 255);
        QCOMPARE(shortUmlauts, QString(125, u'ä') + QStringLiteral(".pdf"));
        const QString accents = QStringLiteral("e\u0301").repeated(100) + QStringLiteral(".txt");
        const QString shortAccents = SafeFileName::forFolder(accents);
        QVERIFY(shortAccents.toUtf8().size() <= 255);
        QVERIFY(shortAccents.endsWith(QStringLiteral("e\u0301.txt")));
        const QString emoji = QStringLiteral("😀").repeated(100);
        QCOMPARE(SafeFileName::forFolder(emoji), QStringLiteral("😀").repeated(63));
        QCOMPARE(SafeFileName::forFolder(QString(255, u'a')), QString(255, u'a'));

        QCOMPARE(SafeFileName::numbered(QStringLiteral("Rechnung.pdf"), 2),
                 QStringLiteral("Rechnung (2).pdf"));
        QCOMPARE(SafeFileName::numbered(QStringLiteral("Projekt"), 2), QStringLiteral("Projekt (2)"));
        QCOMPARE(SafeFileName::numbered(QStringLiteral(".bashrc"), 3), QStringLiteral(".bashrc (3)"));
        QCOMPARE(SafeFileName::numbered(QStringLiteral("archiv.tar.gz"), 2),
                 QStringLiteral("archiv (2).tar.gz"));
        QCOMPARE(SafeFileName::numbered(QStringLiteral("a.b.txt"), 12), QStringLiteral("a.b (12).txt"));
        QCOMPARE(SafeFileName::numbered(shortUmlauts, 2), QString(123, u'ä') + QStringLiteral(" (2).pdf"));
    }

    void savingNeverReplaces() {
        const QString first =
            SafeFileName::moveNoReplace(download("erste"), inbox(), QStringLiteral("Rechnung.pdf"));
        const QString second =
            SafeFileName::moveNoReplace(download("zweite"), inbox(), QStringLiteral("Rechnung.pdf"));
        const QString third =
            SafeFileName::moveNoReplace(download("dritte"), inbox(), QStringLiteral("Rechnung.pdf"));
        QCOMPARE(first, inbox(QStringLiteral("Rechnung.pdf")));
        QCOMPARE(second, inbox(QStringLiteral("Rechnung (2).pdf")));
        QCOMPARE(third, inbox(QStringLiteral("Rechnung (3).pdf")));
        QCOMPARE(readAll(first), QByteArray("erste"));
        QCOMPARE(readAll(second), QByteArray("zweite"));
        QCOMPARE(readAll(third), QByteArray("dritte"));

        // A folder of the user's with the name: untouched.
        writeFile(inbox(QStringLiteral("Projekt/Plan.txt")), "Plan");
        const QString project =
            SafeFileName::moveNoReplace(download("datei"), inbox(), QStringLiteral("Projekt"));
        QCOMPARE(project, inbox(QStringLiteral("Projekt (2)")));
        QCOMPARE(readAll(project), QByteArray("datei"));
        QCOMPARE(readAll(inbox(QStringLiteral("Projekt/Plan.txt"))), QByteArray("Plan"));

        // A dangling link counts as taken, and is neither replaced nor followed.
        QVERIFY(QFile::link(m_root.filePath(QStringLiteral("nirgends")), inbox(QStringLiteral("Bild.png"))));
        const QString image =
            SafeFileName::moveNoReplace(download("png"), inbox(), QStringLiteral("Bild.png"));
        QCOMPARE(image, inbox(QStringLiteral("Bild (2).png")));
        QVERIFY(QFileInfo(inbox(QStringLiteral("Bild.png"))).isSymLink());
        QVERIFY(!QFileInfo::exists(m_root.filePath(QStringLiteral("nirgends"))));

        // Long names end up short enough to be saved, and numbered within the limit.
        const QString longName = QString(300, u'ö') + QStringLiteral(".pdf");
        const QString saved = SafeFileName::moveNoReplace(download("lang"), inbox(), longName);
        QCOMPARE(QFileInfo(saved).path(), inbox());
        QVERIFY(saved.endsWith(QStringLiteral(".pdf")));
        QVERIFY(QFileInfo(saved).fileName().toUtf8().size() <= 255);
        QCOMPARE(readAll(saved), QByteArray("lang"));
        const QString savedAgain = SafeFileName::moveNoReplace(download("lang2"), inbox(), longName);
        QVERIFY(savedAgain.endsWith(QStringLiteral(" (2).pdf")));
        QCOMPARE(readAll(savedAgain), QByteArray("lang2"));

        // Across file systems: the system's text, the download kept where it was.
        const QString shm =
            QStringLiteral("/dev/shm/zanvolt-test-%1").arg(QCoreApplication::applicationPid());
        writeFile(shm, "shm");
        try {
            SafeFileName::moveNoReplace(shm, inbox(), QStringLiteral("shm.bin"));
            QFAIL("moved across file systems");
        } catch (const PlatformError& error) {
            QCOMPARE(error.message(), QString::fromLocal8Bit(std::strerror(EXDEV)));
        }
        QCOMPARE(readAll(shm), QByteArray("shm"));
        QFile::remove(shm);
        QVERIFY(!QFileInfo::exists(inbox(QStringLiteral("shm.bin"))));
    }
};

QTEST_GUILESS_MAIN(TestSafeFileName)
#include "tst_safefilename.moc"
