#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Writes a text (the statistics snapshot) to the log every N seconds, N read
// from the configuration at every turn ("nuvexia_config_statistics_log_interval";
// 0 writes nothing), so a change applies without a restart.
class ZEL_API StatisticsLogThread {
public:
    explicit StatisticsLogThread(std::function<std::string()> render);
    // Stops and joins the thread.
    ~StatisticsLogThread();

    StatisticsLogThread(const StatisticsLogThread&) = delete;
    StatisticsLogThread& operator=(const StatisticsLogThread&) = delete;

private:
    void Run();

    std::function<std::string()> m_render;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace com::mivo::kmr::client
