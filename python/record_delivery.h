#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "python/interpreter_lock.h"

namespace com::mivo::kmr::client {

class SiteFlow;

// Bytes counted in a site's memory budget while a text waits for Python.
class HeldTextBytes {
public:
    HeldTextBytes() = default;
    HeldTextBytes(std::shared_ptr<SiteFlow> flow, int64_t bytes);
    HeldTextBytes(HeldTextBytes&& other) noexcept;
    HeldTextBytes& operator=(HeldTextBytes&& other) noexcept;
    HeldTextBytes(const HeldTextBytes&) = delete;
    HeldTextBytes& operator=(const HeldTextBytes&) = delete;
    ~HeldTextBytes() { Drop(); }

    // Gives the bytes back to the site now.
    void Drop();

private:
    std::shared_ptr<SiteFlow> m_flow;
    int64_t m_bytes = 0;
};

// Carries texts from the library's callback threads to one delivery thread
// that hands them to Python in batches: one take of the interpreter lock
// delivers every text that is ready, up to a bound. Each producing thread
// has its own queue (a lane) drained in order, so the order of every thread,
// and with it of every channel, is kept. A lane holds at most a bound of
// bytes (texts waiting and texts of the batch in hand); a producer finding
// its lane full waits, which holds back the pipeline behind it instead of
// letting a slow Python handler grow memory without end. A text put with
// its site's flow also counts in that site's budget until it was delivered
// or dropped, so a slow handler holds the site's reader back as a slow C++
// callback does.
class RecordDelivery {
public:
    // Called on the delivery thread, with the interpreter lock held, once
    // per text; the text is writable and NUL-terminated. It must not throw.
    using Deliver = std::function<void(std::string& text)>;

    static constexpr size_t kLaneBytes = 8u << 20;
    static constexpr size_t kBatchTexts = 512;

    explicit RecordDelivery(Deliver deliver, size_t lane_bytes = kLaneBytes,
                            size_t batch_texts = kBatchTexts);
    // Stops as Stop does, and waits for a thread that was stopped from its
    // own callback to end.
    ~RecordDelivery();
    RecordDelivery(const RecordDelivery&) = delete;
    RecordDelivery& operator=(const RecordDelivery&) = delete;

    // The lock every delivery thread of the process takes around a batch
    // (not owned; null for none). Set before the first Put.
    static void UseInterpreterLock(InterpreterLock* lock);

    // Queues the text on the calling thread's lane, starting the delivery
    // thread if needed; waits while the lane is full. Dropped while stopped.
    void Put(std::string&& text, std::shared_ptr<SiteFlow> flow = nullptr);

    // Drops every queued text and ends the delivery thread (after the batch
    // it is in; at once when called from a delivered callback). Texts put
    // until Resume are dropped, and producers waiting for room return.
    void Stop();
    // Accepts texts again after Stop.
    void Resume();

    // Returns once every text put before the call was delivered or dropped.
    void WaitDelivered();

    // Whether the caller is this object's delivery thread.
    bool OnDeliveryThread() const;

private:
    struct Queued {
        std::string text;
        HeldTextBytes held;
    };
    struct Lane {
        std::deque<Queued> texts;
        size_t bytes = 0;  // queued and in the batch being delivered
    };
    struct Taken {
        Lane* lane;
        size_t size;
        std::string text;
        HeldTextBytes held;
    };

    Lane* LaneOfThisThread();
    // The delivery thread's loop; it ends when m_run_id no longer names it.
    void Run(unsigned long run_id);
    void TakeBatch(std::vector<Taken>* batch);

    const Deliver m_deliver;
    const size_t m_lane_bytes;
    const size_t m_batch_texts;
    // Distinguishes this object (and each stop of it) in the threads' cached
    // lane pointers.
    std::atomic<unsigned long> m_generation;

    std::mutex m_stop_mutex;  // one Stop or Resume at a time
    std::mutex m_mutex;
    std::condition_variable m_ready;  // texts queued, or stopping
    std::condition_variable m_room;   // a lane lost bytes, or stopping
    std::condition_variable m_idle;   // a batch was delivered
    std::vector<std::unique_ptr<Lane>> m_lanes;
    size_t m_next_lane = 0;
    size_t m_queued = 0;
    unsigned long m_put = 0;        // texts accepted so far
    unsigned long m_delivered = 0;  // of them delivered or dropped
    bool m_stopped = false;         // refuses texts until Resume
    unsigned long m_run_id = 0;     // the running delivery thread, 0 for none
    int m_alive = 0;                // delivery threads not yet ended
    std::thread m_thread;
};

}  // namespace com::mivo::kmr::client
