#include "APIError.h"
#include "APIServiceIncoming.h"
#include "PrivateTempDir.h"
#include "TestServerFixture.h"

#include <QCoroTask>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList rawPaths(TransferServer& server) {
    QStringList paths;
    for (const auto& request : server.requests())
        paths << request.method + u' ' + request.path;
    return paths;
}

// QCoro::waitFor never returns when the awaited task throws, so every task is
// awaited inside a coroutine that catches.
template <typename T> QCoro::Task<QString> describeFailure(QCoro::Task<T> task) {
    try {
        co_await std::move(task);
    } catch (const AppError& error) {
        co_return error.localizedDescription();
    } catch (...) {
        co_return QStringLiteral("<other exception>");
    }
    co_return QStringLiteral("<no error>");
}

template <typename T> QString failureOf(QCoro::Task<T> task) {
    return QCoro::waitFor(describeFailure(std::move(task)));
}

template <typename T> QCoro::Task<T> orAbort(QCoro::Task<T> task) {
    try {
        co_return co_await std::move(task);
    } catch (const std::exception& error) {
        qFatal("unexpected failure: %s", error.what());
    }
}

template <typename T> T valueOf(QCoro::Task<T> task) {
    return QCoro::waitFor(orAbort(std::move(task)));
}

QStringList temporaryDownloads() {
    return QDir(PrivateTempDir::path()).entryList({QStringLiteral("download-*")}, QDir::Files);
}
} // namespace

// The customer-upload endpoints against the bundled server.
class TestIncomingAPI : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<TestServerFixture> fixture;

    TransferServer& server() { return fixture->server(); }

