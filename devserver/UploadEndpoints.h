#pragma once

#include <functional>
#include <mutex>

#include <QString>

class ServerExchange;
class ServerStore;

// The three steps of an upload — token, chunks, completion — and the benchmark sink.
class UploadEndpoints {
public:
    UploadEndpoints(ServerStore& store, std::function<QString()> publicBaseURL);

    void createToken(ServerExchange& exchange);
    void uploadChunk(ServerExchange& exchange);
    void complete(ServerExchange& exchange);
    // Stores the body in the data folder like a chunk, without parsing: the upload baseline.
    void sink(ServerExchange& exchange);

private:
    QString chunkDir(const QString& uploadDir, const QString& fileName) const;
    // Appends the chunks that continue the joined file of `dir`, in order, as they arrive, so that
    // the completion finds the file (nearly) whole. Call with joinMutex_ held.
    void absorbChunks(const QString& dir, qint64 totalChunks);

    ServerStore& store_;
    std::function<QString()> publicBaseURL_;
    // Orders joining against claiming an upload for its completion.
    std::mutex joinMutex_;
};
