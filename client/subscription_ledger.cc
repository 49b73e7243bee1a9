#include "client/subscription_ledger.h"

#include <google/protobuf/util/json_util.h>

namespace com::mivo::kmr::client {

void SubscriptionLedger::Sent(const com::mivo::zel::model::SubscribeRequest& request, int result) {
    if (result != 0) {
        return;
    }
    Entry entry;
    entry.key = &request;
    entry.shown.kind = request.has_subscribebyid() ? "security_id" : "data_type";
    entry.shown.action = static_cast<int>(request.subscribeactiontype());
    (void)google::protobuf::util::MessageToJsonString(request, &entry.shown.request);
    entry.shown.sends = 1;
    entry.shown.last_result = result;
    entry.last_time = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back(std::move(entry));
}

void SubscriptionLedger::Replayed(const com::mivo::zel::model::SubscribeRequest& request, int result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Entry& entry : m_entries) {
        if (entry.key == &request) {
            ++entry.shown.sends;
            entry.shown.last_result = result;
            entry.last_time = std::chrono::steady_clock::now();
            return;
        }
    }
}

std::vector<SubscriptionEntry> SubscriptionLedger::List() const {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SubscriptionEntry> list;
    list.reserve(m_entries.size());
    for (const Entry& entry : m_entries) {
        list.push_back(entry.shown);
        list.back().ms_since_last_result =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - entry.last_time).count();
    }
    return list;
}

}  // namespace com::mivo::kmr::client
