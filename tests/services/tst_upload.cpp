#include "APIError.h"
#include "APIRequest.h"
#include "APIService.h"
#include "APIServiceUpload.h"
#include "CancelToken.h"
#include "CancelledError.h"
#include "PlatformError.h"
#include "ProgressTracker.h"
#include "RecordedRequests.h"
#include "TestFiles.h"
#include "TestServerFixture.h"
#include "WaitForTask.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

using APIService::uploadChunkSize;
using Requests = QList<TransferServer::RecordedRequest>;

namespace {
const QString tokenPath = QStringLiteral("/api/create-upload-token");
const QString chunkPath = QStringLiteral("/api/upload-chunk");
const QString completePath = QStringLiteral("/api/upload-complete");

struct Reports {
    QList<double> fractions;
    QList<double> speeds;
    bool offMainThread = false;

    std::function<void(double, double)> handler() {
        return [this](double fraction, double speed) {
            offMainThread |= QThread::currentThread() != qApp->thread();
            fractions << fraction;
            speeds << speed;
        };
    }
};

// The text fields and the file bytes of a recorded chunk request.
struct SentChunk {
    QMap<QString, QString> fields;
    QByteArray data;
};

SentChunk sentChunk(const TransferServer::RecordedRequest& request) {
    const QByteArray boundary = request.headers.value("content-type").section("boundary=", 1).toLatin1();
    const QByteArray fileHead = "Content-Type: application/octet-stream\r\n\r\n";
    const QByteArray closing = "\r\n--" + boundary + "--\r\n";
    const qsizetype start = request.body.indexOf(fileHead) + fileHead.size();
    SentChunk chunk;
    if (request.body.endsWith(closing))
        chunk.data = request.body.sliced(start, request.body.size() - closing.size() - start);
    static const QRegularExpression field(QStringLiteral("name=\"(\\w+)\"\r\n\r\n([^\r]*)\r\n"));
    for (const auto& match : field.globalMatch(QString::fromUtf8(request.body.first(start))))
        chunk.fields[match.captured(1)] = match.captured(2);
    return chunk;
}

// Random bytes from a fixed seed, so a chunk taken from the wrong offset shows.
QString randomFile(const QTemporaryDir& dir, const QString& name, qint64 size) {
    QByteArray bytes((size + 3) / 4 * 4, Qt::Uninitialized);
    QRandomGenerator(size).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return writeFile(dir.filePath(name), bytes.first(size)).toLocalFile();
}

QByteArray slice(const QString& path, qint64 offset, qint64 size) {
    return readAll(path).mid(offset, size);
}

QCoro::Task<APIService::OutgoingResult> upload(QString path, QPointer<CancelToken> cancel = nullptr) {
    return APIService::uploadOutgoing(path, std::nullopt, false, {}, cancel);
}
} // namespace

// The chunked upload against the bundled HTTPS server.
class TestUpload : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<TestServerFixture> fixture;
    TransferServer& server() { return fixture->server(); }

