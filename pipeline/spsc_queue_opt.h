#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <type_traits>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Lock-free ring of N slots between exactly one producer thread and one
// consumer thread. Each slot carries its own ready flag, so the consumer never
// reads the producer's index and the producer reads the consumer's index only
// when its free-slot estimate runs out. One slot always stays empty: at most
// N - 1 elements are queued at once.
//
// Producer: T* slot = alloc(); fill *slot; push();   (alloc gives null when full)
// Consumer: T* item = front(); use *item; pop();     (front gives null when empty)
//
// The slots live in one zero-filled allocation that is never written at
// construction: a fresh 524288-slot queue is 64 MiB of address space but only
// the pages the two threads actually reach become resident. T must therefore
// be valid as all-zero bytes and need no destructor (a plain record or a
// pointer); elements are filled in place and never destroyed.
//
// Parking a consumer. A consumer that found the queue empty for a while may
// sleep instead of spinning. The queue only carries the flag; the sleeping
// itself (condition variable, semaphore, ...) belongs to the consumer:
//   1. SetWakeHook(hook, ctx), from any thread.
//   2. Consumer: if (PrepareToPark()) { wait on your primitive, with a timeout
//      as a safety net } -- PrepareToPark returns false (and does not park)
//      when an element arrived meanwhile.
//   3. Producer: every push() checks the flag; the first push after
//      PrepareToPark clears it and calls hook(ctx) on the producer thread, so
//      the hook must be short and must not block (post a semaphore, notify a
//      condition variable). One park gets at most one hook call.
//   CancelPark() withdraws the flag when the consumer wakes for another reason.
template <typename T, uint32_t N>
class ZEL_API SPSCQueueOpt {
    static_assert(N >= 2 && (N & (N - 1)) == 0, "slot count must be a power of two");
    static_assert(sizeof(T) <= 64, "an element must fit in one cache line");
    static_assert(std::is_trivially_copyable<T>::value && std::is_trivially_destructible<T>::value,
                  "elements live in zero-filled memory and are never destroyed");

public:
    using WakeHook = void (*)(void* context);

    static constexpr uint32_t kMask = N - 1;
    static constexpr uint32_t kCapacity = N - 1;

    SPSCQueueOpt() {
        // Over-allocate so the first block can start on a 128-byte boundary;
        // calloc of this size is served by fresh anonymous pages that the
        // kernel zeroes lazily.
        m_storage = std::calloc(1, sizeof(Block) * static_cast<size_t>(N) + kBlockAlign);
        if (m_storage == nullptr) {
            throw std::bad_alloc();
        }
        uintptr_t addr = reinterpret_cast<uintptr_t>(m_storage);
        addr = (addr + kBlockAlign - 1) & ~static_cast<uintptr_t>(kBlockAlign - 1);
        // The rounded-up address still points into m_storage.
        m_blocks = reinterpret_cast<Block*>(addr);  // NOLINT(performance-no-int-to-ptr)
    }

    ~SPSCQueueOpt() { std::free(m_storage); }

    SPSCQueueOpt(const SPSCQueueOpt&) = delete;
    SPSCQueueOpt& operator=(const SPSCQueueOpt&) = delete;

    // Producer: the slot at the write index to fill in place, or null when full.
    T* alloc() {
        if (m_producer.m_free_estimate.load(std::memory_order_relaxed) == 1) {
            uint32_t read = m_consumer.m_read_index.load(std::memory_order_acquire);
            uint32_t write = m_producer.m_write_index.load(std::memory_order_relaxed);
            m_producer.m_free_estimate.store(((read - write - 1) & kMask) + 1, std::memory_order_relaxed);
            if (m_producer.m_free_estimate.load(std::memory_order_relaxed) == 1) {
                return nullptr;
            }
        }
        return &m_blocks[m_producer.m_write_index.load(std::memory_order_relaxed)].m_data;
    }

