#pragma once

#include <QtGlobal>
#include <chrono>
#include <deque>
#include <functional>

// Adds up the bytes sent during one upload (a failed attempt takes its bytes back) and turns them into
// the fraction done and a speed smoothed over the last five seconds. Used on one thread only (the
// main thread, where the HTTP engine reports every chunk's progress), so it needs no lock.
class ProgressTracker {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // (fraction done, bytes per second)
    using Handler = std::function<void(double, double)>;

    ProgressTracker(qint64 total, Handler handler, Clock clock = &std::chrono::steady_clock::now);

    // Counts `bytes` more confirmed bytes and calls the handler with both numbers.
    void add(qint64 bytes);

private:
    struct Sample {
        std::chrono::steady_clock::time_point time;
        qint64 bytes;
    };

    static constexpr std::chrono::seconds window{5};

    qint64 m_uploaded = 0;
    qint64 m_total;
    Handler m_handler;
    Clock m_clock;
    std::deque<Sample> m_samples; // cumulative counts, oldest first; never empty
};
