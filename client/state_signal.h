#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Wakes the threads that wait for a change of connection states, so that a
// login or subscribe returns as soon as the last answer is in instead of at
// the next poll. Notify may be called from any thread at any time.
class ZEL_API StateSignal {
public:
    void Notify();

    // Waits until done() holds, the deadline passes or Abort is called;
    // true when done() held. done() is evaluated without the signal's lock.
    bool WaitUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);

    // Ends every wait, present and future, until Rearm.
    void Abort();
    void Rearm();
    bool IsAborted() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    unsigned long long m_version = 0;
    bool m_aborted = false;
};

}  // namespace com::mivo::kmr::client
