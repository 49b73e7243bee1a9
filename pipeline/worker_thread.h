#pragma once

#include <atomic>

#include "common/zel_export.h"
#include "pipeline/blocking_queue.h"
#include "pipeline/c_thread.h"
#include "pipeline/message_handle.h"

namespace com::mivo::kmr::client {

// One callback thread of a site: takes decoded records from its inbound
// queue, calls the user's OnMarketData with each and hands the record back
// through its return queue to the decompression thread that made it.
//
// The decompression thread is the only producer of m_inbound_queue and the
// only consumer of m_return_queue. Stop must be called by that thread, or
// after it has stopped producing: it wakes a parked worker through the
// inbound queue.
class ZEL_API CWorkerThread : public CThread {
public:
    using MarketData = com::mivo::zel::model::MarketData;

    // The return queue is drained one record per routed record, so its
    // backlog stays small; it reserves less up front than the inbound queue
    // (each reserved block is resident memory) and grows like it if needed.
    static constexpr size_t kReturnQueueReserve = 8192;

    CWorkerThread(int index, MessageHandle* message_handle);
    ~CWorkerThread() override;

    void Run() override;

    // Ends the thread after the callback it is in and destroys every record
    // left in both queues. Calling it from the worker itself throws
    // std::system_error (resource deadlock).
    void Stop();

    // Starts the thread; the pool calls it once.
    void Start() { StartThread(); }

    int m_index;
    std::atomic<bool> m_running;
    MessageHandle* m_message_handle;
    BlockingReaderWriterQueue<MarketData*> m_inbound_queue;
    BlockingReaderWriterQueue<MarketData*> m_return_queue;

private:
    void Deliver(MarketData* record);
};

}  // namespace com::mivo::kmr::client
