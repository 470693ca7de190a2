#include "APIServiceOutgoing.h"
#include "AppError.h"
#include "SafeFileName.h"
#include "TestServerFixture.h"

#include <QCoroTask>
#include <QTest>

namespace {
// The text the user would see for a task that must fail. (QCoro's waitFor
// does not pass exceptions on: a throwing task would never finish it.)
template <typename T> QCoro::Task<QString> failureText(QCoro::Task<T> task) {
    try {
        co_await std::move(task);
    } catch (const AppError& error) {
        co_return error.localizedDescription();
    }
    co_return QStringLiteral("<no error>");
}

template <typename T> QString failureOf(QCoro::Task<T> task) {
    return QCoro::waitFor(failureText(std::move(task)));
}

QStringList entryNames(const QList<APIService::ZipEntry>& entries) {
    QStringList names;
    for (const auto& entry : entries)
        names << entry.name;
    return names;
}
} // namespace

// The sent-transfer endpoints against the bundled server.
class TestOutgoingAPI : public QObject {
    Q_OBJECT

    std::unique_ptr<TestServerFixture> fixture;
    TransferServer& server() { return fixture->server(); }

private Q_SLOTS:
    void init() { fixture = std::make_unique<TestServerFixture>(); }
    void cleanup() { fixture.reset(); }

    void listDecoding() {
        // Dates with and without a fraction; ZIP entries of the first listed file that has some.
        server().failNext(
            QStringLiteral("/api/outgoing"), 1, 200,
            "[{\"code\":\"K1\",\"files\":[{\"name\":\"A.zip\",\"size\":1,\"sizeFormatted\":\"1 B\"},"
            "{\"name\":\"B.zip\",\"size\":2,\"sizeFormatted\":\"2 B\"}],"
            "\"downloadURL\":\"https://s/d/K1\",\"createdAt\":\"2024-05-01T12:30:45.500+02:00\","
            "\"isDownloaded\":false,\"zipEntries\":{\"B.zip\":[{\"name\":\"b/1.txt\",\"size\":7}],"
            "\"Z.zip\":[{\"name\":\"z.txt\",\"size\":1}]}},"
            "{\"code\":\"K2\",\"files\":[],\"downloadURL\":\"u\",\"createdAt\":\"2024-05-01T12:30:45Z\","
            "\"isDownloaded\":true,\"hasPassword\":null,\"zipEntries\":{\"Z.zip\":[{\"name\":\"z.txt\","
            "\"size\":1}]}},"
            "{\"code\":\"K3\",\"files\":[],\"downloadURL\":\"u\",\"createdAt\":\"2024-05-01T12:30:45Z\","
            "\"isDownloaded\":false}]");
        const auto list = QCoro::waitFor(APIService::fetchOutgoing());
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[0].createdAt, QDateTime(QDate(2024, 5, 1), QTime(10, 30, 45, 500), Qt::UTC));
        QCOMPARE(entryNames(list[0].primaryZipEntries()), QStringList{"b/1.txt"});
        QCOMPARE(list[0].primaryZipEntries().first().size, 7);
        QCOMPARE(entryNames(list[1].primaryZipEntries()), QStringList{"z.txt"}); // no file matches
        QCOMPARE(list[1].hasPassword, std::nullopt);
        QVERIFY(list[2].primaryZipEntries().isEmpty());

        // One bad element fails the whole list with the decoder's text.
        server().failNext(QStringLiteral("/api/outgoing"), 1, 200,
                          "[{\"code\":\"K1\",\"files\":[],\"downloadURL\":\"u\",\"createdAt\":\"2024-05-01\","
                          "\"isDownloaded\":false}]");
        QCOMPARE(failureOf(APIService::fetchOutgoing()), QStringLiteral("Ungültiges Datum: 2024-05-01"));
        server().failNext(QStringLiteral("/api/outgoing"), 1, 200,
                          "[{\"code\":\"K1\",\"files\":[],\"downloadURL\":\"u\",\"isDownloaded\":false}]");
        QVERIFY(failureOf(APIService::fetchOutgoing()).contains(QStringLiteral("„createdAt“ fehlt")));
        server().failNext(QStringLiteral("/api/outgoing"), 1, 503, "[]");
        QCOMPARE(failureOf(APIService::fetchOutgoing()),
                 QStringLiteral("Netzwerk-Fehler: Fehler beim Laden der Transfers"));
    }

    void codesAndNamesStayInTheirPathSegment() {
        QCOMPARE(failureOf(APIService::revealOutgoingPassword(QStringLiteral("a/b c"))),
                 QStringLiteral("Server-Fehler 404: {\"error\":\"Transfer nicht gefunden\"}"));
        QCOMPARE(server().requests().last().path, QStringLiteral("/api/outgoing/a%2Fb%20c/password"));
        QCOMPARE(failureOf(APIService::downloadOutgoingFile(QStringLiteral("K?1"),
                                                            QStringLiteral("Mein Plan #2.pdf"))),
                 QStringLiteral("Netzwerk-Fehler: Download fehlgeschlagen (HTTP 404)"));
        QCOMPARE(server().requests().last().path, QStringLiteral("/d/K%3F1/file/Mein%20Plan%20%232.pdf"));
        QCOMPARE(server().requests().last().headers.value("x-api-key"), server().apiKey());
    }

    void safeFileNames() {
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("Bericht 1.pdf")), QStringLiteral("Bericht 1.pdf"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("../../.bashrc")), QStringLiteral(".._.._.bashrc"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("..\\x")), QStringLiteral(".._x"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("..")), QStringLiteral("__"));
        QCOMPARE(SafeFileName::forFolder(QString()), QStringLiteral("_"));
        QCOMPARE(SafeFileName::forFolder(QStringLiteral("...")), QStringLiteral("..."));
    }
};

QTEST_GUILESS_MAIN(TestOutgoingAPI)
#include "tst_outgoingapi.moc"
