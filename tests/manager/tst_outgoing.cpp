#include "APIServiceOutgoing.h"
#include "PrivateTempDir.h"
#include "RecordingDesktopServices.h"
#include "TestServerFixture.h"
#include "TransferManager.h"

#include <QCoroTask>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
using Notification = RecordingDesktopServices::Notification;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList codes(const QList<TransferItem>& items) {
    QStringList list;
    for (const auto& item : items)
        list << item.code;
    return list;
}

QStringList requestsSeen(TransferServer& server) {
    QStringList seen;
    for (const auto& request : server.requests())
        seen << request.method + u' ' + request.path;
    return seen;
}

// A real archive made by the system's zip tool, so the server lists its entries.
QByteArray zipOf(const QStringList& files) {
    QTemporaryDir dir;
    for (const QString& name : files)
        writeFile(dir.filePath(name), name.toUtf8());
    QProcess zip;
    zip.setWorkingDirectory(dir.path());
    zip.start(QStringLiteral("/usr/bin/zip"), QStringList{"-q", "-D", "pack.zip"} + files);
    zip.waitForFinished();
    return readAll(dir.filePath(QStringLiteral("pack.zip")));
}

// The history keeps whole seconds.
TransferItem historyItem(const QString& code, QDateTime date, QStringList names) {
    date = date.toUTC();
    date.setTime(QTime(date.time().hour(), date.time().minute(), date.time().second()));
    TransferItem item;
    item.fileName = code + QStringLiteral(".zip");
    item.code = code;
    item.downloadURL = QStringLiteral("https://alt.example.test/d/") + code;
    item.uploadDate = date;
    item.originalFileNames = std::move(names);
    return item;
}
} // namespace

// The send tab's operations against the bundled server.
class TestOutgoing : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<QTemporaryDir> historyDir;
    std::unique_ptr<TestServerFixture> fixture;
    RecordingDesktopServices desktop;
    std::unique_ptr<TransferManager> manager;
    const QDateTime now = QDateTime::currentDateTimeUtc().addMSecs(-123);

    TransferServer& server() { return fixture->server(); }
    TransferHistoryService history() { return TransferHistoryService(historyDir->path()); }
    void refresh() { QCoro::waitFor(manager->refreshOutgoing()); }
    QString zanvoltFolder() {
        return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) +
               QStringLiteral("/Zanvolt");
    }

