#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <readerwriterqueue/atomicops.h>

#include "common/zel_export.h"
#include "pipeline/message_handle.h"
#include "pipeline/rate_limited_log.h"
#include "pipeline/raw_data.h"
#include "pipeline/record_batch.h"
#include "pipeline/site_flow.h"
#include "pipeline/thread_pool.h"

namespace com::mivo::kmr::client {

// The market data stage of one site: takes the frames its connection puts
// into the raw data queue, decompresses LZ4 payloads into a buffer of the
// site's pool, and splits the payload into length-prefixed MarketData
// records. The records of one frame go to the callback threads in batches,
// one per thread (chosen by each record's ZELMessageChannel, so the records
// of a channel stay in order on one thread), each batch holding a reference
// to the buffer its records lie in; the callback threads decode them.
//
// A bad length prefix or a record cut off at the end of the payload ends the
// frame there (nothing after it can be found); both are logged
// (rate-limited) and counted in decode_errors.
//
// A frame that finds this thread asleep is processed by the connection's
// loop thread itself, inside its push: waking a thread on another core costs
// tens of microseconds on a virtual machine, more than the work. Only the
// stage runs there (decompression, splitting, hand-over); callbacks always
// run on the callback threads, so a host may call into the client from them.
// m_consume_mutex makes the two consumers take turns.
class ZEL_API DecompressThread {
public:
    DecompressThread(std::shared_ptr<RawDataQueue> raw_data_queue, std::shared_ptr<SiteFlow> flow);
    // Stops the thread, then releases the callback threads and every batch.
    ~DecompressThread();

    DecompressThread(const DecompressThread&) = delete;
    DecompressThread& operator=(const DecompressThread&) = delete;

    // Creates the callback threads. Call before Start.
    void CreateCallbackThreads(unsigned num, MessageHandle* message_handle);
    // Clears m_stop and starts the thread on Run.
    void Start();
    // Sets m_stop, wakes the thread and waits for it. Frames still queued
    // stay in the raw data queue.
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }

    void Run();
    // One frame: decompress, split, hand over; takes the frame's payload
    // reference. Never reads outside the payload nor writes outside the
    // decompression buffer.
    void ProcessRawData(RawData* raw_data);

    // Set by a connection on its own thread before each push: whether more
    // input is already waiting to be cut. A busy connection leaves its frames
    // to the decompression thread, so that reading and decompressing overlap.
    static void SetMoreInputWaiting(bool waiting);

    // Readable from any thread while the decompression thread runs.
    size_t GetSpareBatchCount() const { return m_spare_count.load(std::memory_order_relaxed); }

    std::shared_ptr<SiteFlow> m_flow;
    std::shared_ptr<RawDataQueue> m_raw_data_queue;
    std::thread m_thread;
    std::atomic<bool> m_stop;
    std::shared_ptr<CThreadPool> m_thread_pool;
    int32_t m_thread_num;
    MessageHandle* m_message_handle;

private:
    void WaitForBudget();
    // On the connection's thread, from the queue's wake hook: processes what
    // the queue holds if the thread is asleep; false when it must be woken.
    bool RunInline();
    // The decompressed payload in a new buffer; null (logged) on failure.
    PayloadBuffer* Decompress(const PayloadBuffer& payload);
    void Split(PayloadBuffer* buffer);
    // The callback thread for a record's channel.
    size_t WorkerIndex(const char* record, size_t length) const;
    void HandOver(PayloadBuffer* buffer);
    RecordBatch* TakeBatch();
    void Reclaim();
    void LogFrameDamage(const char* what, size_t offset, size_t length);
    bool WaitForFrame(int64_t timeout_us, std::unique_lock<std::mutex>& consuming);
    static void Wake(void* context);

    moodycamel::spsc_sema::LightweightSemaphore m_wake;
    // Held by whichever thread is consuming the queue and using the stage.
    std::mutex m_consume_mutex;
    std::vector<RecordBatch*> m_pending;  // per callback thread, this frame's batch
    std::vector<RecordBatch*> m_spare_batches;
    std::atomic<size_t> m_spare_count{0};
    RateLimitedLog m_damage_log;
    bool m_discard_warned;
    bool m_inline = false;
};

}  // namespace com::mivo::kmr::client
