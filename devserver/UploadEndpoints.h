#pragma once

#include <functional>

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

    ServerStore& store_;
    std::function<QString()> publicBaseURL_;
};
