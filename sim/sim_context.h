#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/sim_options.h"

namespace com::mivo::kmr::client {

class SimAccountBook;
class SimRequestLog;
class SimTlsContext;
class SimUniverse;

// What every server of one service shares. The service owns all of it and outlives its servers.
struct SimContext {
    SimAccountBook* accounts = nullptr;
    SimRequestLog* requests = nullptr;
    SimTlsContext* tls = nullptr;  // null when no certificate was given
    const SimUniverse* universe = nullptr;
    SimServiceOptions options;
    // The datafeed nodes as discovery publishes them (ports resolved).
    std::function<std::vector<SimNodeSpec>()> node_table;
    std::atomic<uint64_t> next_connection_id{1};
};

}  // namespace com::mivo::kmr::client
