#pragma once

#include <QString>

#include <vector>

// Gathers the few-kilobyte pieces a socket delivers into large writes, so storing a 5 MiB chunk
// costs about twenty system calls. Memory per writer is the buffer, whatever the file size.
class BufferedFileWriter {
public:
    static constexpr size_t defaultBufferSize = 256 * 1024;

    explicit BufferedFileWriter(size_t bufferSize = defaultBufferSize);
    ~BufferedFileWriter();
    BufferedFileWriter(const BufferedFileWriter&) = delete;
    BufferedFileWriter& operator=(const BufferedFileWriter&) = delete;

    bool open(const QString& path);
    bool write(const char* data, size_t size);
    // Flushes and closes; false when any write failed.
    bool close();
    // Closes and removes the file.
    void discard();
    bool isOpen() const { return fd_ >= 0; }
    qint64 size() const { return written_ + qint64(used_); }
    QString path() const { return path_; }

private:
    bool flush();
    bool writeAll(const char* data, size_t size);

    int fd_ = -1;
    QString path_;
    std::vector<char> buffer_;
    size_t used_ = 0;
    qint64 written_ = 0;
    bool failed_ = false;
};
