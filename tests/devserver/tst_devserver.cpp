#include "MultipartStreamParser.h"
#include "TestFiles.h"
#include "TransferServer.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <curl/curl.h>
#include <future>
#include <vector>

namespace {

struct Answer {
    int status = 0;
    QByteArray body;
    QJsonValue json() const {
        const QJsonDocument document = QJsonDocument::fromJson(body);
        return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    }
};

struct Field {
    QByteArray name, value;
};

// The chunk body as the client builds it: text fields, then the file part, in the order given.
QByteArray multipart(const QByteArray& boundary, const QList<Field>& fields, const QByteArray& chunk,
                     bool chunkFirst = false) {
    QByteArray filePart = "--" + boundary +
                          "\r\nContent-Disposition: form-data; name=\"chunk\"; filename=\"chunk.bin\"\r\n"
                          "Content-Type: application/octet-stream\r\n\r\n" +
                          chunk + "\r\n";
    QByteArray body = chunkFirst ? filePart : QByteArray();
    for (const auto& field : fields)
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field.name + "\"\r\n\r\n" +
                field.value + "\r\n";
    if (!chunkFirst)
        body += filePart;
    body.chop(2);
    return body + "\r\n--" + boundary + "--\r\n";
}

// A plain libcurl client of its own, independent of the app's HTTP engine, so
// the server is checked against a second reading of the protocol.
class Client {
public:
    using Pending = std::future<Answer>;

    explicit Client(TransferServer& server) : server_(server) {}

    // Runs on a thread of its own, so several requests can be in flight at once.
    Pending begin(const QByteArray& verb, const QString& path, const QByteArray& body = {},
                  const QByteArray& contentType = {}, bool withKey = true) {
        const QByteArray url = (server_.baseURL() + path).toUtf8();
        QList<QByteArray> headers{"Expect:",
                                  "Content-Type:" + (contentType.isEmpty() ? "" : " " + contentType)};
        if (withKey)
            headers << "X-Api-Key: " + server_.apiKey().toUtf8();
        return std::async(std::launch::async, [=] { return perform(verb, url, body, headers); });
    }

    Answer send(const QByteArray& verb, const QString& path, const QByteArray& body = {},
                const QByteArray& contentType = {}, bool withKey = true) {
        return begin(verb, path, body, contentType, withKey).get();
    }

    Answer json(const QByteArray& verb, const QString& path, const QJsonObject& body) {
        return send(verb, path, QJsonDocument(body).toJson(QJsonDocument::Compact), "application/json");
    }

    Pending beginChunk(const QString& token, const QString& fileName, int index, int total,
                       const QByteArray& data, bool reversedFields = false) {
        QList<Field> fields{{"token", token.toUtf8()},
                            {"filename", fileName.toUtf8()},
                            {"chunkIndex", QByteArray::number(index)},
                            {"totalChunks", QByteArray::number(total)}};
        if (reversedFields)
            std::reverse(fields.begin(), fields.end());
        const QByteArray boundary = "boundary-" + QByteArray::number(index) + "-X";
        return begin("POST", "/api/upload-chunk", multipart(boundary, fields, data, reversedFields),
                     "multipart/form-data; boundary=" + boundary);
    }

    QString token() { return send("POST", "/api/create-upload-token").json()["token"].toString(); }

private:
    static size_t collect(char* data, size_t size, size_t count, void* body) {
        static_cast<QByteArray*>(body)->append(data, qsizetype(size * count));
        return size * count;
    }

    static Answer perform(const QByteArray& verb, const QByteArray& url, const QByteArray& body,
                          const QList<QByteArray>& headers) {
        CURL* easy = curl_easy_init();
        curl_slist* list = nullptr;
        for (const QByteArray& header : headers)
            list = curl_slist_append(list, header.constData());
        Answer answer;
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT, 20L);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.constData());
        if (verb != "GET") {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.constData());
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        }
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer.body);
        curl_easy_perform(easy);
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        answer.status = int(status);
        curl_slist_free_all(list);
        curl_easy_cleanup(easy);
        return answer;
    }

    TransferServer& server_;
};

