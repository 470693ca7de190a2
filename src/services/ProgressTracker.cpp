#include "ProgressTracker.h"

#include <algorithm>

ProgressTracker::ProgressTracker(qint64 total, Handler handler, Clock clock)
    : m_total(total), m_handler(std::move(handler)), m_clock(std::move(clock)) {
    m_samples.push_back({m_clock(), 0});
}

void ProgressTracker::add(qint64 bytes) {
    m_uploaded += bytes;
    const auto now = m_clock();
    m_samples.push_back({now, m_uploaded});
    // A sample exactly at the cut-off still counts; the newest always stays.
    const auto cutOff = now - window;
    while (m_samples.size() >= 2 && m_samples.front().time < cutOff)
        m_samples.pop_front();

    const double fraction = m_total >= 1 ? double(m_uploaded) / double(m_total) : 1.0;
    const Sample& first = m_samples.front();
    const Sample& last = m_samples.back();
    const double seconds = std::chrono::duration<double>(last.time - first.time).count();
    // Bytes of a failed attempt are taken back, which must not read as a negative speed.
    const double speed = seconds > 0 ? std::max(0.0, double(last.bytes - first.bytes) / seconds) : 0.0;
    if (m_handler)
        m_handler(fraction, speed);
}
