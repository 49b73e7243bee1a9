#include "pipeline/thread_pool.h"

namespace com::mivo::kmr::client {

CThreadPool::~CThreadPool() {
    for (auto& worker : m_threads) {
        worker->Stop();
    }
    m_threads.clear();
}

int CThreadPool::Create(unsigned num, MessageHandle* message_handle, SiteCounters* counters) {
    const size_t target = m_threads.size() + num;
    m_threads.reserve(target);
    while (m_threads.size() < target) {
        auto worker =
            std::make_unique<CWorkerThread>(static_cast<int>(m_threads.size()), message_handle, counters);
        worker->Start();
        m_threads.push_back(std::move(worker));
    }
    return 0;
}

}  // namespace com::mivo::kmr::client
