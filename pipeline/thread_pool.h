#pragma once

#include <memory>
#include <vector>

#include "common/zel_export.h"
#include "pipeline/message_handle.h"
#include "pipeline/worker_thread.h"

namespace com::mivo::kmr::client {

// The callback threads of one site, indexed 0..N-1. Owned by the site's
// decompression thread, which is the producer of every worker's inbound
// queue; the pool is destroyed after that thread has finished.
class ZEL_API CThreadPool {
public:
    CThreadPool() = default;
    // Stops every worker in index order, then destroys them.
    ~CThreadPool();

    CThreadPool(const CThreadPool&) = delete;
    CThreadPool& operator=(const CThreadPool&) = delete;

    // Creates and starts num workers in index order; 0 creates none. Returns 0.
    int Create(unsigned num, MessageHandle* message_handle, SiteCounters* counters = nullptr);

    std::vector<std::unique_ptr<CWorkerThread>> m_threads;
};

}  // namespace com::mivo::kmr::client
