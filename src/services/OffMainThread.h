#pragma once

#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent>
#include <exception>
#include <functional>
#include <malloc.h>
#include <optional>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>

// What blocking work off the main thread produced: its value, or what it threw. QtConcurrent passes
// on only QException types, so the error travels back as an exception_ptr.
template <typename T> struct OffMainThreadResult {
    std::optional<T> value;
    std::exception_ptr error;

    // The value, or rethrows what the work threw.
    T take() {
        if (error)
            std::rethrow_exception(error);
        return std::move(*value);
    }
};

// Starts blocking work on `pool`; the future may be awaited by several callers.
template <typename T>
QFuture<OffMainThreadResult<T>> startOffMainThread(std::function<T()> work,
                                                   QThreadPool* pool = QThreadPool::globalInstance()) {
    return QtConcurrent::run(pool, [work]() -> OffMainThreadResult<T> {
        try {
            return {work(), nullptr};
        } catch (...) {
            return {std::nullopt, std::current_exception()};
        }
    });
}

// Runs blocking work on `pool` and returns its value or rethrows what it threw.
template <typename T>
QCoro::Task<T> offMainThread(std::function<T()> work, QThreadPool* pool = QThreadPool::globalInstance()) {
    // A named future: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    QFuture<OffMainThreadResult<T>> future = startOffMainThread(std::move(work), pool);
    OffMainThreadResult<T> result = co_await future;
    co_return result.take();
}

// Gives the memory freed after reading a large answer on the thread pool back to the system. glibc
// keeps it in the worker thread's arena otherwise, where the main thread never reuses it: tens of
// megabytes for a list of thousands of transfers. Called on the main thread once the work is done
// (a few tens of milliseconds for such a list): from a worker it would hold the main thread's
// arena while the main thread allocates.
inline void returnFreedMemory() {
    malloc_trim(0);
}

// Lets a large value that is no longer needed go on the thread pool: freeing thousands of records
// one string at a time would hold up the main thread.
template <typename T> void releaseOffMainThread(T value) {
    QThreadPool::globalInstance()->start([value = std::move(value)]() mutable { T gone = std::move(value); });
}