    // Producer: publishes the slot last returned by alloc().
    void push() {
        uint32_t write = m_producer.m_write_index.load(std::memory_order_relaxed);
        m_blocks[write].m_ready.store(true, std::memory_order_release);
        FullFence();
        m_producer.m_write_index.store((write + 1) & kMask, std::memory_order_relaxed);
        m_producer.m_free_estimate.fetch_sub(1, std::memory_order_relaxed);
        NotifyIfParked();
    }

    // Consumer: the oldest published element, or null when there is none.
    T* front() {
        Block& block = m_blocks[m_consumer.m_read_index.load(std::memory_order_relaxed)];
        if (!block.m_ready.load(std::memory_order_acquire)) {
            return nullptr;
        }
        return &block.m_data;
    }

    // Consumer: frees the slot last returned by front().
    void pop() {
        uint32_t read = m_consumer.m_read_index.load(std::memory_order_relaxed);
        m_blocks[read].m_ready.store(false, std::memory_order_release);
        FullFence();
        m_consumer.m_read_index.store((read + 1) & kMask, std::memory_order_release);
    }

    // Any thread, also while the producer runs. Once it returns the previous
    // hook is neither running nor called again (so SetWakeHook(nullptr, nullptr)
    // before a consumer goes away is safe). The hook must not call it.
    void SetWakeHook(WakeHook hook, void* context) {
        std::lock_guard<std::mutex> lock(m_wake.m_hook_mutex);
        m_wake.m_context = context;
        m_wake.m_hook = hook;
    }

    // Consumer: announces that it is about to sleep. False when an element is
    // already waiting (the flag is withdrawn then and the consumer must not sleep).
    bool PrepareToPark() {
        m_wake.m_parked.store(true, std::memory_order_seq_cst);
        FullFence();
        if (front() != nullptr) {
            m_wake.m_parked.store(false, std::memory_order_relaxed);
            return false;
        }
        return true;
    }

    // Consumer: withdraws an announcement that no push has answered yet.
    void CancelPark() { m_wake.m_parked.store(false, std::memory_order_relaxed); }

    // Producer (called by push): wakes a parked consumer once.
    void NotifyIfParked() {
        if (m_wake.m_parked.load(std::memory_order_seq_cst) &&
            m_wake.m_parked.exchange(false, std::memory_order_acq_rel)) {
            // Only after a park: the lock costs nothing on the busy path.
            std::lock_guard<std::mutex> lock(m_wake.m_hook_mutex);
            if (m_wake.m_hook != nullptr) {
                m_wake.m_hook(m_wake.m_context);
            }
        }
    }

private:
    static constexpr size_t kBlockAlign = 128;

    static void FullFence() {
#if defined(__SANITIZE_THREAD__)
        // The thread sanitizer does not model fences; a sequentially
        // consistent read-modify-write orders the same way and it sees that.
        static std::atomic<uint32_t> s_fence{0};
        s_fence.fetch_add(0, std::memory_order_seq_cst);
#else
        std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
    }

    // Flag and element on separate cache lines: the consumer spinning on a
    // flag does not pull the line the producer is filling.
    struct alignas(kBlockAlign) Block {
        std::atomic<bool> m_ready;
        alignas(64) T m_data;
    };
    static_assert(sizeof(Block) == 128, "a slot spans two cache lines");

    struct alignas(128) ProducerPart {
        std::atomic<uint32_t> m_write_index{0};
        // Free slots plus one, as last seen; recomputed when it runs down to 1.
        std::atomic<uint32_t> m_free_estimate{N};
    };
    struct alignas(128) ConsumerPart {
        std::atomic<uint32_t> m_read_index{0};
    };
    // Read by the producer on every push, written by the consumer only when
    // it parks: kept away from both indices.
    struct alignas(128) WakePart {
        std::atomic<bool> m_parked{false};
        std::mutex m_hook_mutex;
        WakeHook m_hook{nullptr};
        void* m_context{nullptr};
    };

    Block* m_blocks = nullptr;
    void* m_storage = nullptr;
    ProducerPart m_producer;
    ConsumerPart m_consumer;
    WakePart m_wake;
};

}  // namespace com::mivo::kmr::client
