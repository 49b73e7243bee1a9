#pragma once

#include <atomic>

#include "common/zel_export.h"
#include "pipeline/blocking_queue.h"
#include "pipeline/c_thread.h"
#include "pipeline/message_handle.h"
#include "pipeline/rate_limited_log.h"
#include "pipeline/record_batch.h"
#include "pipeline/record_decoder.h"
#include "pipeline/site_counters.h"

namespace com::mivo::kmr::client {

// One callback thread of a site: takes batches of encoded records from its
// inbound queue (one wake-up per batch), decodes each record and calls the
// user's OnMarketData with it, then drops the batch's buffer reference and
// hands the batch back through its return queue to the decompression thread
// that made it. A record that does not decode costs only itself: it is
// counted in decode_errors and logged (rate-limited).
//
// The decompression thread is the only producer of m_inbound_queue and the
// only consumer of m_return_queue. Stop must be called by that thread, or
// after it has stopped producing: it wakes a parked worker through the
// inbound queue.
class ZEL_API CWorkerThread : public CThread {
public:
    using MarketData = com::mivo::zel::model::MarketData;

    // The return queue is drained one batch per routed batch, so its
    // backlog stays small; it reserves less up front than the inbound queue
    // (each reserved block is resident memory) and grows like it if needed.
    static constexpr size_t kReturnQueueReserve = 8192;

    // counters may be null (nothing is counted).
    CWorkerThread(int index, MessageHandle* message_handle, SiteCounters* counters = nullptr);
    ~CWorkerThread() override;

    void Run() override;

    // Ends the thread after the callback it is in and releases every batch
    // left in both queues with its buffer reference. Calling it from the
    // worker itself throws std::system_error (resource deadlock).
    void Stop();

    // Starts the thread; the pool calls it once.
    void Start() { StartThread(); }

    // Delivers every record of a batch on the calling thread (the worker's
    // loop; tests call it directly). Does not hand the batch back.
    void DeliverBatch(RecordBatch& batch);

    int m_index;
    std::atomic<bool> m_running;
    MessageHandle* m_message_handle;
    BlockingReaderWriterQueue<RecordBatch*> m_inbound_queue;
    BlockingReaderWriterQueue<RecordBatch*> m_return_queue;

    // Frees a batch that will not travel any more, with its buffer reference.
    static void DiscardBatch(RecordBatch* batch);

private:
    SiteCounters* m_counters;
    RecordDecoder m_decoder;
    RateLimitedLog m_decode_error_log;
};

}  // namespace com::mivo::kmr::client
