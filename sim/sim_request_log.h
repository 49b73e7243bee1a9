#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace com::mivo::kmr::client {

// One frame a client sent to the service, in arrival order.
struct SimRequest {
    int64_t order = 0;        // position in the service-wide log, from 0
    std::string server;       // name of the server that read it
    uint64_t connection = 0;  // service-wide connection id
    int message_type = -1;    // SysMessageType of the meta record; -1 for a frame that broke the frame rules
    std::string trace_id;
    // The body bytes as received (without the int32 prefix); empty for bad frames.
    std::string body;
    // The body as protobuf JSON with any password replaced by "***", or what was wrong with a bad frame.
    std::string text;
    int64_t received_unix_nanos = 0;
};

// The service-wide log of requests, shared by all servers; every member takes the lock. A long-running
// service keeps only the newest entries (between the capacity and twice that many).
class SimRequestLog {
public:
    static constexpr size_t kDefaultCapacity = 100000;

    void Append(SimRequest request);
    std::vector<SimRequest> Snapshot() const;
    std::vector<SimRequest> ForServer(const std::string& server) const;
    std::vector<SimRequest> OfType(int message_type) const;
    size_t Size() const;
    void Clear();
    // Waits until the predicate holds over the log, or the timeout passes; returns the predicate's last
    // value.
    bool WaitUntil(const std::function<bool(const std::vector<SimRequest>&)>& predicate,
                   std::chrono::milliseconds timeout) const;
    // Mirror every entry to standard error as it arrives.
    void SetEcho(bool echo);
    void SetCapacity(size_t capacity);

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<SimRequest> m_entries;
    int64_t m_next_order = 0;
    bool m_echo = false;
    size_t m_capacity = kDefaultCapacity;
};

}  // namespace com::mivo::kmr::client
