#pragma once

#include <chrono>
#include <cstdint>

namespace com::mivo::kmr::client {

// Keeps a repeated error from flooding the log: the first occurrence is
// written, then at most one line per interval saying how many were left out.
// One owner thread.
class RateLimitedLog {
public:
    explicit RateLimitedLog(std::chrono::steady_clock::duration interval = std::chrono::seconds(1))
        : m_interval(interval) {}

    // True when a line may be written now; *left_out then holds the
    // occurrences not written since the previous line.
    bool Allow(uint64_t* left_out) {
        const auto now = std::chrono::steady_clock::now();
        if (m_written && now - m_last < m_interval) {
            ++m_left_out;
            return false;
        }
        *left_out = m_left_out;
        m_left_out = 0;
        m_written = true;
        m_last = now;
        return true;
    }

private:
    std::chrono::steady_clock::duration m_interval;
    std::chrono::steady_clock::time_point m_last;
    uint64_t m_left_out = 0;
    bool m_written = false;
};

}  // namespace com::mivo::kmr::client
