#include "pipeline/site_flow.h"

#include <new>

#include "common/base_config.h"
#include "common/base_log.h"

namespace com::mivo::kmr::client {

namespace {

// Smallest class whose buffers hold length bytes; -1 when none does.
int SizeClassOf(size_t length) {
    size_t size = SiteFlow::kSmallestBuffer;
    for (int size_class = 0; size_class < SiteFlow::kSizeClasses; ++size_class, size <<= 1) {
        if (length <= size) {
            return size_class;
        }
    }
    return -1;
}

// The site of the batch the calling thread is delivering.
thread_local SiteFlow* t_delivering = nullptr;

}  // namespace

void PayloadBuffer::Unref() {
    if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        m_owner->Recycle(this);
    }
}

SiteFlow::SiteFlow(uint32_t site_type, int64_t budget_bytes)
    : m_site_type(site_type), m_budget(budget_bytes > 0 ? budget_bytes : 1) {}

SiteFlow::~SiteFlow() {
    SetResumeHook(nullptr, nullptr);
    const int64_t outstanding = m_outstanding.load();
    if (outstanding != 0) {
        ErrorPrint("Site type %u: %lld market data buffers were not returned", m_site_type,
                   static_cast<long long>(outstanding));
    }
    for (PayloadBuffer*& head : m_free) {
        while (head != nullptr) {
            PayloadBuffer* next = head->m_next_free;
            head->~PayloadBuffer();
            ::operator delete(head);
            head = next;
        }
    }
}

int64_t SiteFlow::ConfiguredBudgetBytes() {
    return static_cast<int64_t>(BaseConfig::GetInstance().GetSiteMemoryBudgetMb()) << 20;
}

PayloadBuffer* SiteFlow::Acquire(size_t length) {
    const int size_class = SizeClassOf(length);
    PayloadBuffer* buffer = nullptr;
    if (size_class >= 0) {
        std::lock_guard<std::mutex> lock(m_free_mutex);
        buffer = m_free[size_class];
        if (buffer != nullptr) {
            m_free[size_class] = buffer->m_next_free;
            m_free_bytes -= static_cast<int64_t>(buffer->m_capacity);
        }
    }
    if (buffer == nullptr) {
        const size_t capacity = size_class >= 0 ? kSmallestBuffer << size_class : length;
        void* memory = ::operator new(sizeof(PayloadBuffer) + capacity, std::nothrow);
        if (memory == nullptr) {
            return nullptr;
        }
        buffer = new (memory) PayloadBuffer(this, capacity, size_class);
    }
    buffer->m_next_free = nullptr;
    buffer->m_refs.store(1, std::memory_order_relaxed);
    buffer->m_length = length;
    m_outstanding.fetch_add(1, std::memory_order_relaxed);
    Hold(static_cast<int64_t>(buffer->m_capacity));
    return buffer;
}

void SiteFlow::Hold(int64_t bytes) {
    const int64_t held = m_counters.held_bytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    std::atomic<int64_t>& peak = m_counters.peak_held_bytes;
    int64_t seen = peak.load(std::memory_order_relaxed);
    while (held > seen && !peak.compare_exchange_weak(seen, held, std::memory_order_relaxed)) {
    }
}

void SiteFlow::SetDelivering(const PayloadBuffer* buffer) {
    t_delivering = buffer == nullptr ? nullptr : buffer->m_owner;
}

std::shared_ptr<SiteFlow> SiteFlow::Delivering() {
    // A flow not owned by a shared_ptr (some tests make one on the stack)
    // has nobody to keep it alive for the host: none.
    return t_delivering == nullptr ? nullptr : t_delivering->weak_from_this().lock();
}

void SiteFlow::Recycle(PayloadBuffer* buffer) {
    const int64_t capacity = static_cast<int64_t>(buffer->m_capacity);
    m_outstanding.fetch_sub(1, std::memory_order_relaxed);
    bool kept = false;
    if (buffer->m_size_class >= 0) {
        std::lock_guard<std::mutex> lock(m_free_mutex);
        if (m_free_bytes + capacity <= kMaxFreeBytes) {
            buffer->m_next_free = m_free[buffer->m_size_class];
            m_free[buffer->m_size_class] = buffer;
            m_free_bytes += capacity;
            kept = true;
        }
    }
    if (!kept) {
        buffer->~PayloadBuffer();
        ::operator delete(buffer);
    }
    Release(capacity);
}

void SiteFlow::Release(int64_t bytes) {
    const int64_t held = m_counters.held_bytes.fetch_sub(bytes, std::memory_order_seq_cst) - bytes;
    if (held > ResumeMark() || !m_held_back.load(std::memory_order_seq_cst) ||
        m_wake_sent.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_hook_mutex);
    if (m_hook != nullptr) {
        m_hook(m_hook_context);
    }
}

bool SiteFlow::MayAdmit() const {
    const int64_t held = HeldBytes();
    return held < m_budget || held <= 0;
}

bool SiteFlow::HoldBack() {
    m_wake_sent.store(false, std::memory_order_relaxed);
    m_held_since = std::chrono::steady_clock::now();
    m_held_back.store(true, std::memory_order_seq_cst);
    // A release between the reader's check and the mark above saw no mark:
    // look again so that wake-up is not lost.
    if (m_counters.held_bytes.load(std::memory_order_seq_cst) <= ResumeMark() &&
        !m_wake_sent.exchange(true, std::memory_order_acq_rel)) {
        m_held_back.store(false, std::memory_order_release);
        return false;
    }
    SiteCounters::Add(m_counters.stalls, 1);
    return true;
}

std::chrono::steady_clock::duration SiteFlow::Resumed() {
    m_held_back.store(false, std::memory_order_release);
    return std::chrono::steady_clock::now() - m_held_since;
}

void SiteFlow::SetResumeHook(ResumeHook hook, void* context) {
    std::lock_guard<std::mutex> lock(m_hook_mutex);
    m_hook = hook;
    m_hook_context = context;
}

}  // namespace com::mivo::kmr::client
