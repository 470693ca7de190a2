#include "DevServer.h"
#include "MultipartStreamParser.h"
#include "TestFiles.h"
#include "WaitForTask.h"
#include "net/HttpEngine.h"
#include "net/HttpError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

// What the bundled server does that the client's tests, which run against it, never ask of it:
// parts split anywhere, chunks missing or out of range, hostile names. Plain HTTP: its TLS is what
// every client test goes through.
namespace {
// A chunk body with the file part first, unlike the client, so that the field order is free.
QByteArray multipart(const QByteArray& boundary, const QList<std::pair<QByteArray, QByteArray>>& fields,
                     const QByteArray& chunk) {
    QByteArray body = "--" + boundary +
                      "\r\nContent-Disposition: form-data; name=\"chunk\"; filename=\"chunk.bin\"\r\n"
                      "Content-Type: application/octet-stream\r\n\r\n" +
                      chunk;
    for (const auto& [name, value] : fields)
        body +=
            "\r\n--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value;
    return body + "\r\n--" + boundary + "--\r\n";
}

std::unique_ptr<DevServer> started(const QString& dataDir = {}) {
    DevServer::Options options;
    options.plainHttp = true;
    options.dataDir = dataDir;
    auto server = std::make_unique<DevServer>(options);
    return server->start() ? std::move(server) : nullptr;
}

// The status, and the body for a complete answer; a cut-off body gives status -1.
HttpResponse call(const DevServer& server, const QByteArray& verb, const QString& path,
                  const QByteArray& body = {}, const QByteArray& contentType = "application/json",
                  bool withKey = true) {
    HttpRequest request;
    request.method = verb;
    request.url = (server.baseURL() + path).toUtf8();
    request.body = body;
    if (!body.isEmpty())
        request.headers.append({"Content-Type", contentType});
    if (withKey)
        request.headers.append({"X-Api-Key", server.apiKey().toUtf8()});
    try {
        return waitForTask(HttpEngine().send(request));
    } catch (const HttpError&) {
        return {-1, {}, {}};
    }
}

HttpResponse json(const DevServer& server, const QByteArray& verb, const QString& path,
                  const QJsonObject& body) {
    return call(server, verb, path, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

int chunk(const DevServer& server, const QString& token, const QString& name, int index, int total,
          const QByteArray& data) {
    const QByteArray boundary = "b-" + QByteArray::number(index);
    return call(server, "POST", "/api/upload-chunk",
                multipart(boundary,
                          {{"totalChunks", QByteArray::number(total)},
                           {"chunkIndex", QByteArray::number(index)},
                           {"filename", name.toUtf8()},
                           {"token", token.toUtf8()}},
                          data),
                "multipart/form-data; boundary=" + boundary)
        .status;
}

HttpResponse complete(const DevServer& server, const QString& token, const QString& name, int chunks,
                      QJsonObject body = {}) {
    body.insert("token", token);
    body.insert("files", QJsonArray{QJsonObject{{"name", name}, {"totalChunks", chunks}}});
    body.insert("name", name);
    body.insert("direction", "outgoing");
    return json(server, "POST", "/api/upload-complete", body);
}

QJsonValue parsed(const HttpResponse& response) {
    const QJsonDocument document = QJsonDocument::fromJson(response.body);
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

QString newToken(const DevServer& server) {
    return parsed(call(server, "POST", "/api/create-upload-token"))["token"].toString();
}
} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesMultipartSplitAnywhere() {
        // Part contents that look like delimiters until their last byte.
        const QByteArray tricky = "x\r\n--b-1\r\n--b-\r\n--b-1";
        const QByteArray body = multipart("b-12", {{"token", "t"}, {"filename", "\xC3\xA4.bin"}}, tricky);
        for (int step : {1, 2, 3, 7, 4096}) {
            QMap<QByteArray, QByteArray> parts;
            QByteArray current, fileName;
            MultipartStreamParser parser(
                "b-12",
                [&](const MultipartStreamParser::PartHeader& part) {
                    current = part.name;
                    if (part.hasFileName)
                        fileName = part.fileName;
                    return true;
                },
                [&](const char* data, size_t size) {
                    parts[current].append(data, qsizetype(size));
                    return true;
                },
                [] { return true; });
            for (qsizetype i = 0; i < body.size(); i += step)
                QVERIFY(
                    parser.feed(body.constData() + i, size_t(std::min<qsizetype>(step, body.size() - i))));
            QVERIFY(parser.isComplete());
            QCOMPARE(parts.value("chunk"), tricky);
            QCOMPARE(parts.value("filename"), QByteArray("\xC3\xA4.bin"));
            QCOMPARE(parts.value("token"), QByteArray("t"));
            QCOMPARE(fileName, QByteArray("chunk.bin"));
        }
    }

    void missingRepeatedAndOutOfRangeChunks() {
        const auto server = started();
        QVERIFY(server);
        const QString token = newToken(*server);
        const QByteArray content = randomBytes(3 * 1000 + 17);
        const QString name = QStringLiteral("Übergabe März.bin");
        const auto piece = [&](int i) { return content.mid(i * 1000, 1000); };

        QCOMPARE(chunk(*server, token, name, 2, 4, piece(2)), 200);
        QCOMPARE(complete(*server, token, name, 4).status, 400); // chunks 0 and 1 are missing
        QCOMPARE(chunk(*server, token, name, 4, 4, "x"), 400);
        for (int i : {3, 1, 0, 1}) // the second 1: a retry whose first answer was lost
            QCOMPARE(chunk(*server, token, name, i, 4, piece(i)), 200);
        const HttpResponse done = complete(*server, token, name, 4, {{"password", "geheim"}});
        QCOMPARE(done.status, 200);
        QCOMPARE(complete(*server, token, name, 4).status, 400); // the token is used up
        const QString file = "/d/" + parsed(done)["code"].toString() + "/file/" +
                             QString::fromLatin1(name.toUtf8().toPercentEncoding());
        QCOMPARE(call(*server, "GET", file, {}, {}, false).status, 403); // the password protects it
        QCOMPARE(call(*server, "GET", file).body, content);
    }

    void rejectsInvalidNamesAndStoresNothingOutside() {
        QTemporaryDir parent;
        const auto server = started(parent.filePath("data"));
        QVERIFY(server);
        const QString token = newToken(*server);
        for (const QString& name :
             {QStringLiteral("../escape.bin"), QStringLiteral("a/b"), QStringLiteral("a\\b"),
              QStringLiteral("."), QStringLiteral(".."), QString(256, u'x'), QString(QChar(0)) + "x"}) {
            QCOMPARE(chunk(*server, token, name, 0, 1, "data"), 400);
            QCOMPARE(complete(*server, token, name, 1).status, 400);
        }
        const QString code = server->seedTransfer({{"a.txt", "abc"}, {"b.txt", "def"}});
        const auto rename = [&](const QString& from, const QString& to) {
            return json(*server, "PATCH", "/api/outgoing/" + code + "/files",
                        {{"oldName", from}, {"newName", to}})
                .status;
        };
        QCOMPARE(rename("a.txt", "../../a.txt"), 400);
        QCOMPARE(rename("a.txt", "b.txt"), 409);
        QCOMPARE(rename("x.txt", "c.txt"), 404);
        QCOMPARE(rename("a.txt", "c.txt"), 200);
        QCOMPARE(call(*server, "GET", "/d/" + code + "/file/..%2F..%2Findex.json").status, 400);
        QCOMPARE(call(*server, "GET", "/api/incoming/" + token + "/files/a%5Cb").status, 400);
        QCOMPARE(entriesIn(parent.path()), QStringList{"data"});
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
