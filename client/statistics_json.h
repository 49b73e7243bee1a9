#pragma once

#include <string>

#include "client/client_statistics.h"
#include "client/subscription_list.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// One-line JSON texts of the snapshots, for logs and for the Python module.
class ZEL_API StatisticsJson {
public:
    // {"has_client":true,"sites":[{"site_type":1,"node":"127.0.0.1:9001",...}]}
    static std::string Render(const ClientStatistics& statistics);
    // {"has_client":true,"subscriptions":[{"kind":"data_type","action":1,
    //  "request":{...},"sends":1,"last_result":0,"ms_since_last_result":12}]}
    static std::string Render(const SubscriptionList& list);
    // The text as a JSON string literal, quotes included.
    static std::string Quote(const std::string& text);

    StatisticsJson() = delete;
};

}  // namespace com::mivo::kmr::client
