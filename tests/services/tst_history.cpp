#include "TestFiles.h"
#include "TransferHistoryService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
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
} // namespace

class TestHistory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void addCreatesPrivateFileAndTrims() {
        QTemporaryDir root;
        const QString folder = root.filePath(QStringLiteral("nested/.zanvolt"));
        TransferHistoryService history(folder);
        QCOMPARE(history.fileURL(), folder + QStringLiteral("/history.json"));
        QVERIFY(history.load().isEmpty());

        history.add(item(QStringLiteral("A")));
        QCOMPARE(QFile::permissions(folder) & 0x0777, QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        QCOMPARE(QFile::permissions(history.fileURL()) & 0x0777, QFile::ReadUser | QFile::WriteUser);
        QFile file(history.fileURL());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(!bytes.contains("secret-A"));           // passwords never reach the disk
        QVERIFY(bytes.contains("\n  {\n    \"id\": ")); // pretty, in the record's member order
        QCOMPARE(QJsonDocument::fromJson(bytes).array().size(), 1);

        for (int i = 1; i <= 20; ++i)
            history.add(item(QStringLiteral("N%1").arg(i)));
        const auto items = history.load();
        QCOMPARE(items.size(), 20);
        QCOMPARE(items.first().code, QStringLiteral("N20"));
        QCOMPARE(items.last().code, QStringLiteral("N1")); // "A" was the oldest and is gone
        QVERIFY(!items.first().password);
        QVERIFY(items.first().hasPassword);

        // Removing drops every entry of the code.
        history.add(item(QStringLiteral("N5"))); // duplicates are kept
        QCOMPARE(codes(history.load()).count(QStringLiteral("N5")), 2);
        TransferItem other = item(QStringLiteral("N5"));
        other.id = QUuid::createUuid(); // only the code matters
        history.remove(other);
        QCOMPARE(codes(history.load()).size(), 18);
        QVERIFY(!codes(history.load()).contains(QStringLiteral("N5")));
    }

    void entriesAreReadStrictly() {
        QTemporaryDir root;
        TransferHistoryService history(root.path());
        const QList<QByteArray> damaged = {
            "not json",
            R"({"fileName":"a"})",
            R"([{"fileName":"a","code":"A","downloadURL":"u","uploadDate":"2024-05-01T12:30:45.123Z"}])",
            R"([{"fileName":"a","code":"A","downloadURL":"u","uploadDate":"2024-05-01"}])",
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
            writeFile(history.fileURL(), bytes);
            QVERIFY2(history.load().isEmpty(), bytes.constData());
            QVERIFY2(history.read().damaged, bytes.constData());
        }
        // An offset is converted; null optionals are absent.
        writeFile(history.fileURL(), R"([{"fileName":"a","code":"A","downloadURL":"u",
                                          "uploadDate":"2024-05-01T14:30:45+02:00","downloadedAt":null,
                                          "hasPassword":null,"originalFileNames":null}])");
        QCOMPARE(codes(history.load()), (QStringList{"A"}));
        QVERIFY(!history.load().first().downloadedAt);
        QVERIFY(!history.read().damaged);

        // The all-zero UUID is a valid id, and stays zero when written back.
        writeFile(history.fileURL(), R"([
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
        TransferHistoryService history(root.path());
        for (int i = 1; i <= 19; ++i)
            history.add(item(QStringLiteral("N%1").arg(i), i));
        QJsonArray entries = QJsonDocument::fromJson(readAll(history.fileURL())).array();
        QJsonObject bad = entries.at(4).toObject();
        bad.insert(QStringLiteral("uploadDate"), QStringLiteral("2024-05-01")); // a malformed date
        entries.replace(4, bad);
        entries.append(3);
        const QByteArray damaged = QJsonDocument(entries).toJson();
        writeFile(history.fileURL(), damaged);

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
        QByteArray garbage(10 * 1024 * 1024, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 7919) % 251);
        writeFile(history.fileURL(), garbage);
        QVERIFY(history.read().damaged && history.load().isEmpty());
        QVERIFY(history.add(item(QStringLiteral("X"))));
        QCOMPARE(codes(history.load()), (QStringList{"X"}));
        QCOMPARE(keptCopies().size(), 2);

        // A history that can be neither read nor kept is never replaced.
        QVERIFY(QFile::remove(history.fileURL()));
        QVERIFY(QDir().mkpath(history.fileURL() + QStringLiteral("/inside")));
        QVERIFY(history.read().damaged);
        QVERIFY(!history.add(item(QStringLiteral("Y"))));
        QVERIFY(!history.remove(item(QStringLiteral("Y"))));
        QVERIFY(QFileInfo(history.fileURL() + QStringLiteral("/inside")).isDir());
    }

    void failedWriteKeepsOldFile() {
        QTemporaryDir root;
        TransferHistoryService history(root.path());
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
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
