#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace com::mivo::kmr::client {

// What one site type's link and pipeline have done since the client was
// created. Each figure is exact on its own; figures of one snapshot are read
// one after the other, not at one instant.
struct SiteStatistics {
    int site_type = 0;
    // "ip:port" of the node in use or being tried; empty past the last node.
    std::string node;
    // "idle" (never tried or reset), "connecting", "up" or "failed".
    std::string link_state;
    uint64_t logins = 0;      // successful datafeed logins
    uint64_t reconnects = 0;  // logins after a lost link
    uint64_t records = 0;     // market data records decoded
    uint64_t frames = 0;      // market data frames read
    uint64_t wire_bytes = 0;  // bytes of those frames as received
    uint64_t decompressed_bytes = 0;
    uint64_t decode_errors = 0;
    int64_t queued_records = 0;  // handed to callback threads, not yet returned
    int64_t held_bytes = 0;      // market data held against the flow-control budget
    uint64_t stalls = 0;         // times the reader was held back by the budget
    // Milliseconds since the last frame / heartbeat answer; -1: none yet.
    int64_t ms_since_last_frame = -1;
    int64_t ms_since_last_heartbeat_answer = -1;
    uint64_t discarded_records = 0;  // decoded but dropped: no callback thread to take them
};

// The state of the process's client at one moment.
struct ClientStatistics {
    bool has_client = false;            // false: no client exists, sites is empty
    std::vector<SiteStatistics> sites;  // ascending site type
};

}  // namespace com::mivo::kmr::client
