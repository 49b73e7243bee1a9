#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include <readerwriterqueue/atomicops.h>

#include "common/zel_export.h"
#include "pipeline/message_handle.h"
#include "pipeline/raw_data.h"
#include "pipeline/thread_pool.h"

namespace com::mivo::kmr::client {

// The market data stage of one site: takes the frames its connection puts
// into the raw data queue, decompresses LZ4 payloads, splits them into
// length-prefixed MarketData records, decodes each and hands it to the
// callback thread chosen by its ZELMessageChannel. Finished payload buffers
// go back to the connection through the return queue.
//
// Records are made and released only on this thread. Records coming back
// from the callback threads are cleared and kept for reuse (up to
// kMaxSpareRecords); the rest are destroyed.
class ZEL_API DecompressThread {
public:
    using MarketData = com::mivo::zel::model::MarketData;

    static constexpr size_t kInitialBufferSize = 4096;
    static constexpr size_t kMaxSpareRecords = 4096;

    DecompressThread(std::shared_ptr<RawDataQueue> raw_data_queue,
                     std::shared_ptr<RawDataBackQueue> raw_data_queue_back);
    // Stops the thread, then releases the callback threads and every record.
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
    // One frame: decompress, split, decode, route. Never reads outside the
    // payload nor writes outside the decompression buffer.
    void ProcessRawData(RawData* raw_data);

    size_t GetDecompressBufferSize() const { return m_decompress_buf.size(); }
    // Readable from any thread while the decompression thread runs.
    size_t GetSpareRecordCount() const { return m_spare_count.load(std::memory_order_relaxed); }

    std::shared_ptr<RawDataQueue> m_raw_data_queue;
    std::shared_ptr<RawDataBackQueue> m_raw_data_queue_back;
    std::thread m_thread;
    std::atomic<bool> m_stop;
    std::shared_ptr<CThreadPool> m_thread_pool;
    std::vector<char> m_decompress_buf;
    int32_t m_thread_num;
    MessageHandle* m_message_handle;

private:
    // Points data/len at the decompressed bytes; false (logged) on failure.
    bool Decompress(const RawData& raw_data, const char*& data, int32_t& len);
    void HandBackBuffer(RawData* raw_data);
    MarketData* NewRecord();
    void ReleaseRecord(MarketData* record);
    void Route(MarketData* record);
    void Reclaim();
    void Park();
    static void Wake(void* context);

    moodycamel::spsc_sema::LightweightSemaphore m_wake;
    std::vector<MarketData*> m_spare_records;
    std::atomic<size_t> m_spare_count{0};
    bool m_discard_warned;
};

}  // namespace com::mivo::kmr::client