private Q_SLOTS:
    void init() { fixture = std::make_unique<TestServerFixture>(); }
    void cleanup() { fixture.reset(); }

    void trackerWindowAndFraction() {
        using namespace std::chrono;
        steady_clock::time_point now{};
        Reports reports;
        ProgressTracker tracker(1000, reports.handler(), [&now] { return now; });
        now += 1s;
        tracker.add(100);
        tracker.add(100); // same instant: measured against the older samples, not 0
        now += 4s;
        tracker.add(50); // the first sample lies exactly at the cut-off and stays
        now += 1ms;
        tracker.add(0); // now it is out; the oldest left is the one of second 1
        now += 10s;
        tracker.add(750); // nothing else within five seconds
        tracker.add(500);
        QCOMPARE(reports.fractions, (QList<double>{0.1, 0.2, 0.25, 0.25, 1.0, 1.5}));
        QCOMPARE(reports.speeds, (QList<double>{100.0, 200.0, 50.0, 150.0 / 4.001, 0.0, 0.0}));

        Reports empty;
        ProgressTracker zero(0, empty.handler());
        zero.add(0);
        zero.add(7);
        QCOMPARE(empty.fractions, (QList<double>{1.0, 1.0}));

        // Calls from four threads at once are carried to the main thread, each counted once.
        Reports threaded;
        ProgressTracker shared(4000, threaded.handler());
        QList<QFuture<void>> adds;
        for (int i = 1; i <= 4; ++i)
            adds << QtConcurrent::run([&shared, i] { shared.add(i * 100); });
        QTRY_COMPARE(threaded.fractions.size(), 4);
        QVERIFY(!threaded.offMainThread);
        QCOMPARE(*std::max_element(threaded.fractions.begin(), threaded.fractions.end()), 0.25);
    }

    void wireBytesAndResults() {
        const QString name = QStringLiteral("Bericht März.pdf");
        const QString path = randomFile(dir, name, 1000);
        server().setRecordBodies(true);
        Reports reports;
        const auto result =
            waitForTask(APIService::uploadOutgoing(path, QString(), false, reports.handler()));
        const Requests all = server().requests();
        QCOMPARE(all.size(), 3);

        const auto& token = all[0];
        QCOMPARE(token.method + u' ' + token.path, QStringLiteral("POST ") + tokenPath);
        QCOMPARE(token.bodySize, 0);
        QVERIFY(!token.headers.contains("content-type"));
        QCOMPARE(token.headers.value("x-api-key"), server().apiKey());

        const QByteArray completion = all[2].body;
        const QByteArray tokenValue = QJsonDocument::fromJson(completion)["token"].toString().toUtf8();
        QVERIFY(!tokenValue.isEmpty());
        QCOMPARE(completion, "{\"token\":\"" + tokenValue +
                                 "\",\"files\":[{\"name\":\"Bericht März.pdf\","
                                 "\"totalChunks\":1}],\"name\":\"Bericht März.pdf\","
                                 "\"direction\":\"outgoing\"}");
        QCOMPARE(all[2].headers.value("content-type"), QStringLiteral("application/json"));

        const auto& chunk = all[1];
        const QString contentType = chunk.headers.value("content-type");
        const QRegularExpression shape(
            QStringLiteral("^multipart/form-data; boundary=(boundary-[0-9A-F]{8}-[0-9A-F]{4}-"
                           "[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})$"));
        const auto match = shape.match(contentType);
        QVERIFY2(match.hasMatch(), qPrintable(contentType));
        const QByteArray b = match.captured(1).toLatin1();
        auto field = [&](const QByteArray& fieldName, const QByteArray& value) {
            return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + fieldName + "\"\r\n\r\n" +
                   value + "\r\n";
        };
        QCOMPARE(chunk.body,
                 field("token", tokenValue) + field("filename", name.toUtf8()) + field("chunkIndex", "0") +
                     field("totalChunks", "1") + "--" + b +
                     "\r\nContent-Disposition: form-data; name=\"chunk\"; filename=\"chunk.bin\"\r\n"
                     "Content-Type: application/octet-stream\r\n\r\n" +
                     slice(path, 0, 1000) + "\r\n--" + b + "--\r\n");

        QCOMPARE(result.status, QStringLiteral("success"));
        QCOMPARE(result.downloadURL, server().baseURL() + QStringLiteral("/d/") + result.code);
        QCOMPARE(result.files.size(), 1);
        QCOMPARE(result.files[0].name, name);
        QCOMPARE(result.files[0].size, 1000);
        QCOMPARE(result.hasPassword, false);
        QCOMPARE(result.password, std::nullopt);
        QCOMPARE(reports.fractions, QList<double>{1.0});
        QVERIFY(reports.speeds[0] > 0);
        // What the server stored is the file.
        const APIResponse stored = waitForTask(
            APIRequest::make("/d/" + result.code.toUtf8() + "/file/" + APIService::escapePathSegment(name))
                .send(QByteArrayLiteral("GET")));
        QCOMPARE(stored.body, slice(path, 0, 1000));

        server().clearRequests();
        const auto given = waitForTask(APIService::uploadOutgoing(path, QStringLiteral("geheim"), true, {}));
        QVERIFY(requestsTo(server(), completePath)[0].body.endsWith(
            R"("direction":"outgoing","password":"geheim","generatePassword":true})"));
        QCOMPARE(given.password, QStringLiteral("geheim"));
        QCOMPARE(given.hasPassword, true);

        server().clearRequests();
        const auto generated = waitForTask(APIService::uploadOutgoing(path, QString(), true, {}));
        QVERIFY(requestsTo(server(), completePath)[0].body.endsWith(
            R"("direction":"outgoing","generatePassword":true})"));
        QVERIFY(!generated.password.value_or(QString()).isEmpty());
    }

    void chunkBoundariesAndWindow() {
        server().setRecordBodies(true);
        const QString exact = randomFile(dir, QStringLiteral("exact.bin"), uploadChunkSize);
        waitForTask(upload(exact));
        Requests chunks = requestsTo(server(), chunkPath);
        QCOMPARE(chunks.size(), 1);
        SentChunk sent = sentChunk(chunks[0]);
        QCOMPARE(sent.fields.value("chunkIndex"), QStringLiteral("0"));
        QCOMPARE(sent.fields.value("totalChunks"), QStringLiteral("1"));
        QVERIFY(sent.data == slice(exact, 0, uploadChunkSize));

        server().clearRequests();
        const QString overByOne = randomFile(dir, QStringLiteral("over.bin"), uploadChunkSize + 1);
        Reports reports;
        const auto result = waitForTask(APIService::uploadOutgoing(overByOne, {}, false, reports.handler()));
        QCOMPARE(result.files.value(0).size, uploadChunkSize + 1);
        chunks = requestsTo(server(), chunkPath);
        QCOMPARE(chunks.size(), 2);
        QMap<QString, SentChunk> byIndex;
        for (const auto& request : chunks) {
            sent = sentChunk(request);
            QCOMPARE(sent.fields.value("totalChunks"), QStringLiteral("2"));
            byIndex[sent.fields.value("chunkIndex")] = sent;
        }
        QCOMPARE(byIndex.keys(), (QStringList{"0", "1"}));
        QVERIFY(byIndex["0"].data == slice(overByOne, 0, uploadChunkSize));
        QCOMPARE(byIndex["1"].data, slice(overByOne, uploadChunkSize, 1));
        QVERIFY(chunks[0].headers.value("content-type") != chunks[1].headers.value("content-type"));
        QVERIFY(requestsTo(server(), completePath)[0].body.contains(R"("totalChunks":2)"));
        QCOMPARE(reports.fractions.size(), 2);
        QCOMPARE(reports.fractions.last(), 1.0);

        // Three chunks all go at once; ten never have more than four in flight.
        server().setRecordBodies(false);
        for (const auto& [count, expected] : {std::pair{3, 3}, std::pair{10, 4}}) {
            server().clearRequests();
            QFile sparse(dir.filePath(QStringLiteral("sparse.bin")));
            QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(count * uploadChunkSize - 5));
            sparse.close();
            server().delayNext(chunkPath, count, 300);
            Reports window;
            waitForTask(APIService::uploadOutgoing(sparse.fileName(), {}, false, window.handler()));
            QCOMPARE(requestsTo(server(), chunkPath).size(), count);
            QCOMPARE(server().maxInFlight(chunkPath), expected);
            QCOMPARE(window.fractions.size(), count);
            QVERIFY(std::is_sorted(window.fractions.begin(), window.fractions.end()));
            QCOMPARE(window.fractions.last(), 1.0);
            QVERIFY(!window.offMainThread);
        }
    }

    void retriesThenSuccessOrTheLastError() {
        const QString path = randomFile(dir, QStringLiteral("retry.bin"), 300);
        server().setRecordBodies(true);
        server().failNext(chunkPath, 2, 500, "kaputt");
        QElapsedTimer clock;
        clock.start();
        waitForTask(upload(path));
        QVERIFY2(clock.elapsed() >= 1450 && clock.elapsed() < 5000,
                 qPrintable(QString::number(clock.elapsed())));
        const Requests attempts = requestsTo(server(), chunkPath);
        QCOMPARE(attempts.size(), 3);
        QCOMPARE(attempts[2].body, attempts[0].body); // one body, one boundary for every attempt
        QCOMPARE(requestsTo(server(), completePath).size(), 1);

        server().clearRequests();
        server().garbleNext(chunkPath, 1); // an answer that is not JSON is retried too
        waitForTask(upload(path));
        QCOMPARE(requestsTo(server(), chunkPath).size(), 2);

        server().clearRequests();
        server().failNext(chunkPath, 3, 500, "kaputt");
        QCOMPARE(failureOf(upload(path)), QStringLiteral("Server-Fehler 500: kaputt"));
        QCOMPARE(requestsTo(server(), chunkPath).size(), 3);
        QCOMPARE(requestsTo(server(), completePath).size(), 0);
    }

    void aFailedChunkStopsTheOthers() {
        QFile sparse(dir.filePath(QStringLiteral("six.bin")));
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(5 * uploadChunkSize + 1));
        sparse.close();
        server().setRecordBodies(true);
        // Every chunk request fails; the fourth to arrive only after 20 s.
        server().failNext(chunkPath, 100, 500, "kaputt");
        server().delayNext(chunkPath, 3, 1);
        server().delayNext(chunkPath, 1, 20000);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failureOf(upload(sparse.fileName())), QStringLiteral("Server-Fehler 500: kaputt"));
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        const Requests chunks = requestsTo(server(), chunkPath);
        QVERIFY(chunks.size() <= 10);
        for (const auto& request : chunks)
            QVERIFY(
                QStringList({"0", "1", "2", "3"}).contains(sentChunk(request).fields.value("chunkIndex")));
        QCOMPARE(requestsTo(server(), completePath).size(), 0);
    }

    void cancellationAbortsAtOnce() {
        QFile sparse(dir.filePath(QStringLiteral("three.bin")));
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(3 * uploadChunkSize));
        sparse.close();
        const QString path = sparse.fileName();
        auto cancelledWithin = [&](CancelToken& token, QCoro::Task<APIService::OutgoingResult> task) {
            QElapsedTimer clock;
            clock.start();
            token.cancel();
            try {
                waitForTask(std::move(task));
            } catch (const CancelledError&) {
                return clock.elapsed();
            }
            return qint64(-1);
        };

        // While chunks are in flight at the server.
        server().delayNext(chunkPath, 3, 20000);
        CancelToken inFlight;
        auto task = upload(path, &inFlight);
        QTRY_COMPARE_WITH_TIMEOUT(requestsTo(server(), chunkPath).size(), 3, 10000);
        const qint64 elapsed = cancelledWithin(inFlight, std::move(task));
        QVERIFY2(elapsed >= 0 && elapsed < 1000, qPrintable(QString::number(elapsed)));
        QCOMPARE(requestsTo(server(), completePath).size(), 0);

        // During the second retry pause: it ends early and no third attempt is sent.
        server().clearRequests();
        const QString small = randomFile(dir, QStringLiteral("small.bin"), 300);
        server().failNext(chunkPath, 3, 500, "kaputt");
        CancelToken pausing;
        task = upload(small, &pausing);
        QTRY_COMPARE_WITH_TIMEOUT(requestsTo(server(), chunkPath).size(), 2, 10000);
        QTest::qWait(200);
        const qint64 inPause = cancelledWithin(pausing, std::move(task));
        QVERIFY2(inPause >= 0 && inPause < 500, qPrintable(QString::number(inPause)));
        QCOMPARE(requestsTo(server(), chunkPath).size(), 2);

        server().clearRequests();
        CancelToken before;
        before.cancel();
        QCOMPARE(failureOf(upload(path, &before)), CancelledError().localizedDescription());
        QCOMPARE(server().requests().size(), 0);
    }

    void completionAnswers() {
        const QString path = randomFile(dir, QStringLiteral("answer.bin"), 10);
        auto answered = [&](int status, const QByteArray& body) {
            server().failNext(completePath, 1, status, body);
            return failureOf(upload(path));
        };
        QCOMPARE(answered(200, "<html><body>Fertig</body></html>"),
                 QStringLiteral(
                     "Netzwerk-Fehler: Unerwartete Antwort (kein JSON): <html><body>Fertig</body></html>"));
        QCOMPARE(answered(200, R"({"status":"success","code":"c1"})"),
                 QStringLiteral(R"(Netzwerk-Fehler: Antwort unlesbar: {"status":"success","code":"c1"})"));
        const QByteArray wrongSize =
            R"({"status":"ok","code":"c1","downloadURL":"u","files":[{"name":"a","size":"12","sizeFormatted":"12 B"}]})";
        QCOMPARE(answered(200, wrongSize), QStringLiteral("Netzwerk-Fehler: Antwort unlesbar: ") + wrongSize);
        QCOMPARE(
            answered(200, R"({"status":"ok","code":"c1","downloadURL":"u","files":[],"hasPassword":"ja"})")
                .left(35),
            QStringLiteral("Netzwerk-Fehler: Antwort unlesbar: "));
        QCOMPARE(answered(200, {}), QStringLiteral("Netzwerk-Fehler: Antwort unlesbar: "));
        const QByteArray longAnswer = "[\"" + QByteArray(300, 'x') + "\"]";
        QCOMPARE(answered(200, longAnswer),
                 QStringLiteral("Netzwerk-Fehler: Antwort unlesbar: [\"") + QString(198, u'x'));

        server().failNext(completePath, 1, 200,
                          R"({"status":"ok","code":"c1","downloadURL":"u","files":[],"password":null})");
        const auto minimal = waitForTask(upload(path));
        QCOMPARE(minimal.code, QStringLiteral("c1"));
        QCOMPARE(minimal.hasPassword, std::nullopt);
        QCOMPARE(minimal.password, std::nullopt);
    }

    void nothingIsSentWhenTheUploadCannotStart() {
        const QString empty = randomFile(dir, QStringLiteral("empty.bin"), 0);
        QCOMPARE(failureOf(upload(empty)), QStringLiteral("Netzwerk-Fehler: Datei leer oder nicht lesbar"));
        try {
            waitForTask(upload(dir.filePath(QStringLiteral("fehlt.bin"))));
            QFAIL("a missing file must fail");
        } catch (const PlatformError& error) {
            QVERIFY(!error.localizedDescription().isEmpty());
        }
        QCOMPARE(server().requests().size(), 0);

        const QString path = randomFile(dir, QStringLiteral("token.bin"), 10);
        server().failNext(tokenPath, 1, 503, "Wartung");
        QCOMPARE(failureOf(upload(path)), QStringLiteral("Server-Fehler 503: Wartung"));
        server().failNext(tokenPath, 1, 200, R"({"tok":"x"})");
        QVERIFY(failureOf(upload(path)).contains(QStringLiteral("„token“")));
        QCOMPARE(requestsTo(server(), chunkPath).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
