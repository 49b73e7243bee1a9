#include "pipeline/decompress_thread.h"

#include <mutex>
#include <unordered_map>

#include "common/base_log.h"
#include "pipeline/idle_backoff.h"

namespace com::mivo::kmr::client {

namespace {

// The connection's loop thread wakes a parked decompression thread from
// inside push(), possibly just as that decompression thread is being
// destroyed. The hook therefore gets the queue (which outlives its producer)
// as context and finds the semaphore here, under a lock that unregistering
// also takes: once a thread has unregistered, no hook can reach it.
class WakeRegistry {
public:
    static WakeRegistry& Instance() {
        static WakeRegistry* registry = new WakeRegistry();  // outlives every thread
        return *registry;
    }

    void Register(const void* queue, moodycamel::spsc_sema::LightweightSemaphore* wake) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wakes[queue] = wake;
    }

    void Unregister(const void* queue, moodycamel::spsc_sema::LightweightSemaphore* wake) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_wakes.find(queue);
        if (it != m_wakes.end() && it->second == wake) {
            m_wakes.erase(it);
        }
    }

    static void Wake(void* queue) {
        WakeRegistry& registry = Instance();
        std::lock_guard<std::mutex> lock(registry.m_mutex);
        auto it = registry.m_wakes.find(queue);
        if (it != registry.m_wakes.end()) {
            it->second->signal();
        }
    }

private:
    std::mutex m_mutex;
    std::unordered_map<const void*, moodycamel::spsc_sema::LightweightSemaphore*> m_wakes;
};

}  // namespace

DecompressThread::DecompressThread(std::shared_ptr<RawDataQueue> raw_data_queue,
                                   std::shared_ptr<RawDataBackQueue> raw_data_queue_back)
    : m_raw_data_queue(std::move(raw_data_queue)),
      m_raw_data_queue_back(std::move(raw_data_queue_back)),
      m_stop(false),
      m_thread_pool(std::make_shared<CThreadPool>()),
      m_decompress_buf(kInitialBufferSize),
      m_thread_num(0),
      m_message_handle(nullptr),
      m_discard_warned(false) {}

DecompressThread::~DecompressThread() {
    Stop();
    // The callback threads go first: they give back records into queues
    // that only this object drains.
    m_thread_pool.reset();
    for (MarketData* record : m_spare_records) {
        delete record;
    }
    m_spare_records.clear();
}

void DecompressThread::CreateCallbackThreads(unsigned num, MessageHandle* message_handle) {
    m_thread_pool->Create(num, message_handle);
    m_thread_num = static_cast<int32_t>(m_thread_pool->m_threads.size());
    m_message_handle = message_handle;
}

void DecompressThread::Start() {
    if (m_thread.joinable()) {
        return;
    }
    m_stop.store(false);
    if (m_raw_data_queue) {
        WakeRegistry::Instance().Register(m_raw_data_queue.get(), &m_wake);
        m_raw_data_queue->SetWakeHook(&WakeRegistry::Wake, m_raw_data_queue.get());
    }
    m_thread = std::thread([this] { Run(); });
}

void DecompressThread::Stop() {
    if (!m_thread.joinable()) {
        return;
    }
    m_stop.store(true);
    m_wake.signal();
    m_thread.join();
    if (m_raw_data_queue) {
        WakeRegistry::Instance().Unregister(m_raw_data_queue.get(), &m_wake);
    }
}

void DecompressThread::Run() {
    InfoPrint("Strat decompress thread success");
    IdleBackoff idle;
    do {
        RawData* raw_data = m_raw_data_queue ? m_raw_data_queue->front() : nullptr;
        if (raw_data != nullptr) {
            idle.Reset();
            ProcessRawData(raw_data);
            HandBackBuffer(raw_data);
            m_raw_data_queue->pop();
        } else if (!idle.ShouldPark()) {
            idle.Pause();
        } else {
            Park();
        }
    } while (!m_stop.load(std::memory_order_acquire));
}

// Blocks until the connection pushes a frame, Stop signals, or the safety
// timeout passes. The queue's flag makes the next push call the hook.
void DecompressThread::Park() {
    if (!m_raw_data_queue) {
        m_wake.wait(IdleBackoff::kParkTimeoutUs);
        return;
    }
    if (m_raw_data_queue->PrepareToPark()) {
        if (!m_stop.load(std::memory_order_acquire)) {
            m_wake.wait(IdleBackoff::kParkTimeoutUs);
        }
        m_raw_data_queue->CancelPark();
    }
}

void DecompressThread::HandBackBuffer(RawData* raw_data) {
    char** slot = m_raw_data_queue_back ? m_raw_data_queue_back->alloc() : nullptr;
    if (slot != nullptr) {
        *slot = raw_data->m_data;
        m_raw_data_queue_back->push();
        return;
    }
    ErrorPrint("RawDataQueueBack alloc failed");
    delete[] raw_data->m_data;
    raw_data->m_data = nullptr;
}

}  // namespace com::mivo::kmr::client
