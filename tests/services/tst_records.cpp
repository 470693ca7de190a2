#include "TestFiles.h"
#include "models/APIError.h"
#include "models/CancelledError.h"
#include "models/ErrorText.h"
#include "models/Format.h"
#include "models/IncomingUpload.h"
#include "models/IsoDate.h"
#include "models/KeychainError.h"
#include "models/PlatformError.h"
#include "models/TransferItem.h"
#include "models/ZipError.h"
#include "services/HistoryStore.h"
#include "services/SafeFileName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <sys/resource.h>

namespace {
TransferItem item(const QString& code, int day = 1) {
    TransferItem t;
    t.fileName = code + QStringLiteral(".pdf");
    t.code = code;
    t.downloadURL = QStringLiteral("https://s/d/") + code;
    t.uploadDate = QDateTime(QDate(2024, 5, day), QTime(12, 30, 45), Qt::UTC);
    t.password = QStringLiteral("secret-") + code;
    t.hasPassword = true;
    return t;
}

QStringList codes(const QList<TransferItem>& items) {
    QStringList list;
    for (const auto& i : items)
        list << i.code;
    return list;
}

QJsonObject object(const char* json) {
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

struct Case {
    QString text;
    const char* expected;
};

// The texts, under whatever locale is set.
void checkFormats() {
    const QList<Case> cases = {
        {Format::size(0), "0 B"},
        {Format::size(1023), "1023 B"},
        {Format::size(1024), "1 KB"},
        {Format::size(2560), "2 KB"}, // 2.5: exact halves round to even, as printf does
        {Format::size(1048575), "1024 KB"},
        {Format::size(1048576), "1.0 MB"},
        {Format::size(1310720), "1.2 MB"}, // 1.25
        {Format::size(1073741823), "1024.0 MB"},
        {Format::size(1073741824), "1.00 GB"},
        {Format::size(1207959552), "1.12 GB"}, // 1.125
        {Format::speed(0), "..."},
        {Format::speed(1048575), "1024 KB/s"},
        {Format::speed(1048576), "1.0 MB/s"},
        {Format::remaining(0.01, 1000, 100000), "berechne..."},
        {Format::remaining(0.5, 0, 100000), "berechne..."},
        {Format::remaining(0.5, 1, 7800), "ca. 1h 5 Min."},
        {Format::remaining(0.5, 1, 1440), "ca. 12 Min."},
        {Format::remaining(0.5, 1, 119), "ca. 59s"},
        {Format::remaining(0.5, 1, 120), "ca. 1 Min."},
        {Format::dateTime(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 30))), "31.12.2024 23:59"},
        {Format::downloadedAt(QDateTime(QDate(2024, 3, 5), QTime(7, 4))), "05.03.24 - 07:04"},
        {Format::dayAndTime(QDateTime(QDate(2024, 3, 5), QTime(7, 4))), "05.03. 07:04"},
    };
    for (const Case& c : cases)
        QCOMPARE(c.text, QString::fromUtf8(c.expected));
    // Far beyond what 64 bits of seconds hold: any text, but no undefined behaviour.
    QVERIFY(Format::remaining(0.02, 1e-300, Q_INT64_C(1) << 62).startsWith(QStringLiteral("ca. ")));
}
} // namespace

