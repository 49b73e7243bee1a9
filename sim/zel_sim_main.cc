// zel-sim: the simulated market data service as a program, for demos and benchmarks.
//
//   zel-sim                                    the demo: one discovery server, sites 1 and 2 with two nodes
//   each zel-sim --discovery 9550 --rate 0 --lz4 always --stats 1 zel-sim --config sim.conf --drop-node-after
//   10 --down-for 5
//
// Prints one line per listener and then "ready"; reads control commands from standard input.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/base_config.h"
#include "sim/sim_certificate_maker.h"
#include "sim/sim_command_line.h"
#include "sim/sim_control.h"
#include "sim/sim_service.h"

using namespace com::mivo::kmr::client;

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop = true;
}

void PrintListeners(SimService& service) {
    for (int i = 0; i < service.DiscoveryCount(); ++i) {
        SimEndpoint endpoint = service.Discovery(i).Endpoint();
        std::printf("discovery %s:%u name=%s tls=%d\n", endpoint.ip.c_str(), endpoint.port,
                    service.Discovery(i).Name().c_str(), endpoint.tls ? 1 : 0);
    }
    for (const SimNodeSpec& node : service.NodeTable()) {
        std::printf("datafeed %s:%u name=%s site=%d priority=%d tls=%d\n", node.endpoint.ip.c_str(),
                    node.endpoint.port, node.name.c_str(), node.site_type, node.priority,
                    node.endpoint.tls ? 1 : 0);
    }
}

// Reads whole lines from standard input without blocking; false once the input is closed.
bool ReadCommands(std::string& pending, std::vector<std::string>* lines, int wait_ms) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, wait_ms) <= 0) {
        return true;
    }
    char chunk[1024];
    ssize_t got = read(STDIN_FILENO, chunk, sizeof(chunk));
    if (got <= 0) {
        return false;
    }
    pending.append(chunk, static_cast<size_t>(got));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        lines->push_back(pending.substr(0, end));
        pending.erase(0, end + 1);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    // The frame codec logs through the library's logger; a server has no use for those files.
    BaseConfig::GetInstance().CloseFileLog();
    BaseConfig::GetInstance().CloseCoutLog();

    SimLaunchPlan plan;
    std::string error;
    if (!SimCommandLine::Parse(std::vector<std::string>(argv + 1, argv + argc), &plan, &error)) {
        std::fprintf(stderr, "zel-sim: %s\n%s", error.c_str(), SimCommandLine::Usage());
        return 2;
    }
    if (plan.help) {
        std::printf("%s", SimCommandLine::Usage());
        return 0;
    }
    if (!plan.make_certs_folder.empty()) {
        if (!SimCertificateMaker::Make(plan.make_certs_folder, &error)) {
            std::fprintf(stderr, "zel-sim: %s\n", error.c_str());
            return 1;
        }
        plan.options.cert_file = SimCertificateMaker::CertFile(plan.make_certs_folder);
        plan.options.key_file = SimCertificateMaker::KeyFile(plan.make_certs_folder);
        std::printf("ca %s\n", SimCertificateMaker::CaFile(plan.make_certs_folder).c_str());
    }

    SimService service(plan.options);
    service.Requests().SetEcho(plan.log_requests);
    for (const SimAccount& account : plan.accounts) {
        service.AddAccount(account);
    }
    for (const SimDiscoverySpec& desc : plan.discovery) {
        service.AddDiscoveryServer(desc);
    }
    for (const SimNodeSpec& desc : plan.nodes) {
        service.AddDatafeedNode(desc);
    }
    if (!service.Start(&error)) {
        std::fprintf(stderr, "zel-sim: %s\n", error.c_str());
        return 1;
    }
    PrintListeners(service);
    std::printf("ready securities=%d streams=%zu rate=%g\n", plan.options.feed.securities,
                service.Universe().Streams().size(), plan.options.feed.records_per_second);

    SimControl control(service);
    auto schedule = plan.schedule;
    std::stable_sort(schedule.begin(), schedule.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    size_t next_scheduled = 0;
    const auto start = std::chrono::steady_clock::now();
    auto next_stats = start + std::chrono::seconds(plan.stats_seconds);
    bool input_open = true;
    std::string pending;
    while (!g_stop) {
        std::vector<std::string> lines;
        if (input_open) {
            input_open = ReadCommands(pending, &lines, 100);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        const auto now = std::chrono::steady_clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        while (next_scheduled < schedule.size() && schedule[next_scheduled].first <= elapsed) {
            lines.push_back(schedule[next_scheduled++].second);
        }
        for (const std::string& line : lines) {
            if (line == "quit" || line == "exit") {
                g_stop = true;
                break;
            }
            std::string reply = control.Execute(line);
            if (!reply.empty()) {
                std::printf("%s\n", reply.c_str());
            }
        }
        if (plan.stats_seconds > 0 && now >= next_stats) {
            std::printf("stats %.0fs\n%s", elapsed, service.CountersText().c_str());
            next_stats = now + std::chrono::seconds(plan.stats_seconds);
        }
        if (plan.duration_seconds > 0 && elapsed >= plan.duration_seconds) {
            break;
        }
    }
    std::printf("final\n%s", service.CountersText().c_str());
    service.Stop();
    return 0;
}
