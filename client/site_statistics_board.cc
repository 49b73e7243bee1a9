#include "client/site_statistics_board.h"

#include <chrono>
#include <utility>

#include "client/socket_connect_thread.h"

namespace com::mivo::kmr::client {

namespace {

int64_t SteadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t MillisSince(int64_t then_ns, int64_t now_ns) {
    if (then_ns == 0) {
        return -1;
    }
    return now_ns > then_ns ? (now_ns - then_ns) / 1000000 : 0;
}

}  // namespace

void SiteStatisticsBoard::Attach(int site_type, std::shared_ptr<SiteFlow> flow,
                                 const std::shared_ptr<SocketConnectThread>& connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Site& site = m_sites[site_type];
    site.flow = std::move(flow);
    site.connection = connection;
}

void SiteStatisticsBoard::DetachConnection(int site_type) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sites.find(site_type);
    if (it != m_sites.end()) {
        it->second.connection.reset();
    }
}

void SiteStatisticsBoard::DetachAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_sites) {
        entry.second.connection.reset();
    }
}

const char* SiteStatisticsBoard::LinkStateName(int login_state) {
    switch (login_state) {
        case SocketConnectThread::CONNECT_STATE_ONGOING:
            return "connecting";
        case SocketConnectThread::CONNECT_STATE_SUCCESS:
            return "up";
        case SocketConnectThread::CONNECT_STATE_FAILED:
            return "failed";
        default:
            return "idle";
    }
}

std::vector<SiteStatistics> SiteStatisticsBoard::Collect() const {
    std::vector<SiteStatistics> result;
    {
        // The owner detaches a connection (under this lock) before letting
        // it go, so one locked here always has another owner.
        std::lock_guard<std::mutex> lock(m_mutex);
        const int64_t now_ns = SteadyNowNs();
        result.reserve(m_sites.size());
        for (const auto& entry : m_sites) {
            const SiteCounters& c = entry.second.flow->Counters();
            SiteStatistics s;
            s.site_type = entry.first;
            std::shared_ptr<SocketConnectThread> connection = entry.second.connection.lock();
            if (connection) {
                s.node = connection->getCurrentHostStr();
                s.link_state = LinkStateName(connection->getState());
            } else {
                s.link_state = LinkStateName(SocketConnectThread::CONNECT_STATE_NONE);
            }
            s.logins = c.logins.load(std::memory_order_relaxed);
            s.reconnects = c.reconnects.load(std::memory_order_relaxed);
            s.records = c.records.load(std::memory_order_relaxed);
            s.frames = c.frames.load(std::memory_order_relaxed);
            s.wire_bytes = c.wire_bytes.load(std::memory_order_relaxed);
            s.decompressed_bytes = c.decompressed_bytes.load(std::memory_order_relaxed);
            s.decode_errors = c.decode_errors.load(std::memory_order_relaxed);
            s.queued_records = c.queued_records.load(std::memory_order_relaxed);
            s.held_bytes = c.held_bytes.load(std::memory_order_relaxed);
            s.stalls = c.stalls.load(std::memory_order_relaxed);
            s.ms_since_last_frame = MillisSince(c.last_frame_ns.load(std::memory_order_relaxed), now_ns);
            s.ms_since_last_heartbeat_answer =
                MillisSince(c.last_heartbeat_answer_ns.load(std::memory_order_relaxed), now_ns);
            s.discarded_records = c.discarded_records.load(std::memory_order_relaxed);
            result.push_back(std::move(s));
        }
    }
    return result;
}

}  // namespace com::mivo::kmr::client
