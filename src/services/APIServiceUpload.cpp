#include "APIServiceUpload.h"

#include "APIError.h"
#include "APIRequest.h"
#include "APIService.h"
#include "CancelToken.h"
#include "CancelledError.h"
#include "JsonFields.h"
#include "OrderedJson.h"
#include "PlatformError.h"
#include "ProgressTracker.h"

#include <QCoroFuture>
#include <QCoroTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace APIService {

namespace {
using namespace std::chrono_literals;

constexpr int attemptsPerChunk = 3;
constexpr std::chrono::milliseconds retryPauses[] = {500ms, 1000ms};

// The multipart text before and after one chunk's bytes. The bytes are read
// straight into the body between the two, so a chunk is in memory only once.
struct ChunkMultipart {
    QByteArray boundary;
    QByteArray head;
    QByteArray tail;
};

ChunkMultipart makeChunkMultipart(const QByteArray& boundary,
                                  const std::vector<std::pair<QByteArray, QByteArray>>& fields,
                                  const QByteArray& fileField, const QByteArray& fileName) {
    const QByteArray crlf = QByteArrayLiteral("\r\n");
    ChunkMultipart multipart{boundary, {}, {}};
    for (const auto& [name, value] : fields)
        multipart.head += "--" + boundary + crlf + "Content-Disposition: form-data; name=\"" + name + "\"" +
                          crlf + crlf + value + crlf;
    multipart.head += "--" + boundary + crlf + "Content-Disposition: form-data; name=\"" + fileField +
                      "\"; filename=\"" + fileName + "\"" + crlf + "Content-Type: application/octet-stream" +
                      crlf + crlf;
    multipart.tail = crlf + "--" + boundary + "--" + crlf;
    return multipart;
}

struct ChunkBody {
    QByteArray body;
    qint64 bytes = 0; // of the file, without the multipart text
    QString error;    // the file system's text when reading failed
};

// Runs on a worker thread: a slow disk must not stall the event loop.
ChunkBody readChunkBody(const QString& path, qint64 index, const ChunkMultipart& multipart) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !file.seek(index * uploadChunkSize))
        return {{}, 0, file.errorString()};
    const qsizetype headSize = multipart.head.size();
    QByteArray body(headSize + uploadChunkSize + multipart.tail.size(), Qt::Uninitialized);
    std::memcpy(body.data(), multipart.head.constData(), headSize);
    const qint64 read = file.read(body.data() + headSize, uploadChunkSize);
    if (read < 0)
        return {{}, 0, file.errorString()};
    if (read == 0)
        return {};
    std::memcpy(body.data() + headSize + read, multipart.tail.constData(), multipart.tail.size());
    body.resize(headSize + read + multipart.tail.size());
    return {body, read, {}};
}

// What the chunk tasks of one upload share; it lives on the main thread.
struct UploadRun {
    UploadRun(QString filePath, QString fileName, APIRequest chunkRequest)
        : filePath(std::move(filePath)), fileName(std::move(fileName)),
          chunkRequest(std::move(chunkRequest)) {}

    const QString filePath;
    const QString fileName;
    const APIRequest chunkRequest;
    QString token;
    qint64 totalChunks = 0;
    qint64 nextIndex = 0;
    std::unique_ptr<ProgressTracker> tracker;
    CancelToken cancel;         // aborts every request of the run
    std::exception_ptr failure; // of the first chunk that failed for good
};

// A retry pause that ends early when the run is cancelled; the next attempt
// then fails at once without sending anything.
QCoro::Task<> pause(std::chrono::milliseconds duration, QPointer<CancelToken> cancel) {
    if (!cancel || cancel->isCancelled())
        co_return;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer); // a coarse timer may end up to 5 % early
    QObject::connect(cancel, &CancelToken::cancelled, &timer, [&timer] { timer.start(0); });
    timer.start(duration);
    co_await timer;
}

QCoro::Task<> uploadChunk(std::shared_ptr<UploadRun> run, qint64 index) {
    const QByteArray boundary = QByteArrayLiteral("boundary-") +
                                QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    const ChunkMultipart multipart =
        makeChunkMultipart(boundary,
                           {{"token", run->token.toUtf8()},
                            {"filename", run->fileName.toUtf8()},
                            {"chunkIndex", QByteArray::number(index)},
                            {"totalChunks", QByteArray::number(run->totalChunks)}},
                           QByteArrayLiteral("chunk"), QByteArrayLiteral("chunk.bin"));
    const ChunkBody chunk = co_await QtConcurrent::run(readChunkBody, run->filePath, index, multipart);
    if (!chunk.error.isNull())
        throw PlatformError(chunk.error);
    if (chunk.bytes == 0)
        co_return;

    const QByteArray contentType = QByteArrayLiteral("multipart/form-data; boundary=") + boundary;
    std::exception_ptr lastError;
    for (int attempt = 0; attempt < attemptsPerChunk; ++attempt) {
        try {
            const APIResponse response = co_await run->chunkRequest.send(
                QByteArrayLiteral("POST"), chunk.body, contentType, &run->cancel);
            expectJSONOK(response);
            run->tracker->add(chunk.bytes);
            co_return;
        } catch (const CancelledError&) {
            throw;
        } catch (const AppError&) {
            lastError = std::current_exception();
        }
        if (attempt + 1 < attemptsPerChunk)
            co_await pause(retryPauses[attempt], &run->cancel);
    }
    std::rethrow_exception(lastError);
}

