#include "APIServiceIncoming.h"
#include "KeychainService.h"
#include "RecordingDesktopServices.h"
#include "TestServerFixture.h"
#include "TransferManager.h"

#include <QCoroTask>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
using Notification = RecordingDesktopServices::Notification;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString inboxFile(const QString& name) {
    return APIService::incomingFolder() + u'/' + name;
}

QStringList requestsSeen(TransferServer& server) {
    QStringList seen;
    for (const auto& request : server.requests())
        if (request.path.startsWith(QLatin1String("/api/incoming"))) // not the sent side's start-up refresh
            seen << request.method + u' ' + request.path;
    return seen;
}

const QList<TransferServer::SeedFile> threeFiles = {{QStringLiteral("1 Angebot.pdf"), "angebot"},
                                                    {QStringLiteral("2 Plan.dwg"), "plan"},
                                                    {QStringLiteral("3 Foto.jpg"), "foto"}};
} // namespace

// The receive side of the manager against the bundled server.
class TestIncoming : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<QTemporaryDir> history;
    std::unique_ptr<TestServerFixture> fixture;
    RecordingDesktopServices desktop;
    std::unique_ptr<TransferManager> manager;

    // Every value a property took, in order, as the panel would have seen it.
    QStringList progressLines;
    QList<std::optional<QString>> errors;

    TransferServer& server() { return fixture->server(); }

    void refresh() { QCoro::waitFor(manager->refreshIncoming()); }

    QStringList tokens() const {
        QStringList all;
        for (const IncomingUpload& upload : manager->incomingUploads())
            all << upload.token;
        return all;
    }

    IncomingUpload listed(const QString& token) {
        for (const IncomingUpload& upload : manager->incomingUploads())
            if (upload.token == token)
                return upload;
        qFatal("upload %s is not listed", qPrintable(token));
    }

