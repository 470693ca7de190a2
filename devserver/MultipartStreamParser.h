#pragma once

#include <QByteArray>

#include <functional>
#include <string>

// Parses a multipart/form-data body as it arrives, in pieces of any size, handing each part's
// bytes on without keeping more than one delimiter's length of them. Parts may come in any order.
class MultipartStreamParser {
public:
    struct PartHeader {
        QByteArray name;
        QByteArray fileName;
        bool hasFileName = false;
        QByteArray contentType;
    };
    using PartBegin = std::function<bool(const PartHeader&)>;
    using PartData = std::function<bool(const char* data, size_t size)>;
    using PartEnd = std::function<bool()>;

    MultipartStreamParser(const QByteArray& boundary, PartBegin begin, PartData data, PartEnd end);

    // False once the input is malformed or a callback refused; later calls then do nothing.
    bool feed(const char* data, size_t size);
    // True after the closing delimiter.
    bool isComplete() const { return state_ == State::Done; }
    bool hasFailed() const { return state_ == State::Failed; }

    // The boundary parameter of a multipart/form-data content type, or empty.
    static QByteArray boundaryOf(const QByteArray& contentType);

private:
    enum class State { Preamble, AfterDelimiter, Headers, Body, Done, Failed };

    bool parseHeaders(const char* data, size_t size);
    bool fail();

    std::string delimiter_;
    std::string buffer_;
    State state_ = State::Preamble;
    PartBegin begin_;
    PartData data_;
    PartEnd end_;
};
