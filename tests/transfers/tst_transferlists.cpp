#include "RecordedRequests.h"
#include "SessionFixture.h"
#include "TemporaryHome.h"
#include "TestFiles.h"
#include "net/HttpEngine.h"
#include "services/APIServiceIncoming.h"
#include "services/APIServiceOutgoing.h"

#include <QCoroTask>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

namespace {
using Notification = RecordingDesktopServices::Notification;

QString inboxFile(const QString& name) {
    return APIService::incomingFolder() + u'/' + name;
}

const QList<DevServer::SeedFile> threeFiles = {{QStringLiteral("1 Angebot.pdf"), "angebot"},
                                               {QStringLiteral("2 Plan.dwg"), "plan"},
                                               {QStringLiteral("3 Foto.jpg"), "foto"}};

QStringList codes(const QList<TransferItem>& items) {
    QStringList list;
    for (const auto& item : items)
        list << item.code;
    return list;
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

// The lists of sent transfers and of customer uploads, and what it does with them,
// against the bundled server.
class TestTransferLists : public QObject {
    Q_OBJECT

    TemporaryHome home; // downloads land in its Downloads folder
    std::unique_ptr<SessionFixture> fixture;
    SentTransfers* sent = nullptr;
    SentTransferOperations* operations = nullptr;
    ReceivedUploads* received = nullptr;
    const QDateTime now = QDateTime::currentDateTimeUtc().addMSecs(-123);

    // Every value a property took, in order, as the panel would have seen it.
    QStringList progressLines;
    QList<std::optional<QString>> errors;

    DevServer& server() { return fixture->server(); }
    void refreshIncoming() { QCoro::waitFor(received->refresh()); }
    void refreshOutgoing() { QCoro::waitFor(sent->refresh()); }
    QStringList requestsSeen() { return requestLines(server(), QStringLiteral("/api/incoming")); }
    HistoryStore history() { return HistoryStore(fixture->historyPath()); }
    QString zanvoltFolder() {
        return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) +
               QStringLiteral("/Zanvolt");
    }

    QStringList tokens() const {
        QStringList all;
        for (const IncomingUpload& upload : received->uploads())
            all << upload.token;
        return all;
    }

    IncomingUpload listed(const QString& token) {
        for (const IncomingUpload& upload : received->uploads())
            if (upload.token == token)
                return upload;
        qFatal("upload %s is not listed", qPrintable(token));
    }

    // A new session, its engine made with `http`.
    void start(HttpEngine::Options http = {}) {
        QDir(APIService::incomingFolder()).removeRecursively();
        fixture = std::make_unique<SessionFixture>(nullptr, std::move(http));
        sent = fixture->sent;
        operations = fixture->operations;
        received = fixture->received;
        progressLines.clear();
        errors.clear();
        connect(received, &ReceivedUploads::downloadProgressChanged, this,
                [this] { progressLines << received->downloadProgress(); });
        connect(received, &ReceivedUploads::errorChanged, this, [this] { errors << received->error(); });
    }

private Q_SLOTS:
    void init() { start(); }

    void cleanup() { fixture.reset(); }

    void mergeWithHistoryAndKeepItOnFailure() {
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
        const QByteArray historyBytes = readAll(history().filePath());
        const QUuid bHistoryId = history().load().first().id;

        // A failing list shows what the history holds, and says nothing.
        server().failNext(QStringLiteral("/api/outgoing"), 1, 500, "kaputt");
        refreshOutgoing();
        QCOMPARE(codes(sent->transfers()), (QStringList{b, c.code}));
        QVERIFY(!sent->error());

        refreshOutgoing();
        const auto list = sent->transfers();
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
        QCOMPARE(readAll(history().filePath()), historyBytes);

        // A transfer without files is named by its code; the list is sorted here, not by the server.
        server().failNext(QStringLiteral("/api/outgoing"), 1, 200,
                          "[{\"code\":\"LEER\",\"files\":[],\"downloadURL\":\"u\",\"createdAt\":"
                          "\"2020-01-01T00:00:00.5Z\",\"isDownloaded\":false,\"hasPassword\":true},"
                          "{\"code\":\"NEU\",\"files\":[],\"downloadURL\":\"u\",\"createdAt\":"
                          "\"2999-01-01T00:00:00+01:00\",\"isDownloaded\":false}]");
        refreshOutgoing();
        QCOMPARE(codes(sent->transfers()), (QStringList{"NEU", b, c.code, "LEER"}));
        QCOMPARE(sent->transfers().last().fileName, QStringLiteral("LEER"));
        QVERIFY(sent->transfers().last().hasPassword);
        QCOMPARE(sent->transfers()[1].fileName, b + QStringLiteral(".zip")); // now only in the history

        // Once listed, a failing list changes nothing, silently.
        const auto shown = sent->transfers();
        QSignalSpy changed(sent, &SentTransfers::transfersChanged);
        server().failNext(QStringLiteral("/api/outgoing"), 1, 503, "[]");
        refreshOutgoing();
        QVERIFY(!sent->error());
        // A garbled list, or one unreadable record, changes nothing either, but the send tab says why
        // until a list reads again.
        server().failNext(QStringLiteral("/api/outgoing"), 1, 200, "<html>");
        refreshOutgoing();
        server().failNext(QStringLiteral("/api/outgoing"), 1, 200, "[{\"code\":\"KAPUTT\"}]");
        refreshOutgoing();
        QCOMPARE(sent->transfers(), shown);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(sent->error(), QStringLiteral("Fehler beim Laden der Transfers: Die Daten konnten nicht "
                                               "gelesen werden, weil „files“ fehlt."));
        refreshOutgoing();
        QVERIFY(!sent->error());
    }

    void passwordsLiveInMemoryOnly() {
        const QString code =
            server().seedTransfer({{QStringLiteral("a.pdf"), "a"}}, QStringLiteral("Geheim-1"));
        history().add(historyItem(code, now, {}));
        refreshOutgoing();
        QVERIFY(sent->transfers()[0].hasPassword);
        QVERIFY(!sent->transfers()[0].password);

        QCOMPARE(QCoro::waitFor(operations->revealPassword(code)), QStringLiteral("Geheim-1"));
        operations->copyLink(sent->transfers()[0]); // the link alone, though the password is known
        QCOMPARE(fixture->desktop.copiedTexts, QStringList{sent->transfers()[0].downloadURL});

        server().clearRequests();
        const auto fresh = QCoro::waitFor(operations->regeneratePassword(code));
        QVERIFY(fresh && *fresh != QStringLiteral("Geheim-1"));
        QVERIFY(QCoro::waitFor(operations->removePassword(code)));
        QVERIFY(!sent->transfers()[0].password && !sent->transfers()[0].hasPassword);
        const auto requests = server().requests();
        QCOMPARE(requestLines(server()), QStringList(2, "PATCH /api/outgoing/" + code + "/password"));
        QCOMPARE(requests[0].headers.value("content-type"), QStringLiteral("application/json"));
        QCOMPARE(requests[0].body, QByteArray("{\"generate\":true}"));
        QCOMPARE(requests[1].body, QByteArray("{\"password\":null}"));

        server().failNext(QStringLiteral("/api/outgoing/*"), 3, 500, "kaputt");
        QCOMPARE(QCoro::waitFor(operations->revealPassword(code)), std::nullopt);
        QCOMPARE(sent->error(),
                 QStringLiteral("Passwort konnte nicht geladen werden: Server-Fehler 500: kaputt"));
        QCOMPARE(QCoro::waitFor(operations->regeneratePassword(code)), std::nullopt);
        QCOMPARE(sent->error(),
                 QStringLiteral("Passwort konnte nicht erzeugt werden: Server-Fehler 500: kaputt"));
        QVERIFY(!QCoro::waitFor(operations->removePassword(code)));
        QCOMPARE(sent->error(),
                 QStringLiteral("Passwort konnte nicht entfernt werden: Server-Fehler 500: kaputt"));
    }

    void deleteRemovesAtOnceAndARefusalBringsItBack() {
        const QString bystander =
            server().seedTransfer({{QStringLiteral("bleibt.txt"), "b"}}, {}, now.addDays(-1));
        const QString gone = server().seedTransfer({{QStringLiteral("weg.txt"), "w"}});
        const QString kept = server().seedTransfer({{QStringLiteral("zurueck.txt"), "z"}});
        refreshOutgoing();
        QSignalSpy changed(sent, &SentTransfers::transfersChanged);
        const auto item = [&](const QString& code) {
            for (const auto& t : sent->transfers())
                if (t.code == code)
                    return t;
            qFatal("%s is not listed", qPrintable(code));
        };

        // Already gone on the server (404): still a success, and the history cannot bring it back.
        history().add(item(gone));
        QCoro::waitFor(APIService::deleteOutgoing(fixture->connection(), gone));
        operations->remove(item(gone));
        QCOMPARE(codes(sent->transfers()), (QStringList{kept, bystander})); // before any answer
        QTRY_VERIFY(codes(history().load()).isEmpty());
        QTRY_COMPARE(changed.count(), 2); // the removal, then the refresh
        QCOMPARE(codes(sent->transfers()), (QStringList{kept, bystander}));
        QCOMPARE(requestLines(server()).mid(requestLines(server()).size() - 2),
                 (QStringList{"DELETE /api/outgoing/" + gone, "GET /api/outgoing"}));
        QVERIFY(!received->error() && !sent->error());

        server().failNext(QStringLiteral("/api/outgoing/") + kept, 1, 500, "{}");
        operations->remove(item(kept));
        QCOMPARE(codes(sent->transfers()), QStringList{bystander});
        QTRY_COMPARE(changed.count(), 4);
        // Still on the server: the refresh brings it back, and the failure is said.
        QVERIFY(sent->error());
        QCOMPARE(codes(sent->transfers()), (QStringList{kept, bystander}));
    }

    // Where the file lands beside others, and a failed one, are the download's own (tst_requestcore);
    // a failure here: aCutOffDownloadIsAFailureNotAFile.
    void downloadAgainSavesRevealsAndAnnounces() {
        server().seedTransfer({{QStringLiteral("Bericht 2024.txt"), "neu"}});
        refreshOutgoing();
        QCoro::waitFor(operations->downloadOutgoing(sent->transfers()[0]));
        const QString target = zanvoltFolder() + QStringLiteral("/Bericht 2024.txt");
        QCOMPARE(readAll(target), QByteArray("neu"));
        QCOMPARE(fixture->desktop.revealedPaths, QStringList{target});
        QCOMPARE(fixture->desktop.notifications,
                 (QList<Notification>{{"Download abgeschlossen", "Bericht 2024.txt", std::nullopt}}));
        QVERIFY(!sent->error());
    }

    void downloadFetchesInOrderMarksAndAnnouncesOrStopsAtAFailure() {
        const QString token = server().seedIncoming(QStringLiteral("Müller GmbH"), threeFiles);
        refreshIncoming();
        server().clearRequests();
        server().failNext(QStringLiteral("/api/incoming/%1/files/2%20Plan.dwg").arg(token), 1, 500, "kaputt");

        // A failed file stops the rest and leaves the upload unmarked.
        QCoro::waitFor(received->downloadIncoming(listed(token)));
        QCOMPARE(entriesIn(APIService::incomingFolder()), QStringList{"1 Angebot.pdf"});
        QCOMPARE(requestsSeen().size(), 2); // neither the third file nor the mark was asked for
        QCOMPARE(received->error(), QStringLiteral("Netzwerk-Fehler: Download fehlgeschlagen"));
        QVERIFY(!received->isDownloading() && received->downloadProgress().isEmpty());

        // Marking answered 204: every file arrived, but only 200 counts as marked.
        server().failNext(QStringLiteral("/api/incoming/%1/downloaded").arg(token), 1, 204, {});
        QCoro::waitFor(received->downloadIncoming(listed(token)));
        QCOMPARE(received->error(), QStringLiteral("Netzwerk-Fehler: Markierung fehlgeschlagen"));
        QVERIFY(!listed(token).isDownloaded);
        QVERIFY(fixture->desktop.notifications.isEmpty());

        QDir(APIService::incomingFolder()).removeRecursively();
        server().clearRequests();
        progressLines.clear();
        QSignalSpy downloading(received, &ReceivedUploads::isDownloadingChanged);
        QCoro::waitFor(received->downloadIncoming(listed(token)));
        QCOMPARE(progressLines, (QStringList{"Lade herunter...", "Lade 1 Angebot.pdf...",
                                             "Lade 2 Plan.dwg...", "Lade 3 Foto.jpg...", ""}));
        QCOMPARE(downloading.count(), 2);
        const QString files = QStringLiteral("GET /api/incoming/") + token + QStringLiteral("/files/");
        QCOMPARE(
            requestsSeen(),
            (QStringList{files + "1%20Angebot.pdf", files + "2%20Plan.dwg", files + "3%20Foto.jpg",
                         QStringLiteral("POST /api/incoming/") + token + QStringLiteral("/downloaded")}));
        for (const auto& file : threeFiles)
            QCOMPARE(readAll(inboxFile(file.name)), file.content);
        QVERIFY(listed(token).isDownloaded);
        QCOMPARE(fixture->desktop.notifications,
                 (QList<Notification>{{QStringLiteral("Download abgeschlossen"),
                                       QStringLiteral("3 Datei(en) von Müller GmbH heruntergeladen"),
                                       std::nullopt}}));
        QCOMPARE(errors.size(), 2); // the whole download said nothing
    }

    void aCutOffDownloadIsAFailureNotAFile() {
        // Given up at the first cut (a cut download otherwise waits and asks for the rest).
        start({.waitLimits = {{}, {}, {}}});
        const QByteArray content(4000, 'r');
        const QString token =
            server().seedIncoming(QStringLiteral("Kunde"), {{QStringLiteral("Rechnung.pdf"), content}});
        refreshIncoming();
        server().clearRequests();
        server().truncateNext(QStringLiteral("/api/incoming/*"), 1, 400);

        QCoro::waitFor(received->downloadIncoming(listed(token)));
        QCOMPARE(received->error(), QStringLiteral("Übertragung unvollständig: 400 von 4000 Bytes erhalten"));
        QCOMPARE(entriesIn(APIService::incomingFolder()), QStringList());
        QCOMPARE(requestsSeen().size(), 1); // not marked as downloaded
        QVERIFY(!listed(token).isDownloaded);
        QVERIFY(fixture->desktop.notifications.isEmpty());

        // "Download again" of a sent file: the same.
        server().seedTransfer({{QStringLiteral("Bericht.pdf"), content}});
        refreshOutgoing();
        server().truncateNext(QStringLiteral("/d/*"), 1, 400);
        const TransferItem transfer = sent->transfers().value(0);
        const QStringList before = entriesIn(zanvoltFolder());
        QCoro::waitFor(operations->downloadOutgoing(transfer));
        QCOMPARE(sent->error(),
                 QStringLiteral(
                     "Download fehlgeschlagen: Übertragung unvollständig: 400 von 4000 Bytes erhalten"));
        QCOMPARE(entriesIn(zanvoltFolder()), before);
        QVERIFY(fixture->desktop.notifications.isEmpty());
        QVERIFY(fixture->desktop.revealedPaths.isEmpty());
    }

    void copyLinkPrefersTheServersLinkThenCodeThenToken() {
        fixture->storeCredentials(QStringLiteral("https://dateien.example.test/"), QStringLiteral("k"));
        IncomingUpload upload;
        upload.token = QStringLiteral("tok-1");
        upload.code = QStringLiteral("K7X2");
        upload.downloadURL = QStringLiteral("https://link.example.test/d/ABC?x=1");
        received->copyLink(upload);
        upload.downloadURL = QString();
        received->copyLink(upload);
        upload.downloadURL.reset();
        upload.code = QString();
        received->copyLink(upload);
        QTRY_COMPARE(fixture->desktop.copiedTexts, (QStringList{"https://link.example.test/d/ABC?x=1",
                                                                "https://dateien.example.test/d/K7X2",
                                                                "https://dateien.example.test/d/tok-1"}));

        fixture->storeCredentials(QString(), QStringLiteral("k"));
        received->copyLink(upload);
        QTest::qWait(100);
        QCOMPARE(fixture->desktop.copiedTexts.size(), 3);
        QVERIFY(errors.isEmpty());
    }

    // A failed refresh or deletion changes the list only as far as the server has.
    void incomingListKeepsWhatTheServerStillHolds() {
        const QString kept = server().seedIncoming(QStringLiteral("Bleibt"), threeFiles);
        refreshIncoming();
        const QString gone = server().seedIncoming(QStringLiteral("Geht"), threeFiles);
        server().failNext(QStringLiteral("/api/incoming"), 1, 503, "Wartung bis 18 Uhr");
        refreshIncoming();
        QCOMPARE(tokens(), QStringList{kept});
        QCOMPARE(received->error(), QStringLiteral("Server-Fehler 503: Wartung bis 18 Uhr"));
        refreshIncoming(); // kept until the next success
        QCOMPARE(tokens(), (QStringList{gone, kept}));
        QVERIFY(!received->error());
        server().clearRequests();
        errors.clear();

        received->remove(listed(gone));
        QCOMPARE(tokens(), QStringList{kept}); // at once
        // Arrives before the refresh that follows the deletion, so that refresh changes the list.
        const QString fresh = server().seedIncoming(QStringLiteral("Neu"), threeFiles);
        QTRY_COMPARE(received->uploads().size(), 2);
        QCOMPARE(tokens(), (QStringList{fresh, kept})); // newest first, as the server lists them
        QCOMPARE(requestsSeen(), (QStringList{QStringLiteral("DELETE /api/incoming/") + gone,
                                              QStringLiteral("GET /api/incoming")}));

        server().failNext(QStringLiteral("/api/incoming/") + kept, 1, 500, "gesperrt");
        server().clearRequests();
        received->remove(listed(kept));
        QTRY_COMPARE(received->uploads().size(), 2);
        QCOMPARE(tokens(), (QStringList{fresh, kept}));
        QCOMPARE(requestsSeen(), (QStringList{QStringLiteral("DELETE /api/incoming/") + kept,
                                              QStringLiteral("GET /api/incoming")}));
        // The refresh that brings the row back succeeds and so clears the message again.
        QCOMPARE(
            errors,
            (QList<std::optional<QString>>{
                QStringLiteral("Server-Löschung fehlgeschlagen: Netzwerk-Fehler: Löschen fehlgeschlagen"),
                std::nullopt}));

        // Asked for three times at once: one request at a time, the two later ones served by one.
        server().clearRequests();
        QCoro::Task<> tasks[] = {received->refresh(), received->refresh(), received->refresh(),
                                 sent->refresh(),     sent->refresh(),     sent->refresh()};
        for (QCoro::Task<>& task : tasks)
            QCoro::waitFor(std::move(task));
        QCOMPARE(requestsSeen(), QStringList(2, QStringLiteral("GET /api/incoming")));
        QCOMPARE(requestLines(server(), QStringLiteral("/api/outgoing")),
                 QStringList(2, QStringLiteral("GET /api/outgoing")));

        // Without a complete configuration nothing is asked and nothing changes.
        fixture->storeCredentials(server().baseURL(), QString());
        server().clearRequests();
        refreshIncoming();
        QVERIFY(requestsSeen().isEmpty());
        QCOMPARE(tokens(), (QStringList{fresh, kept}));
    }
};

QTEST_GUILESS_MAIN(TestTransferLists)
#include "tst_transferlists.moc"
