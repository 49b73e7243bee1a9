#include "sim/sim_request_log.h"

#include <cstdio>

namespace com::mivo::kmr::client {

void SimRequestLog::Append(SimRequest request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    request.order = m_next_order++;
    if (m_echo) {
        std::fprintf(stderr, "request #%lld %s conn=%llu type=%d trace=%s %s\n",
                     static_cast<long long>(request.order), request.server.c_str(),
                     static_cast<unsigned long long>(request.connection), request.message_type,
                     request.trace_id.c_str(), request.text.c_str());
    }
    m_entries.push_back(std::move(request));
    if (m_capacity > 0 && m_entries.size() >= 2 * m_capacity) {
        // Dropped in bulk, so that trimming costs nothing per request.
        m_entries.erase(m_entries.begin(), m_entries.begin() + static_cast<std::ptrdiff_t>(m_capacity));
    }
    m_changed.notify_all();
}

std::vector<SimRequest> SimRequestLog::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

std::vector<SimRequest> SimRequestLog::ForServer(const std::string& server) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SimRequest> out;
    for (const auto& entry : m_entries) {
        if (entry.server == server) {
            out.push_back(entry);
        }
    }
    return out;
}

std::vector<SimRequest> SimRequestLog::OfType(int message_type) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SimRequest> out;
    for (const auto& entry : m_entries) {
        if (entry.message_type == message_type) {
            out.push_back(entry);
        }
    }
    return out;
}

size_t SimRequestLog::Size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

void SimRequestLog::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

bool SimRequestLog::WaitUntil(const std::function<bool(const std::vector<SimRequest>&)>& predicate,
                              std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return predicate(m_entries); });
}

void SimRequestLog::SetCapacity(size_t capacity) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_capacity = capacity;
}

void SimRequestLog::SetEcho(bool echo) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_echo = echo;
}

}  // namespace com::mivo::kmr::client
