#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "common/zel_export.h"
#include "pipeline/payload_buffer.h"
#include "pipeline/site_counters.h"

namespace com::mivo::kmr::client {

// Flow control and payload memory of one site.
//
// Every byte of market data the site holds lives in a PayloadBuffer from
// here: frames in the ring, decompressed batches, and the records cut from
// them, which point into those buffers until their callback thread has
// delivered them. A buffer's bytes count in m_counters.held_bytes from
// Acquire to its last Unref, so a host callback that blocks in OnMarketData
// keeps its batch, and with it the site's budget, taken: the reader then
// stops taking frames from the socket and TCP pushes back on the node.
// Nothing is dropped.
//
// The reader (one loop thread) asks MayAdmit before each frame. When it is
// refused it calls HoldBack and stops reading; whichever thread later drops
// held bytes to half the budget calls the resume hook once, and the reader
// calls Resumed on its loop thread. A budget smaller than one frame still
// makes progress: a frame is admitted whenever nothing is held.
//
// Buffers come in power-of-two sizes and go back to per-size free lists, so
// a steady feed allocates nothing; the lists keep at most kMaxFreeBytes.
class ZEL_API SiteFlow : public std::enable_shared_from_this<SiteFlow> {
public:
    using ResumeHook = void (*)(void* context);

    static constexpr size_t kSmallestBuffer = 4096;
    static constexpr int kSizeClasses = 13;  // 4 KiB .. 16 MiB
    static constexpr int64_t kMaxFreeBytes = 16 << 20;

    SiteFlow(uint32_t site_type, int64_t budget_bytes);
    // Frees the free lists. Every buffer must have come back (the owners
    // of rings and pipeline stages keep the flow alive until then).
    ~SiteFlow();

    SiteFlow(const SiteFlow&) = delete;
    SiteFlow& operator=(const SiteFlow&) = delete;

    // The configured budget of a site.
    static int64_t ConfiguredBudgetBytes();

    // A buffer of at least length bytes with one reference, its length set;
    // null only when memory runs out.
    PayloadBuffer* Acquire(size_t length);

    // Reader side (one thread).
    bool MayAdmit() const;
    // Marks the reader held back; false (not held) when bytes were freed
    // meanwhile and the reader may go on.
    bool HoldBack();
    // After the hook fired: clears the mark. Returns how long the reader was
    // held, for its log line.
    std::chrono::steady_clock::duration Resumed();
    bool IsHeldBack() const { return m_held_back.load(std::memory_order_acquire); }
    // While set, hook(context) may run on any pipeline thread; setting null
    // waits until no call is in progress.
    void SetResumeHook(ResumeHook hook, void* context);

    // Callback side. The site whose records the calling thread is handing
    // to the host (set by a callback thread around each batch from the
    // batch's buffer, null elsewhere), for a host that keeps copies of
    // records after its callback returned.
    static void SetDelivering(const PayloadBuffer* buffer);
    static std::shared_ptr<SiteFlow> Delivering();
    // Such copies count as held like buffers: HoldHostBytes when the host
    // takes them, ReleaseHostBytes (any thread) when they go.
    void HoldHostBytes(int64_t bytes) { Hold(bytes); }
    void ReleaseHostBytes(int64_t bytes) { Release(bytes); }

    SiteCounters& Counters() { return m_counters; }
    int64_t HeldBytes() const { return m_counters.held_bytes.load(std::memory_order_relaxed); }
    int64_t Budget() const { return m_budget; }
    uint32_t SiteType() const { return m_site_type; }
    // Buffers handed out and not yet back (tests check it returns to zero).
    int64_t OutstandingBuffers() const { return m_outstanding.load(std::memory_order_relaxed); }
    int64_t PeakHeldBytes() const { return m_counters.peak_held_bytes.load(std::memory_order_relaxed); }

private:
    friend class PayloadBuffer;
    void Recycle(PayloadBuffer* buffer);
    void Hold(int64_t bytes);
    void Release(int64_t bytes);
    int64_t ResumeMark() const { return m_budget / 2; }

    const uint32_t m_site_type;
    const int64_t m_budget;
    SiteCounters m_counters;
    std::atomic<int64_t> m_outstanding{0};

    std::mutex m_free_mutex;
    PayloadBuffer* m_free[kSizeClasses] = {};
    int64_t m_free_bytes = 0;

    std::atomic<bool> m_held_back{false};
    std::atomic<bool> m_wake_sent{false};
    std::chrono::steady_clock::time_point m_held_since;
    std::mutex m_hook_mutex;
    ResumeHook m_hook = nullptr;
    void* m_hook_context = nullptr;
};

}  // namespace com::mivo::kmr::client
