#pragma once

#include <atomic>

namespace com::mivo::kmr::client {

// Idle pipeline threads block until signalled by default; the benchmarks
// switch that off to measure the polling alternative in the same run. Not
// exported: a host program cannot reach it.
class PipelineTuning {
public:
    // A thread that found no work for a while blocks until signalled.
    static void SetParkIdleThreads(bool on) { s_park_idle_threads.store(on, std::memory_order_relaxed); }
    static bool ParkIdleThreads() { return s_park_idle_threads.load(std::memory_order_relaxed); }

private:
    static inline std::atomic<bool> s_park_idle_threads{true};
};

}  // namespace com::mivo::kmr::client
