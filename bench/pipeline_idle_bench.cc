// Cost of an idle client: a DatafeedClient logged in to two sites with the
// default configuration (5 callback threads per site) and no data flowing.
// Prints the processor time it uses (percent of one core) and its resident
// memory after Start, for each way an idle pipeline thread can wait.
// The simulated service runs in a child process so that neither figure
// includes it.
//
//   pipeline_idle_bench [seconds measured per case, default 5]
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "client/datafeed_client.h"
#include "common/base_config.h"
#include "pipeline/pipeline_tuning.h"
#include "pipeline_bench_kit.h"
#include "support/thread_count.h"

using namespace com::mivo::kmr::client;
using namespace com::mivo::kmr::client::pipeline_bench;

namespace {

struct SiteInfo {
    uint16_t ports[2];
    char token[64];
};

// Child: serves two sites until the parent closes its end of the pipe.
[[noreturn]] void ServeSites(int to_parent, int from_parent) {
    SimFeedOptions feed;
    auto service = StartSim(feed, 2);
    SiteInfo info{};
    auto table = service->NodeTable();
    for (int i = 0; i < 2; ++i) {
        info.ports[i] = table[i].endpoint.port;
    }
    std::string token = service->Accounts().IssueToken(kUser);
    std::snprintf(info.token, sizeof(info.token), "%s", token.c_str());
    if (write(to_parent, &info, sizeof(info)) != sizeof(info)) {
        std::_Exit(1);
    }
    char byte;
    while (read(from_parent, &byte, 1) > 0) {
    }
    service->Stop();
    std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) {
        return 1;
    }
    pid_t child = fork();
    if (child == 0) {
        close(up[0]);
        close(down[1]);
        ServeSites(up[1], down[0]);
    }
    close(up[1]);
    close(down[0]);
    SiteInfo info{};
    if (read(up[0], &info, sizeof(info)) != sizeof(info)) {
        std::fprintf(stderr, "simulated service did not start\n");
        return 1;
    }
    BaseConfig::GetInstance().CloseFileLog();
    BaseConfig::GetInstance().CloseCoutLog();
    // Real pauses: a shortened heartbeat would wake each connection twenty
    // times a second and show a cost no host pays. Start's 5-second pause
    // makes each case take that much longer.
    DatafeedNodeMap table;
    for (int site = 1; site <= 2; ++site) {
        table[site].emplace(9, ServerHost("127.0.0.1", info.ports[site - 1], false));
    }
    const double base_rss = ResidentMiB();
    std::printf("idle client, two sites logged in, %u callback threads per site, idle sleep %lld us\n",
                BaseConfig::GetInstance().GetHandleThreadNum(),
                static_cast<long long>(BaseConfig::GetInstance().GetThreadIdleSleepTime().count()));
    std::printf("%-28s %8s %12s %16s %16s\n", "pipeline", "threads", "cpu % core", "RSS MiB (Start)",
                "RSS MiB (before)");
    for (const IdleWaitCase& idle : IdleWaitCases()) {
        PipelineTuning::SetIdleWait(idle.wait);
        MessageHandle handle;
        DatafeedClient client(&handle);
        client.Init(kUser, info.token, table);
        client.Start();
        const double rss = ResidentMiB();
        if (client.TryLoginDatafeed() != 0) {
            std::fprintf(stderr, "login failed\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const double cpu_before = ProcessCpuSeconds();
        auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const double cpu = (ProcessCpuSeconds() - cpu_before) / Seconds(start) * 100.0;
        std::printf("%-28s %8d %12.2f %16.1f %16.1f\n", idle.name, testing::ThreadCount(), cpu, rss,
                    base_rss);
    }
    close(down[1]);
    waitpid(child, nullptr, 0);
    return 0;
}
