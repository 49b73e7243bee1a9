#pragma once

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MarketData.pb.h"
#include "SysSubscribe.pb.h"
#include "client/message_handle.h"
#include "client/node_map.h"
#include "pipeline/pipeline_tuning.h"
#include "pipeline/site_counters.h"
#include "sim/sim_data_types.h"
#include "sim/sim_record_stamp.h"
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

inline int64_t WallNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The node's sequence number and send stamp of a record; MDStock, what the
// benchmarks subscribe to, without reflection, since this runs inside the
// measured callbacks and delays the records behind it.
inline bool ReadSendStamp(const com::mivo::zel::model::MarketData& data, int64_t* sequence, int64_t* sent) {
    if (data.has_mdstock()) {
        *sequence = data.mdstock().highprecisiontimestamp4();
        *sent = data.mdstock().highprecisiontimestamp1();
        return *sequence > 0;
    }
    return SimRecordStamp::Read(data, sequence, sent);
}

// Latency samples from several callback threads, each into a list of its
// own, so that measuring does not make the callback threads wait for each other.
class LatencySamples {
public:
    void Add(double us) {
        thread_local Slot* t_slot = nullptr;
        thread_local uint64_t t_owner = 0;
        if (t_owner != m_id) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_slots.push_back(std::make_unique<Slot>());
            // Growing the list inside a callback would stall it and show in the tail.
            m_slots.back()->samples.reserve(size_t{1} << 17);
            t_slot = m_slots.back().get();
            t_owner = m_id;
        }
        std::lock_guard<std::mutex> lock(t_slot->mutex);
        t_slot->samples.push_back(us);
    }
    // Every sample so far, sorted; clears them when take is set.
    std::vector<double> Sorted(bool take = false) {
        std::vector<double> out;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& slot : m_slots) {
            std::lock_guard<std::mutex> slot_lock(slot->mutex);
            out.insert(out.end(), slot->samples.begin(), slot->samples.end());
            if (take) {
                slot->samples.clear();
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    struct Slot {
        std::mutex mutex;
        std::vector<double> samples;
    };
    static uint64_t NextId() {
        static std::atomic<uint64_t> s_next{1};
        return s_next.fetch_add(1);
    }
    const uint64_t m_id = NextId();
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Slot>> m_slots;
};

// Percentile of sorted samples.
inline double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) {
        return 0;
    }
    size_t index = static_cast<size_t>(p / 100.0 * static_cast<double>(sorted.size() - 1));
    return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace com::mivo::kmr::client::pipeline_bench