// What the client reads and writes: the history of sent transfers, the names files from the server
// are saved under, the records' coding and the texts made of them.
class TestRecords : public QObject {
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
    void addCreatesPrivateFileAndTrims() {
        QTemporaryDir root;
        const QString folder = root.filePath(QStringLiteral("nested/.zanvolt"));
        HistoryStore history(folder);
        QVERIFY(history.load().isEmpty());

        history.add(item(QStringLiteral("A")));
        QCOMPARE(QFile::permissions(folder) & 0x0777, QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        QCOMPARE(QFile::permissions(history.filePath()) & 0x0777, QFile::ReadUser | QFile::WriteUser);
        QVERIFY(!readAll(history.filePath()).contains("secret-A")); // passwords never reach the disk

        for (int i = 1; i <= 20; ++i)
            history.add(item(QStringLiteral("N%1").arg(i)));
        const auto items = history.load();
        QCOMPARE(items.size(), 20);
        QCOMPARE(items.first().code, QStringLiteral("N20"));
        QCOMPARE(items.last().code, QStringLiteral("N1")); // "A" was the oldest and is gone
        QVERIFY(items.first().hasPassword && !items.first().password);

        // Removing drops every entry of the code.
        history.add(item(QStringLiteral("N5"))); // duplicates are kept
        QCOMPARE(codes(history.load()).count(QStringLiteral("N5")), 2);
        TransferItem other = item(QStringLiteral("N5"));
        other.id = QUuid::createUuid(); // only the code matters
        history.remove(other);
        QCOMPARE(codes(history.load()).size(), 18);
    }

    void entriesAreReadStrictly() {
        QTemporaryDir root;
        HistoryStore history(root.path());
        const QList<QByteArray> damaged = {
            "not json",
            R"({"fileName":"a"})",
            R"([{"fileName":"a","code":"A","downloadURL":"u","uploadDate":"2024-05-01T12:30:45.123Z"}])",
            R"([{"code":"A","downloadURL":"u","uploadDate":"2024-05-01T12:30:45Z"}])",
            R"([{"fileName":"a","code":"A","downloadURL":"u","uploadDate":"2024-05-01T12:30:45Z",
                 "hasPassword":"yes"}])",
            R"([{"id":"nope","fileName":"a","code":"A","downloadURL":"u","uploadDate":"2024-05-01T12:30:45Z"}])",
            R"([{"id":"00000000-0000-0000-0000-00000000000","fileName":"a","code":"A","downloadURL":"u",
                 "uploadDate":"2024-05-01T12:30:45Z"}])",
            "[{\"id\":\"{00000000-0000-0000-0000-000000000000\",\"fileName\":\"a\",\"code\":\"A\","
            "\"downloadURL\":\"u\",\"uploadDate\":\"2024-05-01T12:30:45Z\"}]",
        };
        for (const QByteArray& bytes : damaged) {
            writeFile(history.filePath(), bytes);
            QVERIFY2(history.load().isEmpty(), bytes.constData());
            QVERIFY2(history.read().damaged, bytes.constData());
        }
        // An offset is converted; null optionals are absent.
        writeFile(history.filePath(), R"([{"fileName":"a","code":"A","downloadURL":"u",
                                          "uploadDate":"2024-05-01T14:30:45+02:00","downloadedAt":null,
                                          "hasPassword":null,"originalFileNames":null}])");
        QCOMPARE(codes(history.load()), (QStringList{"A"}));
        QVERIFY(!history.load().first().downloadedAt);
        QVERIFY(!history.read().damaged);

        // The all-zero UUID is a valid id, and stays zero when written back.
        writeFile(history.filePath(), R"([
            {"id":"00000000-0000-0000-0000-000000000000","fileName":"a","code":"A","downloadURL":"u",
             "uploadDate":"2024-05-01T12:30:45Z"},
            {"id":"{6f1c2a9e-0b7d-4c3e-9a51-2d8e7f0c4b13}","fileName":"b","code":"B","downloadURL":"u",
             "uploadDate":"2024-05-02T12:30:45Z"}])");
        const auto zero = history.load();
        QCOMPARE(codes(zero), (QStringList{"A", "B"}));
        QVERIFY(zero.first().id.isNull());
        QCOMPARE(zero.last().id, QUuid(QStringLiteral("6F1C2A9E-0B7D-4C3E-9A51-2D8E7F0C4B13")));
        history.add(item(QStringLiteral("C")));
        QCOMPARE(codes(history.load()), (QStringList{"C", "A", "B"}));
        QVERIFY(history.load().at(1).id.isNull());
    }

    void oneUnreadableEntryCostsNoOther() {
        QTemporaryDir root;
        HistoryStore history(root.path());
        for (int i = 1; i <= 19; ++i)
            history.add(item(QStringLiteral("N%1").arg(i), i));
        QJsonArray entries = QJsonDocument::fromJson(readAll(history.filePath())).array();
        QJsonObject bad = entries.at(4).toObject();
        bad.insert(QStringLiteral("uploadDate"), QStringLiteral("2024-05-01")); // a malformed date
        entries.replace(4, bad);
        entries.append(3);
        const QByteArray damaged = QJsonDocument(entries).toJson();
        writeFile(history.filePath(), damaged);

        const auto contents = history.read();
        QVERIFY(contents.damaged);
        QCOMPARE(contents.items.size(), 18);
        QVERIFY(!codes(contents.items).contains(QStringLiteral("N15")));

        // The next upload keeps the 18 readable entries and the damaged file beside the history.
        QVERIFY(history.add(item(QStringLiteral("NEU"))));
        QCOMPARE(history.load().size(), 19);
        QCOMPARE(history.load().first().code, QStringLiteral("NEU"));
        const auto keptCopies = [&] {
            return QDir(root.path())
                .entryList({QStringLiteral("history.json.unreadable-*")}, QDir::Files, QDir::Name);
        };
        QCOMPARE(keptCopies().size(), 1);
        QCOMPARE(readAll(root.filePath(keptCopies().first())), damaged);
        QCOMPARE(QFile::permissions(root.filePath(keptCopies().first())) & 0x0777,
                 QFile::ReadUser | QFile::WriteUser);
        history.add(item(QStringLiteral("NEU2"))); // intact now: nothing more is kept
        QCOMPARE(keptCopies().size(), 1);

        // 10 MB of garbage: read as empty, kept, and new uploads are recorded.
        writeFile(history.filePath(), randomBytes(10 << 20));
        QVERIFY(history.read().damaged && history.load().isEmpty());
        QVERIFY(history.add(item(QStringLiteral("X"))));
        QCOMPARE(codes(history.load()), (QStringList{"X"}));
        QCOMPARE(keptCopies().size(), 2);

        // A history that can be neither read nor kept is never replaced.
        QVERIFY(QFile::remove(history.filePath()));
        QVERIFY(QDir().mkpath(history.filePath() + QStringLiteral("/inside")));
        QVERIFY(history.read().damaged);
        QVERIFY(!history.add(item(QStringLiteral("Y"))));
        QVERIFY(!history.remove(item(QStringLiteral("Y"))));
        QVERIFY(QFileInfo(history.filePath() + QStringLiteral("/inside")).isDir());
    }

    void failedWriteKeepsOldFile() {
        QTemporaryDir root;
        HistoryStore history(root.path());
        history.add(item(QStringLiteral("A")));
        // A file-size limit makes the next write fail even for root.
        struct rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = saved;
        tiny.rlim_cur = 64;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        history.add(item(QStringLiteral("B")));
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(codes(history.load()), (QStringList{"A"}));
    }

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
        QCOMPARE(SafeFileName::forFolder(QStringLiteral(".\u200E.")), QStringLiteral("__"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("Grüße 😀.pdf")), QStringLiteral("Grüße 😀.pdf"));

        // Too long for the file system: shortened to whole characters, the extension kept.
        const QString umlauts = QString(300, u'ä') + QStringLiteral(".pdf");
        const QString shortUmlauts = SafeFileName::forFolder(umlauts);
        QCOMPARE(shortUmlauts, QString(125, u'ä') + QStringLiteral(".pdf"));
        const QString accents = QStringLiteral("e\u0301").repeated(100) + QStringLiteral(".txt");
        const QString shortAccents = SafeFileName::forFolder(accents);
        QVERIFY(shortAccents.toUtf8().size() <= 255);
        QVERIFY(shortAccents.endsWith(QStringLiteral("e\u0301.txt")));
        const QString emoji = QStringLiteral("😀").repeated(100);
        QCOMPARE(SafeFileName::forFolder(emoji), QStringLiteral("😀").repeated(63));
        QCOMPARE(SafeFileName::forFolder(QString(255, u'a')), QString(255, u'a'));

        QCOMPARE(SafeFileName::numbered(QStringLiteral(".bashrc"), 3), QStringLiteral(".bashrc (3)"));
        QCOMPARE(SafeFileName::numbered(QStringLiteral("archiv.tar.gz"), 2),
                 QStringLiteral("archiv (2).tar.gz"));
        QCOMPARE(SafeFileName::numbered(QStringLiteral("a.b.txt"), 12), QStringLiteral("a.b (12).txt"));
        QCOMPARE(SafeFileName::numbered(shortUmlauts, 2), QString(123, u'ä') + QStringLiteral(" (2).pdf"));
    }

    void savingNeverReplaces() {
        // (Numbering beside a file or folder of the name: tst_requestcore's downloads; shortening:
        // namesFromTheServerAreCleaned.)
        // A dangling link counts as taken, and is neither replaced nor followed.
        QVERIFY(QFile::link(m_root.filePath(QStringLiteral("nirgends")), inbox(QStringLiteral("Bild.png"))));
        const QString image =
            SafeFileName::moveNoReplace(download("png"), inbox(), QStringLiteral("Bild.png"));
        QCOMPARE(image, inbox(QStringLiteral("Bild (2).png")));
        QVERIFY(QFileInfo(inbox(QStringLiteral("Bild.png"))).isSymLink());
        QVERIFY(!QFileInfo::exists(m_root.filePath(QStringLiteral("nirgends"))));

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

    // The records' JSON coding, the one date form they accept, the user's texts of errors, numbers and
    // dates (the desktop's locale must never turn "1.5 MB" into "1,5 MB").
    void recordsAreCodedAsTheServerAndHistoryExpect() {
        const QJsonObject minimal = object(
            R"({"fileName":"a.pdf","code":"K7X2","downloadURL":"dl/K7X2", "uploadDate":"2024-05-01T12:30:45Z","password":"geheim"})");
        const auto first = TransferItem::fromJson(minimal, IsoDate::Fraction::Forbidden);
        const auto second = TransferItem::fromJson(minimal, IsoDate::Fraction::Forbidden);
        QVERIFY(!first.id.isNull());
        QVERIFY(first.id != second.id);
        QVERIFY(!first.password); // never read from a record

        TransferItem item = first;
        item.password = QStringLiteral("geheim");
        // The defaults, in the record's member order, the UUID upper-case, empty lists kept, and
        // neither the password nor an unset date.
        const QString expected =
            QStringLiteral(R"({"id":"%1","fileName":"a.pdf","code":"K7X2",)"
                           R"("downloadURL":"dl/K7X2","uploadDate":"2024-05-01T12:30:45Z",)"
                           R"("originalFileNames":[],"hasPassword":false})")
                .arg(item.id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(QString::fromUtf8(item.toJson().toJson()), expected);

        item.downloadedAt = QDateTime(QDate(2024, 5, 2), QTime(8, 0), Qt::UTC);
        const auto reread = TransferItem::fromJson(QJsonDocument::fromJson(item.toJson().toJson()).object(),
                                                   IsoDate::Fraction::Forbidden);
        QCOMPARE(reread.downloadedAt, item.downloadedAt);
        QCOMPARE(reread.id, item.id);

        const auto upload = IncomingUpload::fromJson(
            object(
                R"({"token":"t1","code":null,"customerName":"Müller GmbH", "files":[{"name":"Plan.pdf","size":9007199254740993,"sizeFormatted":"8 PB"}], "uploadDate":"2024-05-01T12:30:45.5+02:00","isDownloaded":false,"totalSize":null})"),
            IsoDate::Fraction::Optional);
        QCOMPARE(upload.files.value(0).size, Q_INT64_C(9007199254740993)); // beyond a double's exact integers
        const QByteArray kept = upload.toJson().toJson();
        QVERIFY(!kept.contains("code") && !kept.contains("totalSize"));
        QVERIFY(kept.contains(R"("size":9007199254740993)"));
    }

    // Only internet date-times, and none that would not be written back readably (some found by
    // fuzz/fuzz_isodate.cpp). An invalid expected date means "refused".
    void isoDates_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        const QDateTime utc(QDate(2024, 5, 1), QTime(12, 30, 45), Qt::UTC);
        QTest::newRow("plain") << QStringLiteral("2024-05-01T12:30:45Z") << utc;
        QTest::newRow("offset") << QStringLiteral("2024-05-01T12:30:45.500+02:00")
                                << utc.addSecs(-7200).addMSecs(500);
        for (const char* bad : {"2024-05-01", "2024-05-01T12:30:45", "2024-05-01 12:30:45Z",
                                "2024-05-01T12:30Z", "2024-13-01T12:30:45Z", " 2024-05-01T12:30:45Z"})
            QTest::newRow(bad) << QString::fromLatin1(bad) << QDateTime();
        QTest::newRow("UTC year 10000") << QStringLiteral("9999-12-31T23:59:59-05:30") << QDateTime();
        QTest::newRow("UTC year 0") << QStringLiteral("0001-01-01T00:00:00+00:30") << QDateTime();
        QTest::newRow("last writable") << QStringLiteral("9999-12-31T23:59:59Z")
                                       << QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC);
        QTest::newRow("first writable")
            << QStringLiteral("0001-01-01T00:30:00+00:30") << QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
        QTest::newRow("hour 24") << QStringLiteral("0024-05-01T24:00:00Z") << QDateTime();
        QTest::newRow("fraction beyond ms") << QStringLiteral("1999-12-31T23:59:59.999999999-05:30")
                                            << QDateTime(QDate(2000, 1, 1), QTime(5, 29, 59, 999), Qt::UTC);
    }

    void isoDates() {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const auto parsed = IsoDate::parse(text, IsoDate::Fraction::Optional);
        QCOMPARE(parsed.has_value(), expected.isValid());
        if (!parsed)
            return;
        QCOMPARE(parsed->toUTC(), expected);
        const auto reread = IsoDate::parse(IsoDate::format(*parsed), IsoDate::Fraction::Forbidden);
        QVERIFY(reread);
        QCOMPARE(reread->toUTC(), expected.addMSecs(-expected.time().msec()));
    }

    // The one translation of a caught exception into the user's text and its kind.
    void kindsAndTexts() {
        const auto check = [](const std::exception& error, ErrorKind kind, const QString& text) {
            const ErrorText described = describeError(error);
            QCOMPARE(described.kind, kind);
            QCOMPARE(described.text, text);
        };
        check(APIError::networkError(QStringLiteral("weg")), ErrorKind::Network,
              QStringLiteral("Netzwerk-Fehler: weg"));
        check(CancelledError(), ErrorKind::Cancelled, QStringLiteral("Abgebrochen"));
        check(ZipError::noFiles(), ErrorKind::Zip, QStringLiteral("Keine Dateien zum Zippen"));
        check(KeychainError::saveFailed(-25299), ErrorKind::Keychain,
              QStringLiteral("Keychain-Fehler: -25299"));
        check(PlatformError(QStringLiteral("Datei „ä“ fehlt")), ErrorKind::Platform,
              QStringLiteral("Datei „ä“ fehlt"));
        check(std::runtime_error("kein Speicher"), ErrorKind::Unknown, QStringLiteral("kein Speicher"));
    }

    // The panel's number and date texts, under the C locale and again under a German one.
    void textsUnderTheCAndAGermanLocale() {
        checkFormats();
        // As QApplication does with a German desktop.
        QVERIFY2(std::setlocale(LC_ALL, "de_DE.UTF-8"), "the de_DE.UTF-8 locale is not installed");
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        checkFormats();
        std::setlocale(LC_ALL, "C");
        QLocale::setDefault(QLocale::c());
    }

    void shownTextLosesOnlyControls() {
        // An override would make the name read "rechnungexe.pdf".
        QCOMPARE(Format::shown(QStringLiteral("rechnung\u202Efdp.exe")), QStringLiteral("rechnungfdp.exe"));
        QCOMPARE(Format::shown(QStringLiteral("a\u2066b\u200Fc\u0007d\u001b[31me\u009bf\u007Fg")),
                 QStringLiteral("abcd[31mefg"));
        // Line breaks of a message, and everything printable, emoji included, stay.
        const QString printable = QStringLiteral("Grüße\nvon Ärzte 😀 <b>&amp;</b> \u05E9\u05DC\u05D5\u05DD");
        QCOMPARE(Format::shown(printable), printable);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
