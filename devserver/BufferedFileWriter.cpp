#include "BufferedFileWriter.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

BufferedFileWriter::BufferedFileWriter(size_t bufferSize) : buffer_(bufferSize) {}

BufferedFileWriter::~BufferedFileWriter() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool BufferedFileWriter::open(const QString& path) {
    if (fd_ >= 0)
        ::close(fd_);
    path_ = path;
    used_ = 0;
    written_ = 0;
    failed_ = false;
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool BufferedFileWriter::write(const char* data, size_t size) {
    if (fd_ < 0 || failed_)
        return false;
    if (used_ + size > buffer_.size()) {
        if (!flush())
            return false;
        if (size >= buffer_.size())
            return writeAll(data, size);
    }
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
    return true;
}

bool BufferedFileWriter::close() {
    if (fd_ < 0)
        return !failed_;
    const bool flushed = flush();
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return flushed && closed && !failed_;
}

void BufferedFileWriter::discard() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    used_ = 0;
    if (!path_.isEmpty())
        QFile::remove(path_);
}

bool BufferedFileWriter::flush() {
    if (used_ == 0)
        return !failed_;
    const bool ok = writeAll(buffer_.data(), used_);
    used_ = 0;
    return ok;
}

bool BufferedFileWriter::writeAll(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed_ = true;
            return false;
        }
        data += n;
        size -= size_t(n);
        written_ += n;
    }
    return true;
}
