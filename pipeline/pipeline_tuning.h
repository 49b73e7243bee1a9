#pragma once

#include <atomic>

namespace com::mivo::kmr::client {

// How idle pipeline threads wait. The benchmarks switch between the ways to
// compare them in the same run. Not exported: a host program cannot reach it.
class PipelineTuning {
public:
    enum class IdleWait {
        // Sleep the configured idle pause between polls, for ever.
        kPoll,
        // Sleep the configured pause between polls; after a while without
        // work block until the producer signals.
        kPollThenPark,
        // Keep looking, without sleeping, for the configured pause; then
        // block until the producer signals, which ends the wait at once.
        kSignalled,
    };

    static void SetIdleWait(IdleWait wait) { s_idle_wait.store(wait, std::memory_order_relaxed); }
    static IdleWait GetIdleWait() { return s_idle_wait.load(std::memory_order_relaxed); }

private:
    static inline std::atomic<IdleWait> s_idle_wait{IdleWait::kSignalled};
};

}  // namespace com::mivo::kmr::client
