#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace com::mivo::kmr::client {

// One request the client holds and replays after every reconnect, in the
// order it was accepted.
struct SubscriptionEntry {
    std::string kind;     // "data_type" or "security_id"
    int action = 0;       // ESubscribeActionType: 0 coverage, 1 add, 2 decrease, 3 cancel
    std::string request;  // the SubscribeRequest as JSON
    uint64_t sends = 0;   // times sent: the first time and every replay
    int last_result = 0;  // result of the latest send (0: every site accepted)
    int64_t ms_since_last_result = 0;
};

struct SubscriptionList {
    bool has_client = false;  // false: no client exists, entries is empty
    std::vector<SubscriptionEntry> entries;
};

}  // namespace com::mivo::kmr::client
