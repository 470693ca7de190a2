#include "services/APIServiceUpload.h"

#include "models/APIError.h"
#include "models/CancelledError.h"
#include "models/JsonFields.h"
#include "models/OrderedJson.h"
#include "models/PlatformError.h"
#include "models/UserText.h"
#include "net/CancelToken.h"
#include "net/HttpError.h"
#include "net/NetworkWait.h"
#include "services/APIRequest.h"
#include "services/APIService.h"
#include "services/ProgressTracker.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace APIService {

namespace {
using namespace std::chrono_literals;

constexpr int attemptsPerChunk = 3;
constexpr std::chrono::milliseconds retryPauses[] = {500ms, 1000ms};
constexpr std::chrono::milliseconds progressInterval = 50ms;

// The multipart text before and after one chunk's bytes. The bytes are read
// from the file while the body is sent, so no chunk is ever held in memory.
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

// When the file was last seen: an upload of a file that changed on the way
// would deliver a mix of old and new bytes.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = -1;
    qint64 modifiedNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identify(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        throw PlatformError(qt_error_string(errno));
    return {info.st_dev, info.st_ino, qint64(info.st_size),
            qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

// What the chunk tasks of one upload share; it lives on the main thread.
struct UploadRun {
    UploadRun(QString filePath, QString fileName, APIRequest chunkRequest,
              std::function<void(UploadState)> stateHandler)
        : filePath(std::move(filePath)), fileName(std::move(fileName)), chunkRequest(std::move(chunkRequest)),
          wait(this->chunkRequest.http(), &cancel) {
        if (stateHandler)
            QObject::connect(&wait, &NetworkWait::waitingChanged, [stateHandler](bool waiting) {
                stateHandler(waiting ? UploadState::WaitingForNetwork : UploadState::Sending);
            });
        progressFlush.setSingleShot(true);
        progressFlush.setInterval(progressInterval);
        QObject::connect(&progressFlush, &QTimer::timeout, [this] { flushProgress(); });
        heartbeat.setInterval(std::chrono::seconds(1));
        QObject::connect(&heartbeat, &QTimer::timeout, [this] { tick(); });
    }

    // Bytes of the file sent (or, after a failed attempt, taken back) reach
    // the tracker at most every progressInterval, however many chunks run.
    void addProgress(qint64 bytes) {
        pendingProgress += bytes;
        if (!progressFlush.isActive())
            progressFlush.start();
    }
    void flushProgress() {
        progressFlush.stop();
        if (pendingProgress != 0 && tracker)
            tracker->add(pendingProgress);
        pendingProgress = 0;
    }
    // Called every second while chunks are under way, bytes or not, so that the speed shown
    // falls when the server stalls instead of staying at its last value.
    void tick() {
        progressFlush.stop();
        if (tracker)
            tracker->add(pendingProgress);
        pendingProgress = 0;
    }

    const QString filePath;
    const QString fileName;
    const APIRequest chunkRequest;
    QString token;
    qint64 size = 0;
    qint64 totalChunks = 0;
    qint64 nextIndex = 0;
    std::unique_ptr<ProgressTracker> tracker;
    QTimer progressFlush;
    QTimer heartbeat;
    qint64 pendingProgress = 0;
    CancelToken cancel;         // aborts every request of the run
    NetworkWait wait;           // after the cancel token it watches
    std::exception_ptr failure; // of the first chunk that failed for good
};

// The server answered a request of an upload that waited as if it never heard of the token: it
// dropped the upload meanwhile (a restart, an expiry).
struct TokenGone : std::exception {
    std::exception_ptr answer; // the APIError, thrown when starting over is not allowed
};

bool tokenGone(const UploadRun& run, const APIError& error) {
    const int status = error.statusCode();
    return run.wait.hasWaited() && error.kind() == APIError::Kind::HttpError &&
           (status == 400 || status == 404 || status == 410);
}

// A request of the upload that is sent again after each network failure until it gets an answer.
QCoro::Task<APIResponse> sendThroughOutages(std::shared_ptr<UploadRun> run, APIRequest request,
                                            QByteArray body, QByteArray contentType) {
    for (;;) {
        std::optional<HttpError> failure;
        try {
            APIResponse response =
                co_await request.send(QByteArrayLiteral("POST"), body, contentType, &run->cancel);
            run->wait.reached();
            co_return response;
        } catch (const HttpError& error) {
            if (!error.isNetworkFailure())
                throw;
            failure = error;
        }
        co_await run->wait.waitAfter(*failure);
    }
}

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
    const qint64 offset = index * uploadChunkSize;
    const qint64 length = std::min(uploadChunkSize, run->size - offset);
    if (length <= 0)
        co_return;
    const QByteArray boundary = QByteArrayLiteral("boundary-") +
                                QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    const ChunkMultipart multipart =
        makeChunkMultipart(boundary,
                           {{"token", run->token.toUtf8()},
                            {"filename", run->fileName.toUtf8()},
                            {"chunkIndex", QByteArray::number(index)},
                            {"totalChunks", QByteArray::number(run->totalChunks)}},
                           QByteArrayLiteral("chunk"), QByteArrayLiteral("chunk.bin"));
    const QByteArray contentType = QByteArrayLiteral("multipart/form-data; boundary=") + boundary;
    const qint64 headSize = multipart.head.size();

    // File bytes of this chunk counted in the progress so far.
    auto counted = std::make_shared<qint64>(0);
    const HttpEngine::ProgressHandler countSent = [run, counted, headSize, length](qint64 sent, qint64) {
        const qint64 fileBytes = std::clamp<qint64>(sent - headSize, 0, length);
        run->addProgress(fileBytes - *counted);
        *counted = fileBytes;
    };

    // Named: GCC 12 destroys a braced temporary inside a co_await expression twice.
    const HttpRequest::FileRegion region{run->filePath, offset, length};
    const QPointer<CancelToken> cancel(&run->cancel);
    std::exception_ptr lastError;
    // A network failure costs no attempt: the chunk waits with the others and goes again.
    for (int attempt = 0; attempt < attemptsPerChunk;) {
        std::optional<HttpError> networkFailure;
        try {
            const APIResponse response = co_await run->chunkRequest.postFileRegion(
                multipart.head, region, multipart.tail, contentType, cancel, countSent);
            run->wait.reached();
            expectJSONOK(response);
            run->addProgress(length - *counted);
            *counted = length;
            co_return;
        } catch (const CancelledError&) {
            throw;
        } catch (const HttpError& error) {
            // The file, not the line, failed: another attempt reads the same.
            if (error.kind() == HttpError::Kind::FileChanged || error.kind() == HttpError::Kind::FileSystem)
                throw;
            if (error.isNetworkFailure())
                networkFailure = error;
            lastError = std::current_exception();
        } catch (const APIError& error) {
            if (tokenGone(*run, error)) {
                TokenGone gone;
                gone.answer = std::current_exception();
                throw gone;
            }
            lastError = std::current_exception();
        } catch (const AppError&) {
            lastError = std::current_exception();
        }
        run->addProgress(-*counted);
        *counted = 0;
        if (networkFailure) {
            co_await run->wait.waitAfter(*networkFailure);
            continue;
        }
        if (++attempt < attemptsPerChunk)
            co_await pause(retryPauses[attempt - 1], &run->cancel);
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

namespace {
// One pass over the file under one token: the token, the chunks, the completion.
QCoro::Task<OutgoingResult> uploadPass(std::shared_ptr<UploadRun> run, APIRequest tokenRequest,
                                       APIRequest completeRequest, qint64 size, FileIdentity before,
                                       std::optional<QString> password, bool generatePassword,
                                       std::function<void(double, double)> progressHandler,
                                       QPointer<CancelToken> cancel) {
    const APIResponse tokenResponse = co_await sendThroughOutages(run, tokenRequest, {}, {});
    expectJSONOK(tokenResponse);
    run->token = JsonFields(jsonObject(tokenResponse.body)).string(QStringLiteral("token"));
    run->size = size;
    run->totalChunks = (size + uploadChunkSize - 1) / uploadChunkSize;
    run->tracker = std::make_unique<ProgressTracker>(size, std::move(progressHandler));
    run->heartbeat.start();

    std::vector<QCoro::Task<>> window;
    for (qint64 i = 0; i < std::min<qint64>(maxChunksInFlight, run->totalChunks); ++i)
        window.push_back(runWindowPlace(run));
    for (auto& place : window)
        co_await place;
    run->heartbeat.stop();
    if (cancel && cancel->isCancelled())
        throw CancelledError();
    if (run->failure)
        std::rethrow_exception(run->failure);
    run->flushProgress();
    if (identify(run->filePath) != before)
        throw HttpError(HttpError::Kind::FileChanged, UserText::fileChangedDuringUpload());

    const APIResponse response = co_await sendThroughOutages(
        run, completeRequest, completionBody(*run, password, generatePassword).toJson(),
        QByteArrayLiteral("application/json"));
    try {
        expectJSONOK(response);
    } catch (const APIError& error) {
        if (!tokenGone(*run, error))
            throw;
        TokenGone gone;
        gone.answer = std::current_exception();
        throw gone;
    }
    try {
        co_return OutgoingResult::fromJson(jsonObject(response.body));
    } catch (const PlatformError&) {
        throw APIError::networkError(QCoreApplication::translate("APIServiceUpload", "Antwort unlesbar: ") +
                                     excerpt(response.body, 200));
    }
}
} // namespace

QCoro::Task<OutgoingResult> uploadOutgoing(ServerConnection server, QString filePath,
                                           std::optional<QString> password, bool generatePassword,
                                           std::function<void(double, double)> progressHandler,
                                           QPointer<CancelToken> cancel,
                                           std::function<void(UploadState)> stateHandler) {
    const APIRequest tokenRequest = APIRequest::make(server, QByteArrayLiteral("/api/create-upload-token"));
    const APIRequest completeRequest = APIRequest::make(server, QByteArrayLiteral("/api/upload-complete"));
    const APIRequest chunkRequest = APIRequest::make(server, QByteArrayLiteral("/api/upload-chunk"));

    const FileIdentity before = identify(filePath);
    const qint64 size = fileSize(filePath);
    if (size < 1)
        throw APIError::networkError(
            QCoreApplication::translate("APIServiceUpload", "Datei leer oder nicht lesbar"));
    if (cancel)
        cancel->throwIfCancelled();

    // A server that forgot the upload while it waited gets it once more from the start.
    for (int pass = 0;; ++pass) {
        auto run =
            std::make_shared<UploadRun>(filePath, QFileInfo(filePath).fileName(), chunkRequest, stateHandler);
        if (cancel)
            QObject::connect(cancel, &CancelToken::cancelled, &run->cancel, &CancelToken::cancel);
        std::exception_ptr refused;
        try {
            co_return co_await uploadPass(run, tokenRequest, completeRequest, size, before, password,
                                          generatePassword, progressHandler, cancel);
        } catch (const TokenGone& gone) {
            refused = gone.answer;
        }
        if (pass > 0)
            std::rethrow_exception(refused);
        if (stateHandler)
            stateHandler(UploadState::StartingOver);
    }
}

} // namespace APIService