private Q_SLOTS:
    void initTestCase() {
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME");
        QVERIFY(zanvoltFolder().startsWith(home.path() + u'/'));
    }

    void init() {
        fixture = std::make_unique<TestServerFixture>();
        historyDir = std::make_unique<QTemporaryDir>();
        desktop = RecordingDesktopServices();
        TransferManager::Environment env;
        env.historyDirectory = historyDir->path();
        env.secretStore = &fixture->store();
        env.desktop = &desktop;
        env.firstPollDelay = env.pollInterval = std::chrono::hours(1);
        // Without credentials the constructor's refresh ends at once instead of racing the test's own.
        fixture->storeCredentials(QString(), QString());
        manager = std::make_unique<TransferManager>(env);
        fixture->storeCredentials(server().baseURL(), server().apiKey());
    }

    void cleanup() {
        manager.reset();
        fixture.reset();
    }

    void mergeWithHistory() {
        const QString a = server().seedTransfer({{QStringLiteral("a.pdf"), "a"}}, {}, now);
        const QString b = server().seedTransfer({{"b1.txt", "1"}, {"b2.txt", "2"}}, {}, now.addDays(-1));
        const QString z =
            server().seedTransfer({{"pack.zip", zipOf({"x/1.txt", "y.txt"})}}, {}, now.addDays(-3));
        const QString e = server().seedTransfer({{"e1.txt", "1"}, {"e2.txt", "2"}}, {}, now.addDays(-4));
        TransferItem c = historyItem(QStringLiteral("C"), now.addDays(-2), {"c1.txt"});
        c.hasPassword = true;
        c.downloadedAt = c.uploadDate.addSecs(5);
        history().add(c);
        history().add(historyItem(b, now.addDays(-1), {"Ordner/1.txt", "Ordner/2.txt"}));
        const QByteArray historyBytes = readAll(history().fileURL());
        const QUuid bHistoryId = history().load().first().id;

        refresh();
        const auto list = manager->transfers();
        QCOMPARE(codes(list), (QStringList{a, b, c.code, z, e}));
        QCOMPARE(list[0].fileName, QStringLiteral("a.pdf"));
        QCOMPARE(list[0].downloadURL, server().baseURL() + QStringLiteral("/d/") + a);
        QCOMPARE(list[0].uploadDate, now);
        QVERIFY(list[0].originalFileNames.isEmpty());
        QVERIFY(!list[0].hasPassword && !list[0].downloadedAt);
        QCOMPARE(list[1].fileName, QStringLiteral("b1.txt"));
        QCOMPARE(list[1].originalFileNames, (QStringList{"Ordner/1.txt", "Ordner/2.txt"}));
        QVERIFY(list[1].id != bHistoryId); // server rows get fresh ids
        QCOMPARE(list[2], c);              // history-only rows stay as they were
        QCOMPARE(list[3].originalFileNames, (QStringList{"x/1.txt", "y.txt"}));
        QCOMPARE(list[4].originalFileNames, (QStringList{"e1.txt", "e2.txt"}));
        QCOMPARE(readAll(history().fileURL()), historyBytes);

        // A transfer without files is named by its code; the list is sorted here, not by the server.
        server().failNext(QStringLiteral("/api/outgoing"), 1, 200,
                          "[{\"code\":\"LEER\",\"files\":[],\"downloadURL\":\"u\",\"createdAt\":"
                          "\"2020-01-01T00:00:00.5Z\",\"isDownloaded\":false,\"hasPassword\":true},"
                          "{\"code\":\"NEU\",\"files\":[],\"downloadURL\":\"u\",\"createdAt\":"
                          "\"2999-01-01T00:00:00+01:00\",\"isDownloaded\":false}]");
        refresh();
        QCOMPARE(codes(manager->transfers()), (QStringList{"NEU", b, c.code, "LEER"}));
        QCOMPARE(manager->transfers().last().fileName, QStringLiteral("LEER"));
        QVERIFY(manager->transfers().last().hasPassword);
        QCOMPARE(manager->transfers()[1].fileName, b + QStringLiteral(".zip")); // now only in the history
    }

    void failingListKeepsTheListSilently() {
        const TransferItem old = historyItem(QStringLiteral("ALT"), now.addDays(-9), {});
        history().add(old);
        QVERIFY(manager->transfers().isEmpty());
        server().failNext(QStringLiteral("/api/outgoing"), 1, 500, "kaputt");
        refresh();
        QCOMPARE(manager->transfers(), QList<TransferItem>{old});

        server().seedTransfer({{QStringLiteral("a.pdf"), "a"}});
        refresh();
        const auto shown = manager->transfers();
        QCOMPARE(shown.size(), 2);
        QSignalSpy changed(manager.get(), &TransferManager::transfersChanged);
        server().failNext(QStringLiteral("/api/outgoing"), 1, 200, "<html>");
        refresh();
        server().failNext(QStringLiteral("/api/outgoing"), 1, 503, "[]");
        refresh();
        QCOMPARE(manager->transfers(), shown);
        QCOMPARE(changed.count(), 0);
        QVERIFY(!manager->errorMessage());
    }

    void passwordsLiveInMemoryOnly() {
        const QString code =
            server().seedTransfer({{QStringLiteral("a.pdf"), "a"}}, QStringLiteral("Geheim-1"));
        history().add(historyItem(code, now, {}));
        refresh();
        QVERIFY(manager->transfers()[0].hasPassword);
        QVERIFY(!manager->transfers()[0].password);

        QCOMPARE(QCoro::waitFor(manager->revealPassword(code)), QStringLiteral("Geheim-1"));
        refresh();
        QCOMPARE(manager->transfers()[0].password, QStringLiteral("Geheim-1")); // carried over by code
        manager->copyLink(manager->transfers()[0]);
        QCOMPARE(desktop.copiedTexts, QStringList{manager->transfers()[0].downloadURL});
        QVERIFY(!readAll(history().fileURL()).contains("Geheim"));

        server().setRecordBodies(true);
        server().clearRequests();
        const auto fresh = QCoro::waitFor(manager->regeneratePassword(code));
        QVERIFY(fresh && *fresh != QStringLiteral("Geheim-1"));
        QCOMPARE(manager->transfers()[0].password, fresh);
        QVERIFY(QCoro::waitFor(manager->removePassword(code)));
        QVERIFY(!manager->transfers()[0].password && !manager->transfers()[0].hasPassword);
        const auto requests = server().requests();
        QCOMPARE(requestsSeen(server()), QStringList(2, "PATCH /api/outgoing/" + code + "/password"));
        QCOMPARE(requests[0].headers.value("content-type"), QStringLiteral("application/json"));
        QCOMPARE(requests[0].body, QByteArray("{\"generate\":true}"));
        QCOMPARE(requests[1].body, QByteArray("{\"password\":null}"));
        QCOMPARE(QCoro::waitFor(APIService::revealOutgoingPassword(code)).hasPassword, false);

        server().failNext(QStringLiteral("/api/outgoing/*"), 3, 500, "kaputt");
        QCOMPARE(QCoro::waitFor(manager->revealPassword(code)), std::nullopt);
        QCOMPARE(manager->errorMessage(),
                 QStringLiteral("Passwort konnte nicht geladen werden: Server-Fehler 500: kaputt"));
        QCOMPARE(QCoro::waitFor(manager->regeneratePassword(code)), std::nullopt);
        QCOMPARE(manager->errorMessage(),
                 QStringLiteral("Passwort konnte nicht erzeugt werden: Server-Fehler 500: kaputt"));
        QVERIFY(!QCoro::waitFor(manager->removePassword(code)));
        QCOMPARE(manager->errorMessage(),
                 QStringLiteral("Passwort konnte nicht entfernt werden: Server-Fehler 500: kaputt"));
    }

    void renameRefreshesOrReports() {
        const QString code = server().seedTransfer({{QStringLiteral("alt.txt"), "a"}});
        refresh();
        server().setRecordBodies(true);
        server().clearRequests();
        QVERIFY(QCoro::waitFor(manager->renameOutgoingFile(code, "alt.txt", "neu.txt")));
        QCOMPARE(manager->transfers()[0].fileName, QStringLiteral("neu.txt"));
        QCOMPARE(server().requests().first().body,
                 QByteArray("{\"oldName\":\"alt.txt\",\"newName\":\"neu.txt\"}"));
        QVERIFY(!manager->errorMessage());

        server().clearRequests();
        QVERIFY(!QCoro::waitFor(manager->renameOutgoingFile(code, "alt.txt", "x.txt")));
        QCOMPARE(manager->errorMessage(),
                 QStringLiteral(
                     "Umbenennen fehlgeschlagen: Server-Fehler 404: {\"error\":\"Datei nicht gefunden\"}"));
        QCOMPARE(requestsSeen(server()),
                 QStringList{QStringLiteral("PATCH /api/outgoing/%1/files").arg(code)});
    }

    void deleteRemovesAtOnceAndReportsServerFailure() {
        const QString bystander =
            server().seedTransfer({{QStringLiteral("bleibt.txt"), "b"}}, {}, now.addDays(-1));
        const QString gone = server().seedTransfer({{QStringLiteral("weg.txt"), "w"}});
        const QString kept = server().seedTransfer({{QStringLiteral("zurueck.txt"), "z"}});
        refresh();
        QSignalSpy changed(manager.get(), &TransferManager::transfersChanged);
        const auto item = [&](const QString& code) {
            for (const auto& t : manager->transfers())
                if (t.code == code)
                    return t;
            qFatal("%s is not listed", qPrintable(code));
        };

        // Already gone on the server (404): still a success, and the history cannot bring it back.
        history().add(item(gone));
        QCoro::waitFor(APIService::deleteOutgoing(gone));
        manager->deleteTransfer(item(gone));
        QCOMPARE(codes(manager->transfers()), (QStringList{kept, bystander})); // before any answer
        QVERIFY(codes(history().load()).isEmpty());
        QTRY_COMPARE(changed.count(), 2); // the removal, then the refresh
        QCOMPARE(codes(manager->transfers()), (QStringList{kept, bystander}));
        QCOMPARE(requestsSeen(server()).mid(requestsSeen(server()).size() - 2),
                 (QStringList{"DELETE /api/outgoing/" + gone, "GET /api/outgoing"}));
        QVERIFY(!manager->incomingError() && !manager->errorMessage());

        server().failNext(QStringLiteral("/api/outgoing/") + kept, 1, 500, "{}");
        manager->deleteTransfer(item(kept));
        QCOMPARE(codes(manager->transfers()), QStringList{bystander});
        QTRY_COMPARE(changed.count(), 4);
        QCOMPARE(manager->incomingError(),
                 QStringLiteral("Server-Löschung fehlgeschlagen: Netzwerk-Fehler: Löschen fehlgeschlagen"));
        QCOMPARE(codes(manager->transfers()), (QStringList{kept, bystander})); // still on the server
    }

    void downloadReplacesAndStaysInTheFolder() {
        server().seedTransfer({{QStringLiteral("Bericht 2024.txt"), "neu"}});
        refresh();
        const TransferItem item = manager->transfers()[0];
        const QString target = zanvoltFolder() + QStringLiteral("/Bericht 2024.txt");
        writeFile(target, "alt, und länger als die neue Fassung");

        QCoro::waitFor(manager->downloadOutgoing(item));
        QCOMPARE(readAll(target), QByteArray("neu"));
        QCOMPARE(desktop.revealedPaths, QStringList{target});
        QCOMPARE(desktop.notifications,
                 (QList<Notification>{{"Download abgeschlossen", "Bericht 2024.txt", std::nullopt}}));
        QVERIFY(!manager->errorMessage());

        // The server cannot store such a name, so its answer is forced.
        TransferItem hostile = item;
        hostile.fileName = QStringLiteral("../../ausbruch.txt");
        server().failNext(QStringLiteral("/d/*"), 1, 200, "boese");
        QCoro::waitFor(manager->downloadOutgoing(hostile));
        QCOMPARE(readAll(zanvoltFolder() + QStringLiteral("/.._.._ausbruch.txt")), QByteArray("boese"));
        QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(QDir(zanvoltFolder() + "/..").entryList(QDir::Files | QDir::Hidden), QStringList());

        const QString temp = PrivateTempDir::path();
        const QStringList tempBefore = QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        server().failNext(QStringLiteral("/d/*"), 1, 403, "verboten");
        QCoro::waitFor(manager->downloadOutgoing(item));
        QCOMPARE(
            manager->errorMessage(),
            QStringLiteral("Download fehlgeschlagen: Netzwerk-Fehler: Download fehlgeschlagen (HTTP 403)"));
        QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), tempBefore);
        QCOMPARE(readAll(target), QByteArray("neu"));
        QCOMPARE(desktop.notifications.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestOutgoing)
#include "tst_outgoing.moc"