private Q_SLOTS:
    void initTestCase() {
        // The inbox lives in the Downloads folder: keep it inside a throw-away home.
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(APIService::incomingFolder(), home.path() + QStringLiteral("/Downloads/Zanvolt-Eingang"));
    }

    void init() {
        fixture = std::make_unique<TestServerFixture>();
        QDir(home.path()).removeRecursively();
        QDir().mkpath(home.path());
    }

    void cleanup() { fixture.reset(); }

    void listIsDecodedAndFailuresCarryTheWholeBody() {
        const QString token =
            server().seedIncoming(QStringLiteral("Müller GmbH"), {{QStringLiteral("Plan.pdf"), "12345"}},
                                  QStringLiteral("A-17"), QStringLiteral("Bitte prüfen"));
        const QList<IncomingUpload> uploads = valueOf(APIService::fetchIncoming());
        QCOMPARE(uploads.size(), 1);
        QCOMPARE(uploads[0].token, token);
        QCOMPARE(uploads[0].customerName, QStringLiteral("Müller GmbH"));
        QCOMPARE(uploads[0].auftragsnummer, QStringLiteral("A-17"));
        QCOMPARE(uploads[0].nachricht, QStringLiteral("Bitte prüfen"));
        QCOMPARE(uploads[0].files.value(0).name, QStringLiteral("Plan.pdf"));
        QCOMPARE(uploads[0].files.value(0).size, 5);
        QVERIFY(!uploads[0].isDownloaded);

        // Not shortened, unlike the common check's 500-character excerpt.
        const QString body = QStringLiteral("Zugriff verweigert – ").repeated(40);
        server().failNext(QStringLiteral("/api/incoming"), 1, 401, body.toUtf8());
        QCOMPARE(failureOf(APIService::fetchIncoming()), QStringLiteral("Server-Fehler 401: ") + body);
        server().failNext(QStringLiteral("/api/incoming"), 1, 502, "\xff\xfe kaputt");
        QCOMPARE(failureOf(APIService::fetchIncoming()), QStringLiteral("Server-Fehler 502: "));
        server().failNext(QStringLiteral("/api/incoming"), 1, 200, R"([{"token":"t"}])");
        QCOMPARE(failureOf(APIService::fetchIncoming()),
                 QStringLiteral("Die Daten konnten nicht gelesen werden, weil „customerName“ fehlt."));

        fixture->storeCredentials(server().baseURL(), QStringLiteral("falsch"));
        QCOMPARE(failureOf(APIService::fetchIncoming()),
                 QStringLiteral("Server-Fehler 401: Ungültiger oder fehlender API-Key"));
    }

    void downloadsAreEscapedOnTheWireAndReplaceByName() {
        const QString name = QStringLiteral("Angebot Müller & Söhne.pdf");
        const QString first = server().seedIncoming(QStringLiteral("A"), {{name, "erste Fassung"}});
        const QString second = server().seedIncoming(QStringLiteral("B"), {{name, "zweite"}});
        server().clearRequests();

        const QString saved = valueOf(APIService::downloadFile(first, name));
        QCOMPARE(saved, APIService::incomingFolder() + u'/' + name);
        QCOMPARE(readAll(saved), QByteArray("erste Fassung"));
        QCOMPARE(valueOf(APIService::downloadFile(second, name)), saved);
        QCOMPARE(readAll(saved), QByteArray("zweite"));
        QCOMPARE(QDir(APIService::incomingFolder()).entryList(QDir::Files), QStringList{name});
        QCOMPARE(rawPaths(server()),
                 (QStringList{
                     QStringLiteral("GET /api/incoming/%1/files/Angebot%20M%C3%BCller%20&%20S%C3%B6hne.pdf")
                         .arg(first),
                     QStringLiteral("GET /api/incoming/%1/files/Angebot%20M%C3%BCller%20&%20S%C3%B6hne.pdf")
                         .arg(second)}));

        // A folder of the same name is replaced as well.
        QDir().mkpath(APIService::incomingFolder() + QStringLiteral("/Plan.pdf/alt"));
        const QString plan =
            server().seedIncoming(QStringLiteral("C"), {{QStringLiteral("Plan.pdf"), "plan"}});
        QCOMPARE(readAll(valueOf(APIService::downloadFile(plan, QStringLiteral("Plan.pdf")))),
                 QByteArray("plan"));

        QCOMPARE(failureOf(APIService::downloadFile(first, QStringLiteral("fehlt.txt"))),
                 QStringLiteral("Netzwerk-Fehler: Download fehlgeschlagen"));
        QVERIFY(temporaryDownloads().isEmpty());
    }

    void hostileNamesStayInsideTheInbox() {
        const QList<std::pair<QString, QString>> cases = {
            {QStringLiteral("../../entkommen.txt"), ".._.._entkommen.txt"},
            {QStringLiteral(".."), "__"},
            {QStringLiteral("."), "_"},
            {QStringLiteral("Ordner\\..\\x.txt"), "Ordner_.._x.txt"},
            {QStringLiteral("/etc/passwd"), "_etc_passwd"}};
        for (const auto& [hostile, safe] : cases) {
            // A name with dot segments may reach another path once the URL is normalised:
            // answer whatever arrives, as a hostile server would.
            server().failNext(QStringLiteral("/api/*"), 1, 200, hostile.toUtf8());
            const QString saved = valueOf(APIService::downloadFile(QStringLiteral("T1"), hostile));
            QCOMPARE(saved, APIService::incomingFolder() + u'/' + safe);
            QCOMPARE(readAll(saved), hostile.toUtf8());
        }
        QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Downloads")});
        QCOMPARE(QDir(home.path() + QStringLiteral("/Downloads"))
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Zanvolt-Eingang")});

        // The inbox itself cannot be made: the file system's reason reaches the user.
        QDir(home.path()).removeRecursively();
        QDir().mkpath(home.path());
        QFile blocker(home.path() + QStringLiteral("/Downloads"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        server().failNext(QStringLiteral("/api/incoming/T1/files/*"), 1, 200, "x");
        QVERIFY(failureOf(APIService::downloadFile(QStringLiteral("T1"), QStringLiteral("a.txt")))
                    .startsWith(QStringLiteral("Der Ordner „%1“ konnte nicht erstellt werden: ")
                                    .arg(APIService::incomingFolder())));
        QVERIFY(temporaryDownloads().isEmpty());
    }

    void markingAndDeletingFollowTheirStatusRules() {
        const QString token =
            server().seedIncoming(QStringLiteral("Kunde"), {{QStringLiteral("a.txt"), "a"}});
        const QString path = QStringLiteral("/api/incoming/") + token;

        server().failNext(path + QStringLiteral("/downloaded"), 1, 204, {});
        QCOMPARE(failureOf(APIService::markAsDownloaded(token)),
                 QStringLiteral("Netzwerk-Fehler: Markierung fehlgeschlagen"));
        QVERIFY(!valueOf(APIService::fetchIncoming()).value(0).isDownloaded);
        QCOMPARE(failureOf(APIService::markAsDownloaded(token)), QStringLiteral("<no error>"));
        QVERIFY(valueOf(APIService::fetchIncoming()).value(0).isDownloaded);

        server().failNext(path, 1, 500, "kaputt");
        QCOMPARE(failureOf(APIService::deleteIncoming(token)),
                 QStringLiteral("Netzwerk-Fehler: Löschen fehlgeschlagen"));
        server().failNext(path, 1, 204, {});
        QCOMPARE(failureOf(APIService::deleteIncoming(token)), QStringLiteral("<no error>"));
        QCOMPARE(valueOf(APIService::fetchIncoming()).size(), 1);
        QCOMPARE(failureOf(APIService::deleteIncoming(token)), QStringLiteral("<no error>"));
        QVERIFY(valueOf(APIService::fetchIncoming()).isEmpty());
        QCOMPARE(failureOf(APIService::deleteIncoming(token)),
                 QStringLiteral("<no error>")); // 404: already gone

        // The token is one path segment, whatever it holds.
        server().clearRequests();
        failureOf(APIService::deleteIncoming(QStringLiteral("a b?c")));
        QCOMPARE(rawPaths(server()), QStringList{QStringLiteral("DELETE /api/incoming/a%20b%3Fc")});
    }
};

QTEST_GUILESS_MAIN(TestIncomingAPI)
#include "tst_incomingapi.moc"