private Q_SLOTS:
    void initTestCase() {
        // Downloads land in the Downloads folder: keep it inside a throw-away home.
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME");
        QVERIFY(APIService::incomingFolder().startsWith(home.path() + u'/'));
    }

    void init() {
        QDir(APIService::incomingFolder()).removeRecursively();
        fixture = std::make_unique<TestServerFixture>();
        history = std::make_unique<QTemporaryDir>();
        desktop = RecordingDesktopServices();
        TransferManager::Environment env;
        env.historyDirectory = history->path();
        env.secretStore = &fixture->store();
        env.desktop = &desktop;
        env.firstPollDelay = env.pollInterval = std::chrono::hours(1);
        manager = std::make_unique<TransferManager>(env);
        progressLines.clear();
        errors.clear();
        connect(manager.get(), &TransferManager::downloadProgressChanged, this,
                [this] { progressLines << manager->downloadProgress(); });
        connect(manager.get(), &TransferManager::incomingErrorChanged, this,
                [this] { errors << manager->incomingError(); });
    }

    void cleanup() {
        manager.reset();
        fixture.reset();
    }

    void refreshKeepsTheListOnFailureUntilTheNextSuccess() {
        const QString first = server().seedIncoming(QStringLiteral("Erster Kunde"), threeFiles);
        refresh();
        QCOMPARE(manager->incomingUploads().size(), 1);
        QCOMPARE(manager->incomingUploads()[0].token, first);
        QVERIFY(!manager->incomingError());

        server().seedIncoming(QStringLiteral("Zweiter Kunde"), threeFiles);
        server().failNext(QStringLiteral("/api/incoming"), 1, 503, "Wartung bis 18 Uhr");
        refresh();
        QCOMPARE(manager->incomingUploads().size(), 1);
        QCOMPARE(manager->incomingError(), QStringLiteral("Server-Fehler 503: Wartung bis 18 Uhr"));

        refresh();
        QCOMPARE(manager->incomingUploads().size(), 2);
        QVERIFY(!manager->incomingError());

        // Without a complete configuration nothing is asked and nothing changes.
        fixture->storeCredentials(server().baseURL(), QString());
        server().clearRequests();
        refresh();
        QVERIFY(requestsSeen(server()).isEmpty());
        QCOMPARE(manager->incomingUploads().size(), 2);
    }

    void downloadFetchesInOrderMarksAndAnnounces() {
        const QString token = server().seedIncoming(QStringLiteral("Müller GmbH"), threeFiles);
        refresh();
        server().clearRequests();
        QSignalSpy downloading(manager.get(), &TransferManager::isDownloadingChanged);

        QCoro::waitFor(manager->downloadIncoming(listed(token)));

        QCOMPARE(progressLines, (QStringList{"Lade herunter...", "Lade 1 Angebot.pdf...",
                                             "Lade 2 Plan.dwg...", "Lade 3 Foto.jpg...", ""}));
        QCOMPARE(downloading.count(), 2);
        QVERIFY(!manager->isDownloading());
        const QString files = QStringLiteral("GET /api/incoming/") + token + QStringLiteral("/files/");
        QCOMPARE(
            requestsSeen(server()),
            (QStringList{files + "1%20Angebot.pdf", files + "2%20Plan.dwg", files + "3%20Foto.jpg",
                         QStringLiteral("POST /api/incoming/") + token + QStringLiteral("/downloaded")}));
        for (const auto& file : threeFiles)
            QCOMPARE(readAll(inboxFile(file.name)), file.content);
        QVERIFY(listed(token).isDownloaded);
        QCOMPARE(desktop.notifications,
                 (QList<Notification>{{QStringLiteral("Download abgeschlossen"),
                                       QStringLiteral("3 Datei(en) von Müller GmbH heruntergeladen"),
                                       std::nullopt}}));
        QVERIFY(errors.isEmpty());
        refresh();
        QVERIFY(listed(token).isDownloaded); // the server kept the mark
    }

    void aFailedFileStopsTheRestAndLeavesTheUploadUnmarked() {
        const QString token = server().seedIncoming(QStringLiteral("Müller GmbH"), threeFiles);
        refresh();
        server().clearRequests();
        server().failNext(QStringLiteral("/api/incoming/%1/files/2%20Plan.dwg").arg(token), 1, 500, "kaputt");

        QCoro::waitFor(manager->downloadIncoming(listed(token)));

        QCOMPARE(readAll(inboxFile(QStringLiteral("1 Angebot.pdf"))), QByteArray("angebot"));
        QVERIFY(!QFile::exists(inboxFile(QStringLiteral("2 Plan.dwg"))));
        QVERIFY(!QFile::exists(inboxFile(QStringLiteral("3 Foto.jpg"))));
        QCOMPARE(requestsSeen(server()).size(), 2); // neither the third file nor the mark was asked for
        QCOMPARE(manager->incomingError(), QStringLiteral("Netzwerk-Fehler: Download fehlgeschlagen"));
        QVERIFY(!listed(token).isDownloaded);
        QVERIFY(desktop.notifications.isEmpty());
        QVERIFY(!manager->isDownloading());
        QCOMPARE(progressLines.last(), QString());

        // Marking answered 204: every file arrived, but only 200 counts as marked.
        server().failNext(QStringLiteral("/api/incoming/%1/downloaded").arg(token), 1, 204, {});
        QCoro::waitFor(manager->downloadIncoming(listed(token)));
        for (const auto& file : threeFiles)
            QCOMPARE(readAll(inboxFile(file.name)), file.content);
        QCOMPARE(manager->incomingError(), QStringLiteral("Netzwerk-Fehler: Markierung fehlgeschlagen"));
        QVERIFY(!listed(token).isDownloaded);
        QVERIFY(desktop.notifications.isEmpty());
        QVERIFY(!manager->isDownloading());
        QCOMPARE(manager->downloadProgress(), QString());
    }

    void copyLinkPrefersTheServersLinkThenCodeThenToken() {
        fixture->storeCredentials(QStringLiteral("https://dateien.example.test/"), QStringLiteral("k"));
        IncomingUpload upload;
        upload.token = QStringLiteral("tok-1");
        upload.code = QStringLiteral("K7X2");
        upload.downloadURL = QStringLiteral("https://link.example.test/d/ABC?x=1");
        manager->copyIncomingLink(upload);
        upload.downloadURL = QString();
        manager->copyIncomingLink(upload);
        upload.downloadURL.reset();
        upload.code = QString();
        manager->copyIncomingLink(upload);
        QCOMPARE(desktop.copiedTexts,
                 (QStringList{"https://link.example.test/d/ABC?x=1", "https://dateien.example.test/d/K7X2",
                              "https://dateien.example.test/d/tok-1"}));

        fixture->storeCredentials(QString(), QStringLiteral("k"));
        manager->copyIncomingLink(upload);
        QCOMPARE(desktop.copiedTexts.size(), 3);
        QVERIFY(errors.isEmpty());
    }

    void deletedRowVanishesAtOnceAndReturnsWhenTheServerRefuses() {
        const QString kept = server().seedIncoming(QStringLiteral("Bleibt"), threeFiles);
        const QString gone = server().seedIncoming(QStringLiteral("Geht"), threeFiles);
        refresh();
        server().clearRequests();

        manager->deleteIncoming(listed(gone));
        QCOMPARE(manager->incomingUploads().size(), 1);
        QCOMPARE(manager->incomingUploads()[0].token, kept);
        // Arrives before the refresh that follows the deletion, so that refresh changes the list.
        const QString fresh = server().seedIncoming(QStringLiteral("Neu"), threeFiles);
        QTRY_COMPARE(manager->incomingUploads().size(), 2);
        QCOMPARE(tokens(), (QStringList{fresh, kept})); // newest first, as the server lists them
        QCOMPARE(requestsSeen(server()), (QStringList{QStringLiteral("DELETE /api/incoming/") + gone,
                                                      QStringLiteral("GET /api/incoming")}));
        QVERIFY(errors.isEmpty());

        server().failNext(QStringLiteral("/api/incoming/") + kept, 1, 500, "gesperrt");
        server().clearRequests();
        manager->deleteIncoming(listed(kept));
        QCOMPARE(manager->incomingUploads().size(), 1);
        QTRY_COMPARE(manager->incomingUploads().size(), 2);
        QCOMPARE(tokens(), (QStringList{fresh, kept}));
        QCOMPARE(requestsSeen(server()), (QStringList{QStringLiteral("DELETE /api/incoming/") + kept,
                                                      QStringLiteral("GET /api/incoming")}));
        // The refresh that brings the row back succeeds and so clears the message again.
        QCOMPARE(
            errors,
            (QList<std::optional<QString>>{
                QStringLiteral("Server-Löschung fehlgeschlagen: Netzwerk-Fehler: Löschen fehlgeschlagen"),
                std::nullopt}));
    }
};

QTEST_GUILESS_MAIN(TestIncoming)
#include "tst_incoming.moc"
