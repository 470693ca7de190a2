#pragma once

#include <QFuture>
#include <QtConcurrent>
#include <exception>
#include <functional>
#include <malloc.h>
#include <optional>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>

// Runs blocking work on the thread pool. QtConcurrent passes on only QException types, so the
// error travels back as an exception_ptr.
template <typename T> QCoro::Task<T> offMainThread(std::function<T()> work) {
    struct Result {
        std::optional<T> value;
        std::exception_ptr error;
    };
    QFuture<Result> future = QtConcurrent::run([work]() -> Result {
        try {
            return {work(), nullptr};
        } catch (...) {
            return {std::nullopt, std::current_exception()};
        }
    });
    Result result = co_await future;
    if (result.error)
        std::rethrow_exception(result.error);
    co_return std::move(*result.value);
}

// Gives the memory freed after reading a large answer back to the system. glibc keeps it in the
// worker thread's arena otherwise, where the main thread never reuses it: tens of megabytes for a
// list of thousands of transfers.
inline void returnFreedMemory() {
    malloc_trim(0);
}
