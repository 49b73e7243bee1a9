#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace com::mivo::kmr::client {

// A consistent-enough copy of a server's counters, for printing and asserting.
struct SimCounterValues {
    int64_t connections_accepted = 0;
    int64_t connections_open = 0;
    int64_t bad_frames = 0;  // frames from clients that broke the frame rules; each cost its connection
    int64_t requests = 0;
    int64_t logins_accepted = 0;
    int64_t logins_refused = 0;
    int64_t heartbeats_received = 0;
    int64_t heartbeats_answered = 0;
    int64_t subscribe_coverage = 0;
    int64_t subscribe_add = 0;
    int64_t subscribe_decrease = 0;
    int64_t subscribe_cancel = 0;
    int64_t subscribe_refused = 0;
    int64_t frames_sent = 0;
    int64_t compressed_frames_sent = 0;
    int64_t records_sent = 0;
    int64_t bytes_sent = 0;

    // One line of name=value pairs.
    std::string ToString() const;
};

// Live counters of one server; written by its loop thread, read by anyone.
struct SimCounters {
    std::atomic<int64_t> connections_accepted{0};
    std::atomic<int64_t> connections_open{0};
    std::atomic<int64_t> bad_frames{0};
    std::atomic<int64_t> requests{0};
    std::atomic<int64_t> logins_accepted{0};
    std::atomic<int64_t> logins_refused{0};
    std::atomic<int64_t> heartbeats_received{0};
    std::atomic<int64_t> heartbeats_answered{0};
    std::atomic<int64_t> subscribe_coverage{0};
    std::atomic<int64_t> subscribe_add{0};
    std::atomic<int64_t> subscribe_decrease{0};
    std::atomic<int64_t> subscribe_cancel{0};
    std::atomic<int64_t> subscribe_refused{0};
    std::atomic<int64_t> frames_sent{0};
    std::atomic<int64_t> compressed_frames_sent{0};
    std::atomic<int64_t> records_sent{0};
    std::atomic<int64_t> bytes_sent{0};

    SimCounterValues Snapshot() const;
};

}  // namespace com::mivo::kmr::client