QJsonObject completion(const QString& token, const QString& name, int chunks) {
    return {{"token", token},
            {"files", QJsonArray{QJsonObject{{"name", name}, {"totalChunks", chunks}}}},
            {"name", name},
            {"direction", "outgoing"}};
}

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parsesMultipartSplitAnywhere() {
        // Part contents that look like delimiters until their last byte.
        const QByteArray tricky = "x\r\n--b-1\r\n--b-\r\n--b-1";
        const QByteArray body =
            multipart("b-12", {{"token", "t"}, {"filename", "\xC3\xA4.bin"}}, tricky, true);
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
        MultipartStreamParser truncated(
            "b-12", [](const auto&) { return true; }, [](const char*, size_t) { return true; },
            [] { return true; });
        QVERIFY(truncated.feed(body.constData(), size_t(body.size() - 4)));
        QVERIFY(!truncated.isComplete());
        QCOMPARE(MultipartStreamParser::boundaryOf("multipart/form-data; boundary=\"a b\""),
                 QByteArray("a b"));
        QVERIFY(MultipartStreamParser::boundaryOf("application/json").isEmpty());
    }

    void requiresTheKeyAndAssemblesChunksSentInAnyOrder() {
        TransferServer server;
        QVERIFY2(server.start(), qPrintable(server.lastError()));
        Client client(server);
        QCOMPARE(client.send("GET", "/api/incoming", {}, {}, false).status, 401);
        QCOMPARE(client.send("POST", "/api/create-upload-token", {}, {}, false).status, 401);
        QCOMPARE(client.send("GET", "/api/incoming").body, QByteArray("[]"));
        // The customer page and the public download need no key.
        QCOMPARE(client.send("GET", "/", {}, {}, false).status, 200);
        const QString seeded = server.seedTransfer({{"a.txt", "abc"}});
        QCOMPARE(client.send("GET", "/d/" + seeded + "/file/a.txt", {}, {}, false).body, QByteArray("abc"));

        const QString token = client.token();
        QVERIFY(!token.isEmpty());
        QByteArray content(3 * 100000 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char((i * 7919) >> 3); // contains CR, LF and "--" sequences
        const QString name = QStringLiteral("Übergabe März.bin");
        const auto piece = [&](int i) { return content.mid(i * 100000, 100000); };

        // Chunk 2 alone, then completion: chunks 0 and 1 are missing.
        QCOMPARE(client.beginChunk(token, name, 2, 4, piece(2)).get().status, 200);
        const Answer missing = client.json("POST", "/api/upload-complete", completion(token, name, 4));
        QCOMPARE(missing.status, 400);
        QVERIFY(missing.body.contains("Teil 0 von"));
        // Out of range, then the rest concurrently, one with its fields reversed behind the file part.
        QCOMPARE(client.beginChunk(token, name, 4, 4, "x").get().status, 400);
        std::vector<Client::Pending> replies;
        replies.push_back(client.beginChunk(token, name, 3, 4, piece(3)));
        replies.push_back(client.beginChunk(token, name, 1, 4, piece(1), true));
        replies.push_back(client.beginChunk(token, name, 0, 4, piece(0)));
        for (auto& reply : replies)
            QCOMPARE(reply.get().status, 200);

        // A retried chunk whose first answer was lost: joined once only.
        QCOMPARE(client.beginChunk(token, name, 1, 4, piece(1)).get().status, 200);

        QJsonObject complete = completion(token, name, 4);
        complete.insert("password", "geheim");
        const Answer done = client.json("POST", "/api/upload-complete", complete);
        QCOMPARE(done.status, 200);
        const QJsonObject result = done.json().toObject();
        const QString code = result["code"].toString();
        QCOMPARE(result["downloadURL"].toString(), server.baseURL() + "/d/" + code);
        QCOMPARE(result["files"].toArray().first()["size"].toInteger(), content.size());
        QCOMPARE(result["password"].toString(), QStringLiteral("geheim"));
        QCOMPARE(client.json("POST", "/api/upload-complete", completion(token, name, 4)).status, 400);

        const QString encoded = QString::fromLatin1(name.toUtf8().toPercentEncoding());
        QCOMPARE(client.send("GET", "/d/" + code + "/file/" + encoded, {}, {}, false).status, 403);
        QCOMPARE(client.send("GET", "/d/" + code + "/file/" + encoded).body, content);
    }

    void rejectsInvalidNamesAndStoresNothingOutside() {
        QTemporaryDir parent;
        TransferServer::Options options;
        options.dataDir = parent.filePath("data");
        TransferServer server(options);
        QVERIFY(server.start());
        Client client(server);
        const QString token = client.token();
        const QStringList bad{"../escape.bin",        "a/b", "a\\b", ".", "..", QString(256, u'x'),
                              QString(QChar(0)) + "x"};
        for (const QString& name : bad) {
            QCOMPARE(client.beginChunk(token, name, 0, 1, "data").get().status, 400);
            QCOMPARE(client.json("POST", "/api/upload-complete", completion(token, name, 1)).status, 400);
        }
        const QString code = server.seedTransfer({{"a.txt", "abc"}, {"b.txt", "def"}});
        const auto rename = [&](const QString& from, const QString& to) {
            return client.json("PATCH", "/api/outgoing/" + code + "/files",
                               {{"oldName", from}, {"newName", to}});
        };
        QCOMPARE(rename("a.txt", "../../a.txt").status, 400);
        QCOMPARE(rename("a.txt", "b.txt").status, 409);
        QCOMPARE(rename("x.txt", "c.txt").status, 404);
        QCOMPARE(rename("a.txt", "c.txt").json()["newName"].toString(), QStringLiteral("c.txt"));
        QCOMPARE(client.send("GET", "/d/" + code + "/file/..%2F..%2Findex.json").status, 400);
        QCOMPARE(client.send("GET", "/api/incoming/" + token + "/files/a%5Cb").status, 400);
        QCOMPARE(QDir(parent.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"data"});
        QCOMPARE(client.send("DELETE", "/api/outgoing/" + code).status, 200);
        QCOMPARE(client.send("DELETE", "/api/outgoing/" + code).status, 404);
    }

    void keepsEverythingAcrossARestart() {
        QTemporaryDir dir;
        TransferServer::Options options;
        options.dataDir = dir.path();
        QString code, token, key;
        QByteArray zip;
        {
            TransferServer first(options);
            QVERIFY(first.start());
            key = first.apiKey();
            QVERIFY(key.size() >= 16);
            const QString source = dir.filePath("Ordner");
            writeFile(source + "/unter/x.txt", {});
            writeFile(source + "/y.txt", "12345");
            QProcess packer;
            packer.setWorkingDirectory(dir.path());
            packer.start("/usr/bin/zip", {"-qr", "-", "Ordner"});
            QVERIFY(packer.waitForFinished());
            zip = packer.readAllStandardOutput();
            QDir(source).removeRecursively();
            code = first.seedTransfer({{"Paket.zip", zip}}, "pw-123456789012");
            token = first.seedIncoming("Erika Muster", {{"plan.pdf", "%PDF"}}, "A-1", {}, false);
        }
        TransferServer second(options);
        QVERIFY(second.start());
        QCOMPARE(second.apiKey(), key);
        Client client(second);
        const QJsonObject transfer = client.send("GET", "/api/outgoing").json()[0].toObject();
        QCOMPARE(transfer["code"].toString(), code);
        QCOMPARE(transfer["hasPassword"].toBool(), true);
        const QJsonArray entries = transfer["zipEntries"]["Paket.zip"].toArray();
        QCOMPARE(entries.size(), 2);
        QStringList names{entries[0]["name"].toString(), entries[1]["name"].toString()};
        names.sort();
        QCOMPARE(names, (QStringList{"Ordner/unter/x.txt", "Ordner/y.txt"}));
        QCOMPARE(client.send("GET", "/api/outgoing/" + code + "/password").json()["password"].toString(),
                 QStringLiteral("pw-123456789012"));
        QCOMPARE(client.send("GET", "/d/" + code + "/file/Paket.zip").body, zip);

        const QJsonObject upload = client.send("GET", "/api/incoming").json()[0].toObject();
        QCOMPARE(upload["token"].toString(), token);
        QVERIFY(!upload.contains("code") && !upload.contains("downloadURL") && !upload.contains("nachricht"));
        QCOMPARE(upload["auftragsnummer"].toString(), QStringLiteral("A-1"));
        QCOMPARE(client.send("GET", "/api/incoming/" + token + "/files/plan.pdf").body, QByteArray("%PDF"));
        QCOMPARE(client.send("DELETE", "/api/incoming/" + token).status, 200);
        QCOMPARE(client.send("DELETE", "/api/incoming/" + token).status, 404);
    }

    // curl, since it tells a body cut short of its Content-Length (exit 18) from a complete one.
    void truncatesFileDownloads() {
        TransferServer server;
        QVERIFY(server.start());
        Client client(server);
        QByteArray content(1 << 20, Qt::Uninitialized);
        for (int i = 0; i < content.size(); ++i)
            content[i] = char((i * 7919) >> 3);
        const QString code = server.seedTransfer({{"Bericht.pdf", content}});
        const QString token = server.seedIncoming("Erika Muster", {{"scan 1.pdf", content}});
        const QString publicPath = "/d/" + code + "/file/Bericht.pdf";
        const QString incomingPath = "/api/incoming/" + token + "/files/scan%201.pdf";
        QTemporaryDir dir;

        struct Download {
            int exitCode;
            QByteArray headers, body;
        };
        const auto download = [&](const QString& path) {
            QFile::remove(dir.filePath("b")); // curl makes no file for an empty body
            QProcess curl;
            curl.start("curl", {"-k", "-sS", "-H", "X-Api-Key: " + server.apiKey(), "-D", dir.filePath("h"),
                                "-o", dir.filePath("b"), server.baseURL() + path});
            curl.waitForFinished(20000);
            const QByteArray body =
                QFile::exists(dir.filePath("b")) ? readAll(dir.filePath("b")) : QByteArray();
            return Download{curl.exitCode(), readAll(dir.filePath("h")).toLower(), body};
        };

        server.truncateNext(publicPath, 2, 300000);
        for (int i = 0; i < 2; ++i) {
            const Download cut = download(publicPath);
            QCOMPARE(cut.exitCode, 18); // partial file
            QVERIFY(cut.headers.contains("content-length: 1048576"));
            QCOMPARE(cut.body, content.left(300000));
        }
        const Download whole = download(publicPath);
        QCOMPARE(whole.exitCode, 0);
        QCOMPARE(whole.body, content);

        // Over HTTP, as a server run as a process is told; a rule for another path leaves this one whole.
        QCOMPARE(client.json("POST", "/test/truncate", {{"path", "/api/incoming/*"}, {"bytes", 0}}).status,
                 200);
        QCOMPARE(client.json("POST", "/test/truncate", {{"path", "/d/*"}, {"bytes", 10}}).status, 200);
        const Download empty = download(incomingPath);
        QCOMPARE(empty.exitCode, 18);
        QVERIFY(empty.headers.contains("content-length: 1048576"));
        QCOMPARE(empty.body, QByteArray());
        QCOMPARE(download(incomingPath).body, content);
        QCOMPARE(download(publicPath).body, content.left(10));
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
