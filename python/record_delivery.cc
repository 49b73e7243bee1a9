#include "python/record_delivery.h"

#include <atomic>

#include "pipeline/site_flow.h"

namespace com::mivo::kmr::client {

namespace {

InterpreterLock s_no_lock;
std::atomic<InterpreterLock*> s_lock{nullptr};
// Generations and delivery threads are numbered across every object, so a
// number cached by a thread never matches another object by accident.
std::atomic<unsigned long> s_numbers{0};

// The calling thread's lane in the delivery of the generation it was made in.
struct CachedLane {
    unsigned long generation = 0;
    void* lane = nullptr;
};
thread_local CachedLane t_lane;
// The delivery whose thread this is, if any.
thread_local const RecordDelivery* t_running = nullptr;

}  // namespace

HeldTextBytes::HeldTextBytes(std::shared_ptr<SiteFlow> flow, int64_t bytes)
    : m_flow(std::move(flow)), m_bytes(bytes) {
    if (m_flow != nullptr) {
        m_flow->HoldHostBytes(m_bytes);
    }
}

HeldTextBytes::HeldTextBytes(HeldTextBytes&& other) noexcept
    : m_flow(std::move(other.m_flow)), m_bytes(other.m_bytes) {
    other.m_flow = nullptr;
}

HeldTextBytes& HeldTextBytes::operator=(HeldTextBytes&& other) noexcept {
    if (this != &other) {
        Drop();
        m_flow = std::move(other.m_flow);
        m_bytes = other.m_bytes;
        other.m_flow = nullptr;
    }
    return *this;
}

void HeldTextBytes::Drop() {
    if (m_flow != nullptr) {
        m_flow->ReleaseHostBytes(m_bytes);
        m_flow = nullptr;
    }
}

RecordDelivery::RecordDelivery(Deliver deliver, size_t lane_bytes, size_t batch_texts)
    : m_deliver(std::move(deliver)),
      m_lane_bytes(lane_bytes),
      m_batch_texts(batch_texts == 0 ? 1 : batch_texts),
      m_generation(++s_numbers) {}

RecordDelivery::~RecordDelivery() {
    Stop();
    // A thread that was stopped from its own callback may still be leaving.
    std::unique_lock<std::mutex> lock(m_mutex);
    const int own = t_running == this ? 1 : 0;
    m_idle.wait(lock, [&] { return m_alive <= own; });
}

void RecordDelivery::UseInterpreterLock(InterpreterLock* lock) {
    s_lock.store(lock);
}

RecordDelivery::Lane* RecordDelivery::LaneOfThisThread() {
    const unsigned long generation = m_generation.load(std::memory_order_relaxed);
    if (t_lane.generation != generation) {
        m_lanes.push_back(std::make_unique<Lane>());
        t_lane = {generation, m_lanes.back().get()};
    }
    return static_cast<Lane*>(t_lane.lane);
}

void RecordDelivery::Put(std::string&& text, std::shared_ptr<SiteFlow> flow) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_stopped) {
        return;
    }
    const unsigned long generation = m_generation.load(std::memory_order_relaxed);
    Lane* lane = LaneOfThisThread();
    const size_t size = text.size();
    // A text larger than the whole bound still passes through an empty lane.
    m_room.wait(lock, [&] {
        return m_stopped || m_generation.load(std::memory_order_relaxed) != generation || lane->bytes == 0 ||
               lane->bytes + size <= m_lane_bytes;
    });
    if (m_stopped || m_generation.load(std::memory_order_relaxed) != generation) {
        return;
    }
    if (m_run_id == 0) {
        m_run_id = ++s_numbers;
        ++m_alive;
        m_thread = std::thread(&RecordDelivery::Run, this, m_run_id);
    }
    lane->texts.push_back({std::move(text), HeldTextBytes(std::move(flow), static_cast<int64_t>(size))});
    lane->bytes += size;
    ++m_put;
    if (++m_queued == 1) {
        m_ready.notify_one();
    }
}

void RecordDelivery::TakeBatch(std::vector<Taken>* batch) {
    const size_t lanes = m_lanes.size();
    for (size_t k = 0; k < lanes && batch->size() < m_batch_texts; ++k) {
        Lane* lane = m_lanes[(m_next_lane + k) % lanes].get();
        while (!lane->texts.empty() && batch->size() < m_batch_texts) {
            Queued& front = lane->texts.front();
            batch->push_back({lane, front.text.size(), std::move(front.text), std::move(front.held)});
            lane->texts.pop_front();
            --m_queued;
        }
    }
    // The next batch starts at another lane, so a full batch favours none.
    m_next_lane = lanes == 0 ? 0 : (m_next_lane + 1) % lanes;
}

void RecordDelivery::Run(unsigned long run_id) {
    InterpreterLock* interpreter = s_lock.load();
    if (interpreter == nullptr) {
        interpreter = &s_no_lock;
    }
    interpreter->Attach();
    t_running = this;
    std::vector<Taken> batch;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_ready.wait(lock, [&] { return m_run_id != run_id || m_queued > 0; });
        if (m_run_id != run_id) {
            break;
        }
        const unsigned long generation = m_generation.load(std::memory_order_relaxed);
        TakeBatch(&batch);
        lock.unlock();
        if (interpreter->Acquire()) {
            for (Taken& taken : batch) {
                // A stop from inside a callback drops the rest of the batch.
                if (m_generation.load(std::memory_order_relaxed) != generation) {
                    break;
                }
                m_deliver(taken.text);
            }
            interpreter->Release();
        }
        for (Taken& taken : batch) {
            std::string().swap(taken.text);
            taken.held.Drop();  // may let the site's reader go on
        }
        lock.lock();
        if (m_generation.load(std::memory_order_relaxed) == generation) {
            for (const Taken& taken : batch) {
                taken.lane->bytes -= taken.size;
            }
            m_delivered += batch.size();
            m_room.notify_all();
        }
        batch.clear();
        m_idle.notify_all();
    }
    lock.unlock();
    t_running = nullptr;
    interpreter->Detach();
    // The last touch of this object: a destructor may be waiting for it.
    lock.lock();
    --m_alive;
    m_idle.notify_all();
}

void RecordDelivery::Stop() {
    std::lock_guard<std::mutex> stopping(m_stop_mutex);
    std::thread thread;
    // Dropped outside the lock: giving their bytes back may wake a reader.
    std::vector<std::unique_ptr<Lane>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        m_run_id = 0;
        m_generation.store(++s_numbers);
        dropped.swap(m_lanes);
        m_next_lane = 0;
        m_queued = 0;
        m_delivered = m_put;
        thread.swap(m_thread);
        m_ready.notify_all();
        m_room.notify_all();
        m_idle.notify_all();
    }
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id()) {
            // Called from a delivered callback: the thread ends when the
            // callback returns, without touching the dropped batch.
            thread.detach();
        } else {
            thread.join();
        }
    }
}

void RecordDelivery::Resume() {
    std::lock_guard<std::mutex> stopping(m_stop_mutex);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = false;
}

bool RecordDelivery::OnDeliveryThread() const {
    return t_running == this;
}

void RecordDelivery::WaitDelivered() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const unsigned long target = m_put;
    m_idle.wait(lock, [&] { return m_delivered >= target; });
}

}  // namespace com::mivo::kmr::client
