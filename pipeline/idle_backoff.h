#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "common/base_config.h"
#include "pipeline/pipeline_tuning.h"

namespace com::mivo::kmr::client {

// Idle policy of the pipeline's threads, each of which has a producer that
// can wake it (the connection for a decompression thread, the decompression
// thread for a callback thread).
//
// A thread that sleeps a fixed pause between polls finds work late: Linux
// stretches a 10 us sleep to 60 us or more, and work arriving at the start of
// the sleep waits all of it. So an idle thread waits on its producer's signal
// instead, and the configured idle pause only says how long one wait may
// last before the thread looks again (its stop flag, returned batches). After
// kParkAfter without work the waits grow to kParkTimeoutUs, so that an idle
// client costs next to no processor time. A pause of zero or less polls
// without waiting until then.
class IdleBackoff {
public:
    static constexpr std::chrono::microseconds kParkAfter{1000};
    // A parked thread re-checks its stop flag this often even without a signal.
    static constexpr int64_t kParkTimeoutUs = 200000;

    // After an empty poll. wait(timeout_us) blocks until the producer signals
    // or the timeout passes, and returns whether it was signalled; Idle
    // returns that (false when it only slept or polled).
    template <typename Wait>
    bool Idle(Wait&& wait) {
        const PipelineTuning::IdleWait mode = PipelineTuning::GetIdleWait();
        const bool parked = mode != PipelineTuning::IdleWait::kPoll && IdleForParkTime();
        if (parked) {
            return wait(kParkTimeoutUs);
        }
        const int64_t pause = BaseConfig::GetInstance().GetThreadIdleSleepTime().count();
        if (pause <= 0) {
            std::this_thread::yield();
            return false;
        }
        if (mode == PipelineTuning::IdleWait::kSignalled) {
            return wait(pause);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(pause));
        return false;
    }

    // Work was found.
    void Reset() { m_idle = false; }

private:
    // True once the polls have been empty for kParkAfter.
    bool IdleForParkTime() {
        auto now = std::chrono::steady_clock::now();
        if (!m_idle) {
            m_idle = true;
            m_idle_since = now;
            return false;
        }
        return now - m_idle_since >= kParkAfter;
    }

    bool m_idle = false;
    std::chrono::steady_clock::time_point m_idle_since;
};

}  // namespace com::mivo::kmr::client
