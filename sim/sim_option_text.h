#pragma once

#include <string>

#include "sim/sim_faults.h"
#include "sim/sim_options.h"

namespace com::mivo::kmr::client {

// Strict conversions of option and command words: the whole text must be the value.
class SimOptionText {
public:
    static bool ToInt(const std::string& text, long long* value);
    static bool ToDouble(const std::string& text, double* value);
    // Records per second, 0 or more (0: firehose).
    static bool ToRate(const std::string& text, double* value, std::string* error);
    // "never", "always" or "above:BYTES".
    static bool ToCompression(const std::string& text, SimFeedOptions* feed, std::string* error);
    // "oversized", "negative", "garbage", "silence" or "none".
    static bool ToSabotage(const std::string& text, SimSabotage* sabotage);
    // "PORT" or "IP:PORT" (the ip stays as it was when only a port is given).
    static bool ToEndpoint(const std::string& text, SimEndpoint* endpoint);
};

}  // namespace com::mivo::kmr::client
