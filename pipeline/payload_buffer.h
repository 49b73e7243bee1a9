#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace com::mivo::kmr::client {

class SiteFlow;

// Bytes of market data on their way through a site's pipeline: a frame's
// payload or a decompressed batch. Made and recycled only by the site's
// SiteFlow, which counts the whole capacity against the site's budget from
// Acquire until the last reference is dropped. The bytes follow the header in
// the same allocation.
class PayloadBuffer {
public:
    char* Data() { return reinterpret_cast<char*>(this + 1); }
    const char* Data() const { return reinterpret_cast<const char*>(this + 1); }
    size_t Capacity() const { return m_capacity; }

    // Bytes in use, set by whoever fills the buffer.
    size_t m_length = 0;

    // References: the holder of one may pass it on; each is dropped once.
    void AddRefs(int32_t count) { m_refs.fetch_add(count, std::memory_order_relaxed); }
    // Drops one reference; the last one gives the buffer back to its site.
    void Unref();

private:
    friend class SiteFlow;
    PayloadBuffer(SiteFlow* owner, size_t capacity, int size_class)
        : m_owner(owner), m_capacity(capacity), m_size_class(size_class) {}

    SiteFlow* m_owner;
    size_t m_capacity;
    int m_size_class;  // -1: larger than every pooled size, freed on return
    std::atomic<int32_t> m_refs{1};
    PayloadBuffer* m_next_free = nullptr;
};

}  // namespace com::mivo::kmr::client
