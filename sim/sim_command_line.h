#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/sim_options.h"

namespace com::mivo::kmr::client {

// Everything zel-sim was asked to run.
struct SimLaunchPlan {
    SimServiceOptions options;
    std::vector<SimDiscoverySpec> discovery;
    std::vector<SimNodeSpec> nodes;
    std::vector<SimAccount> accounts;
    // Control commands (see SimControl) and when to run them, in seconds after start.
    std::vector<std::pair<double, std::string>> schedule;
    std::string make_certs_folder;
    std::string listen_ip = "127.0.0.1";  // of every server given without an ip
    bool all_tls = false;
    double drop_after_seconds = -1;  // <0: no scheduled node drop
    double down_for_seconds = 5;
    std::string drop_node;  // empty: the first node
    int stats_seconds = 10;
    double duration_seconds = 0;  // 0: until "quit", end of input... or a signal
    bool log_requests = false;
    bool help = false;
};

// zel-sim's flags and config file. A config file holds the same options, one per line, without the leading
// dashes ("site 1:2", "lz4=always"); '#' starts a comment. Without servers given, the plan is the demo: one
// discovery server, sites 1 and 2 with two nodes each, account demo/demo.
class SimCommandLine {
public:
    static bool Parse(const std::vector<std::string>& args, SimLaunchPlan* plan, std::string* error);
    static const char* Usage();

private:
    static bool Apply(const std::string& name, const std::string& value, SimLaunchPlan* plan,
                      std::string* error);
    static bool LoadFile(const std::string& path, SimLaunchPlan* plan, std::string* error);
    static bool TakesValue(const std::string& name);
    static void Finish(SimLaunchPlan* plan);
};

}  // namespace com::mivo::kmr::client
