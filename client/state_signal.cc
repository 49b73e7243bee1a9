#include "client/state_signal.h"

namespace com::mivo::kmr::client {

void StateSignal::Notify() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_version;
    }
    m_cv.notify_all();
}

bool StateSignal::WaitUntil(const std::function<bool()>& done,
                            std::chrono::steady_clock::time_point deadline) {
    while (true) {
        unsigned long long seen;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_aborted) {
                return false;
            }
            seen = m_version;
        }
        // Outside the lock: done() reads connection states whose writers
        // notify afterwards, so a change after this check bumps the version.
        if (done()) {
            return true;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_until(lock, deadline, [&] { return m_aborted || m_version != seen; })) {
            return false;
        }
    }
}

void StateSignal::Abort() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_aborted = true;
    }
    m_cv.notify_all();
}

void StateSignal::Rearm() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aborted = false;
}

bool StateSignal::IsAborted() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_aborted;
}

}  // namespace com::mivo::kmr::client
