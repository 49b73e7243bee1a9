#pragma once

#include <atomic>
#include <cstdint>

namespace com::mivo::kmr::client {

// Running counts of one site type, written by whichever thread does the work
// and read at any time by the statistics snapshot. Relaxed atomics: each
// figure is exact on its own, a snapshot is not one instant across figures.
// Times are steady-clock nanoseconds (0: never happened).
struct SiteCounters {
    // Link (connection loop thread, session controller).
    std::atomic<uint64_t> logins{0};
    std::atomic<uint64_t> reconnects{0};
    std::atomic<int64_t> last_frame_ns{0};
    std::atomic<int64_t> last_heartbeat_answer_ns{0};
    // Reader (connection loop thread).
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> wire_bytes{0};
    // Decompression thread.
    std::atomic<uint64_t> decompressed_bytes{0};
    std::atomic<uint64_t> records{0};
    std::atomic<uint64_t> decode_errors{0};
    // Records dropped because the site has no callback thread to take them.
    std::atomic<uint64_t> discarded_records{0};
    // Flow control: records handed to callback threads and not yet returned,
    // bytes of market data held against the budget, times the reader was held back.
    std::atomic<int64_t> queued_records{0};
    std::atomic<int64_t> held_bytes{0};
    std::atomic<int64_t> peak_held_bytes{0};
    std::atomic<uint64_t> stalls{0};
    // Hand-over: batches given to callback threads (decompression thread),
    // and how many of them a waiting thread was woken for (the decompression
    // thread for frames, callback threads for batches); the rest were found
    // by a thread that was still looking.
    std::atomic<uint64_t> handed_batches{0};
    std::atomic<uint64_t> callback_wakeups{0};
    std::atomic<uint64_t> decompress_wakeups{0};
    // Frames the connection's thread processed itself because the
    // decompression thread was asleep (no wake-up needed).
    std::atomic<uint64_t> inline_frames{0};

    static void Add(std::atomic<uint64_t>& counter, uint64_t amount) {
        counter.fetch_add(amount, std::memory_order_relaxed);
    }
};

}  // namespace com::mivo::kmr::client
