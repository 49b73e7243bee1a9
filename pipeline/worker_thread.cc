#include "pipeline/worker_thread.h"

#include <system_error>

#include <chrono>
#include <thread>

#include "common/base_config.h"
#include "common/base_log.h"
#include "pipeline/idle_backoff.h"
#include "pipeline/site_flow.h"

namespace com::mivo::kmr::client {

CWorkerThread::CWorkerThread(int index, MessageHandle* message_handle, SiteCounters* counters)
    : m_index(index),
      m_running(true),
      m_message_handle(message_handle),
      m_return_queue(kReturnQueueReserve),
      m_counters(counters) {}

CWorkerThread::~CWorkerThread() {
    Stop();
}

void CWorkerThread::Run() {
    IdleBackoff idle;
    while (m_running.load(std::memory_order_acquire)) {
        RecordBatch* batch = nullptr;
        if (!m_inbound_queue.TryTake(batch)) {
            // The queue's semaphore wakes the wait as soon as a batch is put
            // (or Stop puts its wake-up): one wake-up per batch at most.
            const bool woken = idle.Idle(
                [this, &batch](int64_t timeout_us) { return m_inbound_queue.WaitTake(batch, timeout_us); });
            if (!woken) {
                continue;
            }
            if (m_counters != nullptr && batch != nullptr) {
                SiteCounters::Add(m_counters->callback_wakeups, 1);
            }
        }
        idle.Reset();
        if (batch == nullptr) {
            continue;  // the wake-up of Stop
        }
        if (m_message_handle == nullptr) {
            ErrorPrint("Callback handle is nullptr.");
            DiscardBatch(batch);
            break;
        }
        SiteFlow::SetDelivering(batch->m_buffer);
        DeliverBatch(*batch);
        SiteFlow::SetDelivering(nullptr);
        if (batch->m_buffer != nullptr) {
            batch->m_buffer->Unref();
            batch->m_buffer = nullptr;
        }
        if (!m_return_queue.Put(batch)) {
            ErrorPrint("Callback queue full.");
            DiscardBatch(batch);
        }
    }
}

void CWorkerThread::DeliverBatch(RecordBatch& batch) {
    if (batch.m_buffer == nullptr) {
        return;
    }
    const char* base = batch.m_buffer->Data();
    for (const RecordBatch::Slice& slice : batch.m_records) {
        const MarketData* record = m_decoder.Decode(base + slice.offset, slice.length);
        if (record != nullptr) {
            m_message_handle->OnMarketData(*record);
            continue;
        }
        if (m_counters != nullptr) {
            SiteCounters::Add(m_counters->decode_errors, 1);
        }
        uint64_t left_out = 0;
        if (m_decode_error_log.Allow(&left_out)) {
            ErrorPrint(
                "Market data record of %u bytes does not decode, skipped (%llu more skipped since the "
                "last such line)",
                slice.length, static_cast<unsigned long long>(left_out));
        }
    }
    if (m_counters != nullptr) {
        m_counters->queued_records.fetch_sub(static_cast<int64_t>(batch.m_records.size()),
                                             std::memory_order_relaxed);
    }
}

void CWorkerThread::DiscardBatch(RecordBatch* batch) {
    if (batch != nullptr && batch->m_buffer != nullptr) {
        batch->m_buffer->Unref();
    }
    delete batch;
}

void CWorkerThread::Stop() {
    m_running.exchange(false);
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id()) {
            // A callback stopping its own worker would join itself.
            throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur),
                                    "CWorkerThread::Stop from its own thread");
        }
        m_inbound_queue.Put(nullptr);
        m_thread.join();
    }
    RecordBatch* batch = nullptr;
    while (m_inbound_queue.TryTake(batch)) {
        if (batch != nullptr && m_counters != nullptr) {
            m_counters->queued_records.fetch_sub(static_cast<int64_t>(batch->m_records.size()),
                                                 std::memory_order_relaxed);
        }
        DiscardBatch(batch);
    }
    while (m_return_queue.TryTake(batch)) {
        DiscardBatch(batch);
    }
}

}  // namespace com::mivo::kmr::client
