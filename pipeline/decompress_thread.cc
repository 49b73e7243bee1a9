#include "pipeline/decompress_thread.h"

#include "common/base_log.h"
#include "pipeline/idle_backoff.h"

namespace com::mivo::kmr::client {

namespace {

thread_local bool t_more_input_waiting = false;

}  // namespace

void DecompressThread::SetMoreInputWaiting(bool waiting) {
    t_more_input_waiting = waiting;
}

DecompressThread::DecompressThread(std::shared_ptr<RawDataQueue> raw_data_queue,
                                   std::shared_ptr<SiteFlow> flow)
    : m_flow(std::move(flow)),
      m_raw_data_queue(std::move(raw_data_queue)),
      m_stop(false),
      m_thread_pool(std::make_shared<CThreadPool>()),
      m_thread_num(0),
      m_message_handle(nullptr),
      m_discard_warned(false) {}

DecompressThread::~DecompressThread() {
    Stop();
    // The callback threads go first: they give back batches into queues
    // that only this object drains.
    m_thread_pool.reset();
    for (RecordBatch* batch : m_spare_batches) {
        delete batch;
    }
    m_spare_batches.clear();
    m_spare_count.store(0, std::memory_order_relaxed);
}

void DecompressThread::CreateCallbackThreads(unsigned num, MessageHandle* message_handle) {
    m_thread_pool->Create(num, message_handle, m_flow ? &m_flow->Counters() : nullptr);
    m_thread_num = static_cast<int32_t>(m_thread_pool->m_threads.size());
    m_message_handle = message_handle;
}

void DecompressThread::Start() {
    if (m_thread.joinable()) {
        return;
    }
    m_stop.store(false);
    if (m_raw_data_queue) {
        m_raw_data_queue->SetWakeHook(&DecompressThread::Wake, this);
    }
    m_thread = std::thread([this] { Run(); });
}

void DecompressThread::Stop() {
    if (!m_thread.joinable()) {
        return;
    }
    m_stop.store(true);
    // The connection may still push; once this returns it no longer calls
    // into this object (a frame it is processing here is finished first).
    if (m_raw_data_queue) {
        m_raw_data_queue->SetWakeHook(nullptr, nullptr);
    }
    m_wake.signal();
    m_thread.join();
}

void DecompressThread::Run() {
    InfoPrint("Strat decompress thread success");
    IdleBackoff idle;
    std::unique_lock<std::mutex> consuming(m_consume_mutex);
    do {
        RawData* raw_data = m_raw_data_queue ? m_raw_data_queue->front() : nullptr;
        if (raw_data != nullptr) {
            idle.Reset();
            ProcessRawData(raw_data);
            m_raw_data_queue->pop();
            continue;
        }
        Reclaim();
        if (idle.Idle(
                [this, &consuming](int64_t timeout_us) { return WaitForFrame(timeout_us, consuming); }) &&
            m_flow) {
            SiteCounters::Add(m_flow->Counters().decompress_wakeups, 1);
        }
    } while (!m_stop.load(std::memory_order_acquire));
    Reclaim();
}

// Runs on the connection's loop thread, inside push().
void DecompressThread::Wake(void* context) {
    auto* self = static_cast<DecompressThread*>(context);
    if (!self->RunInline()) {
        self->m_wake.signal();
    }
}

bool DecompressThread::RunInline() {
    // Over budget a compressed frame may have to wait for the callbacks:
    // that wait belongs on this stage's own thread, not the connection's.
    if (t_more_input_waiting || m_stop.load(std::memory_order_acquire) || !m_raw_data_queue ||
        (m_flow && !m_flow->MayAdmit())) {
        return false;
    }
    std::unique_lock<std::mutex> consuming(m_consume_mutex, std::try_to_lock);
    if (!consuming.owns_lock()) {
        return false;  // the thread is awake and will find the frame
    }
    m_inline = true;
    for (RawData* raw_data = m_raw_data_queue->front(); raw_data != nullptr;
         raw_data = m_raw_data_queue->front()) {
        ProcessRawData(raw_data);
        m_raw_data_queue->pop();
    }
    m_inline = false;
    // The thread still sleeps: the next frame comes through here as well.
    (void)m_raw_data_queue->PrepareToPark();
    if (m_flow) {
        SiteCounters::Add(m_flow->Counters().inline_frames, 1);
    }
    return true;
}

// Blocks until the connection pushes a frame, Stop signals, or the timeout
// passes; true when a frame came. The queue's flag makes the next push call
// the hook.
bool DecompressThread::WaitForFrame(int64_t timeout_us, std::unique_lock<std::mutex>& consuming) {
    if (!m_raw_data_queue) {
        m_wake.wait(timeout_us);
        return false;
    }
    if (!m_raw_data_queue->PrepareToPark()) {
        return true;
    }
    bool woken = false;
    if (!m_stop.load(std::memory_order_acquire)) {
        // Asleep, the queue is the connection's to process.
        consuming.unlock();
        woken = m_wake.wait(timeout_us);
        consuming.lock();
    }
    m_raw_data_queue->CancelPark();
    return woken && m_raw_data_queue->front() != nullptr;
}

}  // namespace com::mivo::kmr::client
