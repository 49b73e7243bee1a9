#include "common/reaper.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "common/host_call.h"

namespace com::mivo::kmr::client {

namespace {

class ReaperState {
public:
    // Process exit: the teardowns still running finish first.
    ~ReaperState() { Drain(); }

    void Hand(std::function<void()> job) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
        if (m_running) {
            return;
        }
        if (m_thread.joinable()) {
            m_thread.join();  // idle and past its last touch of the state
        }
        m_running = true;
        m_thread = std::thread(&ReaperState::Run, this);
    }

    void Drain() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle_cv.wait(lock, [this] { return !m_running; });
        if (m_thread.joinable()) {
            m_thread.join();  // past its last touch of the state
        }
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_jobs.empty()) {
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
        }
        m_running = false;
        m_idle_cv.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_idle_cv;
    std::deque<std::function<void()>> m_jobs;
    bool m_running = false;
    std::thread m_thread;
};

ReaperState& State() {
    static ReaperState state;
    return state;
}

}  // namespace

void Reaper::Hand(std::function<void()> job) {
    State().Hand(std::move(job));
}

void Reaper::Drain() {
    if (HostCall::Inside()) {
        return;
    }
    State().Drain();
}

}  // namespace com::mivo::kmr::client
