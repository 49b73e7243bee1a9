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
// stretches a 10 us sleep to 60 us or more, work arriving at the start of the
// sleep waits all of it, and every empty poll costs a wake-up. So an idle
// thread keeps looking for the configured idle pause (spinning with the
// processor's pause hint: work that follows quickly is taken without any
// wake-up), then blocks until its producer signals. The signal ends the wait
// at once; kParkTimeoutUs is only a safety net. A pause of zero or less
// blocks at once.
class IdleBackoff {
public:
    // The design's polling threads block after this long without work.
    static constexpr std::chrono::microseconds kParkAfter{1000};
    // A blocked thread re-checks its stop flag this often even without a signal.
    static constexpr int64_t kParkTimeoutUs = 200000;

    // After an empty poll. wait(timeout_us) blocks until the producer signals
    // or the timeout passes, and returns whether it was signalled; Idle
    // returns that (false when it only spun or slept).
    template <typename Wait>
    bool Idle(Wait&& wait) {
        const PipelineTuning::IdleWait mode = PipelineTuning::GetIdleWait();
        const auto pause = BaseConfig::GetInstance().GetThreadIdleSleepTime();
        const auto idle_for = IdleFor();
        if (mode == PipelineTuning::IdleWait::kSignalled) {
            if (idle_for < pause) {
                CpuRelax();
                return false;
            }
            return wait(kParkTimeoutUs);
        }
        if (mode == PipelineTuning::IdleWait::kPollThenPark && idle_for >= kParkAfter) {
            return wait(kParkTimeoutUs);
        }
        if (pause.count() > 0) {
            std::this_thread::sleep_for(pause);
        }
        return false;
    }

    // Work was found.
    void Reset() { m_idle = false; }

private:
    // How long the polls have been empty (zero at the first empty poll).
    std::chrono::steady_clock::duration IdleFor() {
        auto now = std::chrono::steady_clock::now();
        if (!m_idle) {
            m_idle = true;
            m_idle_since = now;
        }
        return now - m_idle_since;
    }

    static void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#elif defined(__aarch64__)
        asm volatile("yield");
#endif
    }

    bool m_idle = false;
    std::chrono::steady_clock::time_point m_idle_since;
};

}  // namespace com::mivo::kmr::client
