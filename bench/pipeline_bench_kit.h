#pragma once

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "SysSubscribe.pb.h"
#include "client/message_handle.h"
#include "client/node_map.h"
#include "pipeline/pipeline_tuning.h"
#include "pipeline/site_counters.h"
#include "sim/sim_data_types.h"
#include "sim/sim_service.h"

namespace com::mivo::kmr::client::pipeline_bench {

using Clock = std::chrono::steady_clock;
constexpr const char* kUser = "bench-user";

inline double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

inline double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

inline double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// A service with one node per site (site types 1..sites) and the bench account.
inline std::unique_ptr<SimService> StartSim(const SimFeedOptions& feed, int sites) {
    SimServiceOptions options;
    options.feed = feed;
    auto service = std::make_unique<SimService>(options);
    service->AddAccount({kUser, "bench-secret", {}});
    for (int site = 1; site <= sites; ++site) {
        service->AddDatafeedNode({"", site, 9, SimEndpoint()});
    }
    std::string error;
    if (!service->Start(&error)) {
        std::fprintf(stderr, "simulated service: %s\n", error.c_str());
        std::exit(1);
    }
    return service;
}

inline DatafeedNodeMap Table(SimService& service) {
    DatafeedNodeMap table;
    for (auto& node : service.NodeTable()) {
        table[node.site_type].emplace(node.priority, ServerHost(node.endpoint.ip, node.endpoint.port, false));
    }
    return table;
}

inline com::mivo::zel::model::SubscribeRequest MdStockRequest() {
    com::mivo::zel::model::SubscribeRequest request;
    request.set_subscribeactiontype(com::mivo::zel::model::COVERAGE);
    request.mutable_subscribebydatatype()->add_zeldatatypes(SimDataTypes::kMdStock);
    return request;
}

// The ways an idle pipeline thread can wait, compared in one run.
struct IdleWaitCase {
    PipelineTuning::IdleWait wait;
    const char* name;
};
inline std::vector<IdleWaitCase> IdleWaitCases() {
    return {{PipelineTuning::IdleWait::kPoll, "polling (design)"},
            {PipelineTuning::IdleWait::kPollThenPark, "poll, then park"},
            {PipelineTuning::IdleWait::kSignalled, "signalled waits"}};
}

// Wake-ups of waiting pipeline threads, per frame and per batch handed to a callback thread.
struct WakeFigures {
    double decompress_per_frame = 0;
    double callback_per_batch = 0;
    double records_per_batch = 0;
};
inline WakeFigures Wakes(const SiteCounters& counters) {
    WakeFigures figures;
    const auto frames = static_cast<double>(counters.frames.load());
    const auto batches = static_cast<double>(counters.handed_batches.load());
    if (frames > 0) {
        figures.decompress_per_frame = static_cast<double>(counters.decompress_wakeups.load()) / frames;
    }
    if (batches > 0) {
        figures.callback_per_batch = static_cast<double>(counters.callback_wakeups.load()) / batches;
        figures.records_per_batch = static_cast<double>(counters.records.load()) / batches;
    }
    return figures;
}

// Percentile of sorted samples.
inline double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) {
        return 0;
    }
    size_t index = static_cast<size_t>(p / 100.0 * static_cast<double>(sorted.size() - 1));
    return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace com::mivo::kmr::client::pipeline_bench
