#pragma once

#include <chrono>
#include <mutex>
#include <vector>

#include "SysSubscribe.pb.h"
#include "client/subscription_list.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// What the client's subscription registry holds, with the outcome of each
// entry's latest send, readable from any thread. Entries are known by the
// address of the registry's request, which never moves while the client lives.
class ZEL_API SubscriptionLedger {
public:
    // A first send: an accepted request (result 0) becomes an entry; a
    // refused one never enters the registry and is not listed.
    void Sent(const com::mivo::zel::model::SubscribeRequest& request, int result);
    // A replay of a registry entry.
    void Replayed(const com::mivo::zel::model::SubscribeRequest& request, int result);
    std::vector<SubscriptionEntry> List() const;

private:
    struct Entry {
        const com::mivo::zel::model::SubscribeRequest* key;
        SubscriptionEntry shown;
        std::chrono::steady_clock::time_point last_time;
    };

    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

}  // namespace com::mivo::kmr::client
