#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "common/base_config.h"
#include "pipeline/pipeline_tuning.h"

namespace com::mivo::kmr::client {

// Idle policy of the pipeline's polling threads. While work keeps coming a
// thread polls with the configured idle sleep between empty polls; once it
// has found nothing for kParkAfter it should block until its producer
// signals, so that an idle client costs next to no processor time.
class IdleBackoff {
public:
    static constexpr std::chrono::microseconds kParkAfter{1000};
    // A parked thread re-checks its stop flag this often even without a signal.
    static constexpr int64_t kParkTimeoutUs = 200000;

    // After an empty poll: true once the polls have been empty for kParkAfter.
    bool ShouldPark() {
        if (!PipelineTuning::ParkIdleThreads()) {
            return false;
        }
        auto now = std::chrono::steady_clock::now();
        if (!m_idle) {
            m_idle = true;
            m_idle_since = now;
            return false;
        }
        return now - m_idle_since >= kParkAfter;
    }

    // The configured pause between empty polls (none when it is zero).
    void Pause() const {
        auto pause = BaseConfig::GetInstance().GetThreadIdleSleepTime();
        if (pause.count() > 0) {
            std::this_thread::sleep_for(pause);
        }
    }

    // Work was found.
    void Reset() { m_idle = false; }

private:
    bool m_idle = false;
    std::chrono::steady_clock::time_point m_idle_since;
};

}  // namespace com::mivo::kmr::client