// One place of the sliding window: each time its chunk is confirmed it takes
// the next index, so chunks start in index order and at most
// maxChunksInFlight run at once. A chunk failing for good cancels the run,
// which aborts the requests of the other places.
QCoro::Task<> runWindowPlace(std::shared_ptr<UploadRun> run) {
    while (!run->cancel.isCancelled() && run->nextIndex < run->totalChunks) {
        const qint64 index = run->nextIndex++;
        try {
            co_await uploadChunk(run, index);
        } catch (...) {
            if (!run->failure)
                run->failure = std::current_exception();
        }
        if (run->failure)
            run->cancel.cancel();
    }
}

QJsonObject jsonObject(const QByteArray& body) {
    const QJsonValue value = parseJSON(body);
    JsonFields::fromValue(value); // throws the decoding error unless it is an object
    return value.toObject();
}

qint64 fileSize(const QString& filePath) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(file.errorString());
    return file.size();
}

OrderedJson completionBody(const UploadRun& run, const std::optional<QString>& password,
                           bool generatePassword) {
    OrderedJson files = OrderedJson::array();
    files.append(OrderedJson::object()
                     .insert(QStringLiteral("name"), run.fileName)
                     .insert(QStringLiteral("totalChunks"), run.totalChunks));
    OrderedJson body = OrderedJson::object();
    body.insert(QStringLiteral("token"), run.token)
        .insert(QStringLiteral("files"), std::move(files))
        .insert(QStringLiteral("name"), run.fileName)
        .insert(QStringLiteral("direction"), QStringLiteral("outgoing"));
    if (password && !password->isEmpty())
        body.insert(QStringLiteral("password"), *password);
    if (generatePassword)
        body.insert(QStringLiteral("generatePassword"), true);
    return body;
}
} // namespace

QCoro::Task<OutgoingResult> uploadOutgoing(QString filePath, std::optional<QString> password,
                                           bool generatePassword,
                                           std::function<void(double, double)> progressHandler,
                                           QPointer<CancelToken> cancel) {
    // One reading of the settings serves every request of the upload.
    const QString base = baseURL();
    const QString key = apiKey();
    const APIRequest tokenRequest =
        APIRequest::make(base, key, QByteArrayLiteral("/api/create-upload-token"));
    const APIRequest completeRequest = APIRequest::make(base, key, QByteArrayLiteral("/api/upload-complete"));
    auto run =
        std::make_shared<UploadRun>(filePath, QFileInfo(filePath).fileName(),
                                    APIRequest::make(base, key, QByteArrayLiteral("/api/upload-chunk")));

    const qint64 size = fileSize(filePath);
    if (size < 1)
        throw APIError::networkError(QStringLiteral("Datei leer oder nicht lesbar"));
    if (cancel) {
        cancel->throwIfCancelled();
        QObject::connect(cancel, &CancelToken::cancelled, &run->cancel, &CancelToken::cancel);
    }

    const APIResponse tokenResponse =
        co_await tokenRequest.send(QByteArrayLiteral("POST"), {}, {}, &run->cancel);
    expectJSONOK(tokenResponse);
    run->token = JsonFields(jsonObject(tokenResponse.body)).string(QStringLiteral("token"));
    run->totalChunks = (size + uploadChunkSize - 1) / uploadChunkSize;
    run->tracker = std::make_unique<ProgressTracker>(size, std::move(progressHandler));

    std::vector<QCoro::Task<>> window;
    for (qint64 i = 0; i < std::min<qint64>(maxChunksInFlight, run->totalChunks); ++i)
        window.push_back(runWindowPlace(run));
    for (auto& place : window)
        co_await place;
    if (cancel && cancel->isCancelled())
        throw CancelledError();
    if (run->failure)
        std::rethrow_exception(run->failure);

    const APIResponse response = co_await completeRequest.send(
        QByteArrayLiteral("POST"), completionBody(*run, password, generatePassword).toJson(),
        QByteArrayLiteral("application/json"), &run->cancel);
    expectJSONOK(response);
    try {
        co_return OutgoingResult::fromJson(jsonObject(response.body));
    } catch (const PlatformError&) {
        throw APIError::networkError(QStringLiteral("Antwort unlesbar: ") + excerpt(response.body, 200));
    }
}

} // namespace APIService
