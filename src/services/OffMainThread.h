#pragma once

#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent>
#include <atomic>
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
    return QtConcurrent::run(pool, [work = std::move(work)]() -> OffMainThreadResult<T> {
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
    // Awaited as a future without a result, then the value moved out: awaiting the future itself
    // copies it and leaves the original in the future until the future goes. A list so shared
    // would be copied whole by its first change, and freed on this thread, not the pool.
    QFuture<void> finished(future);
    co_await finished;
    co_return future.takeResult().take();
}

// To be called first thing in main, before any thread runs. glibc gives threads that allocate at
// the same time arenas of their own, up to eight per core; a list decoded by several pool workers
// then lies spread over as many arenas, and each keeps the free pages between its live records
// (twice the memory above idle after a poll of 40,000 records). One arena for the main thread and
// one shared by all others; large buffers, such as upload chunks, are mapped apart from arenas.
inline void limitMallocArenas() {
    mallopt(M_ARENA_MAX, 2);
}

// Gives the memory freed after reading a large answer on the thread pool back to the system. glibc
// keeps it in the worker threads' arenas otherwise, where the main thread never reuses it: tens of
// megabytes for a list of thousands of transfers. Trimming walks every arena's free chunks (up to
// 150 ms for such lists on a busy machine), so it runs on the thread pool too; it holds each arena
// only while trimming that one. Requests that come while one waits are served by it.
inline void returnFreedMemory() {
    static std::atomic<bool> pending = false;
    if (pending.exchange(true))
        return;
    QThreadPool::globalInstance()->start([] {
        pending = false;
        malloc_trim(0);
    });
}

// Lets a large value that is no longer needed go on the thread pool: freeing thousands of records
// one string at a time would hold up the main thread. What it freed is given back afterwards.
template <typename T> void releaseOffMainThread(T value) {
    if constexpr (requires { value.isEmpty(); })
        if (value.isEmpty())
            return;
    QThreadPool::globalInstance()->start([value = std::move(value)]() mutable {
        { T gone = std::move(value); }
        returnFreedMemory();
    });
}
