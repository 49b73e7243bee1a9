#pragma once

#include <atomic>

namespace com::mivo::kmr::client {

// Two costs of the straightforward pipeline are removed by default: a new
// record allocated for every decoded message, and idle threads that poll
// for ever. The benchmarks switch both back on to measure the difference in
// one run. Not exported: a host program cannot reach it.
class PipelineTuning {
public:
    // Records coming back from the callback threads are cleared and reused.
    static void SetRecycleRecords(bool on) { s_recycle_records.store(on, std::memory_order_relaxed); }
    static bool RecycleRecords() { return s_recycle_records.load(std::memory_order_relaxed); }

    // A thread that found no work for a while blocks until signalled.
    static void SetParkIdleThreads(bool on) { s_park_idle_threads.store(on, std::memory_order_relaxed); }
    static bool ParkIdleThreads() { return s_park_idle_threads.load(std::memory_order_relaxed); }

private:
    static inline std::atomic<bool> s_recycle_records{true};
    static inline std::atomic<bool> s_park_idle_threads{true};
};

}  // namespace com::mivo::kmr::client
