#pragma once

#include <cstddef>
#include <cstdint>

#include <readerwriterqueue/readerwriterqueue.h>

namespace com::mivo::kmr::client {

// Unbounded single-producer single-consumer FIFO between a decompression
// thread and one callback thread: blocks of 512 slots linked in a circle,
// grown by the producer when full, with a lightweight counting semaphore.
// A thin naming layer over moodycamel's queue; all the work is in there.
template <typename T>
class BlockingReaderWriterQueue {
public:
    // 262144 entries reserve 515 blocks of 512 slots up front.
    static constexpr size_t kDefaultCapacity = 262144;

    explicit BlockingReaderWriterQueue(size_t capacity = kDefaultCapacity) : m_queue(capacity) {}

    BlockingReaderWriterQueue(const BlockingReaderWriterQueue&) = delete;
    BlockingReaderWriterQueue& operator=(const BlockingReaderWriterQueue&) = delete;

    // Producer: appends, adding a block when the ring is full, and releases a
    // consumer blocked in WaitTake. False only when no block can be allocated.
    bool Put(const T& item) { return m_queue.enqueue(item); }

    // Consumer: takes the oldest element without waiting.
    bool TryTake(T& item) { return m_queue.try_dequeue(item); }

    // Consumer: waits up to timeout_us microseconds (negative: for ever) for
    // an element; false when none came.
    bool WaitTake(T& item, int64_t timeout_us) { return m_queue.wait_dequeue_timed(item, timeout_us); }

    // Either side; a snapshot that may be stale by the time it is read.
    size_t SizeApprox() const { return m_queue.size_approx(); }

private:
    moodycamel::BlockingReaderWriterQueue<T, 512> m_queue;
};

}  // namespace com::mivo::kmr::client
