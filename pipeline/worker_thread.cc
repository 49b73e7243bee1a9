#include "pipeline/worker_thread.h"

#include <system_error>

#include <chrono>
#include <thread>

#include "common/base_config.h"
#include "common/base_log.h"
#include "pipeline/idle_backoff.h"

namespace com::mivo::kmr::client {

CWorkerThread::CWorkerThread(int index, MessageHandle* message_handle)
    : m_index(index),
      m_running(true),
      m_message_handle(message_handle),
      m_return_queue(kReturnQueueReserve) {}

CWorkerThread::~CWorkerThread() {
    Stop();
}

void CWorkerThread::Run() {
    IdleBackoff idle;
    while (m_running.load(std::memory_order_acquire)) {
        MarketData* record = nullptr;
        if (!m_inbound_queue.TryTake(record)) {
            if (!idle.ShouldPark()) {
                idle.Pause();
                continue;
            }
            // Nothing for a while: sleep in the queue's semaphore until the
            // decompression thread puts a record (or Stop puts the wake-up).
            if (!m_inbound_queue.WaitTake(record, IdleBackoff::kParkTimeoutUs)) {
                continue;
            }
        }
        idle.Reset();
        if (record == nullptr) {
            continue;  // the wake-up of Stop
        }
        if (m_message_handle == nullptr) {
            ErrorPrint("Callback handle is nullptr.");
            delete record;
            break;
        }
        Deliver(record);
    }
}

void CWorkerThread::Deliver(MarketData* record) {
    m_message_handle->OnMarketData(*record);
    if (!m_return_queue.Put(record)) {
        ErrorPrint("Callback queue full.");
        delete record;
    }
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
    MarketData* record = nullptr;
    while (m_inbound_queue.TryTake(record)) {
        delete record;
    }
    while (m_return_queue.TryTake(record)) {
        delete record;
    }
}

}  // namespace com::mivo::kmr::client
