#include "client/statistics_log_thread.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "common/base_config.h"
#include "common/base_log.h"

namespace com::mivo::kmr::client {

namespace {

// How often a switched-off writer looks at the setting again.
constexpr std::chrono::seconds kRecheck{1};

}  // namespace

StatisticsLogThread::StatisticsLogThread(std::function<std::string()> render)
    : m_render(std::move(render)), m_thread([this] { Run(); }) {}

StatisticsLogThread::~StatisticsLogThread() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

void StatisticsLogThread::Run() {
    auto last = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        const unsigned interval = BaseConfig::GetInstance().GetStatisticsLogInterval();
        const auto now = std::chrono::steady_clock::now();
        if (interval == 0) {
            last = now;
            m_cv.wait_for(lock, kRecheck, [this] { return m_stop; });
            continue;
        }
        const auto due = last + std::chrono::seconds(interval);
        if (now < due) {
            // Wake at least every second so that a shorter interval set
            // meanwhile takes effect soon.
            m_cv.wait_for(lock, std::min<std::chrono::steady_clock::duration>(due - now, kRecheck),
                          [this] { return m_stop; });
            continue;
        }
        last = now;
        lock.unlock();
        const std::string text = m_render();
        InfoPrint("statistics: %s", text.c_str());
        lock.lock();
    }
}

}  // namespace com::mivo::kmr::client
