// What a host program sees: the library's public client, logged in through
// discovery to a zel-sim process (one site, one node, MDStock records).
//
//   throughput  firehose node, plain and LZ4 frames; records counted in
//               OnMarketData, as a ratio to a bare ParseFromArray into one
//               reused record of the same generator's records in this run;
//   latency     50 000 records/s; send stamp to OnMarketData, p50/p99/p99.9;
//   slow        firehose node, a callback that sleeps 1 ms per record:
//               peak resident memory against the site's budget, per-channel
//               order from the node's sequence numbers, link resets.
//
//   host_feed_bench [throughput seconds=5] [latency seconds=5] [slow seconds=30]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <event2/buffer.h>

#include "MarketData.pb.h"
#include "MetaData.pb.h"
#include "pipeline_bench_kit.h"
#include "protocol/frame_cutter.h"
#include "protocol/wire_order.h"
#include "sample_records.h"
#include "sim/sim_feed_cursor.h"
#include "sim/sim_record_factory.h"
#include "sim/sim_record_stamp.h"
#include "zel_gateway_client.h"

using namespace com::mivo::kmr::client;
using namespace com::mivo::kmr::client::pipeline_bench;
using com::mivo::zel::model::MarketData;

namespace {

// A zel-sim child process with one discovery server and one node of site 1.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& feed_args) {
        std::string exe = SimPath();
        int out[2];
        int in[2];
        if (pipe(out) != 0 || pipe(in) != 0) {
            std::perror("pipe");
            std::exit(1);
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(in[0], STDIN_FILENO);
            close(out[0]);
            close(in[1]);
            std::vector<std::string> args = {exe,           "--site",  "1:1", "--account",
                                             "bench:bench", "--stats", "0"};
            args.insert(args.end(), feed_args.begin(), feed_args.end());
            std::vector<char*> argv;
            for (auto& arg : args) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            std::perror("execv zel-sim");
            _exit(127);
        }
        close(out[1]);
        close(in[0]);
        m_stdin = in[1];
        m_stdout = fdopen(out[0], "r");
        char line[512];
        while (std::fgets(line, sizeof(line), m_stdout) != nullptr) {
            unsigned port = 0;
            if (std::sscanf(line, "discovery 127.0.0.1:%u", &port) == 1) {
                m_discovery_port = static_cast<int>(port);
            }
            if (std::strncmp(line, "ready", 5) == 0) {
                break;
            }
        }
        if (m_discovery_port == 0) {
            std::fprintf(stderr, "zel-sim did not start (%s)\n", exe.c_str());
            std::exit(1);
        }
    }

    ~SimProcess() {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        close(m_stdin);
        std::fclose(m_stdout);
    }

    int DiscoveryPort() const { return m_discovery_port; }

private:
    // zel-sim of the same build folder.
    static std::string SimPath() {
        char self[PATH_MAX] = {0};
        ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
        std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("./x");
        dir = dir.substr(0, dir.rfind('/'));
        return dir + "/../sim/zel-sim";
    }

    pid_t m_pid = -1;
    int m_stdin = -1;
    FILE* m_stdout = nullptr;
    int m_discovery_port = 0;
};

// Counts, and optionally samples latency, checks order and sleeps per record.
class BenchHandle : public MessageHandle {
public:
    bool m_latency = false;
    bool m_check_order = false;
    int m_sleep_us = 0;

    void OnMarketData(const MarketData& data) override {
        m_records.fetch_add(1, std::memory_order_relaxed);
        if (m_latency || m_check_order) {
            int64_t sequence = 0;
            int64_t sent = 0;
            if (ReadSendStamp(data, &sequence, &sent)) {
                if (m_latency) {
                    const double us = static_cast<double>(WallNanos() - sent) / 1000.0;
                    m_samples.Add(us);
                    // A frame's records share one stamp: the earliest of them
                    // shows the hand-off alone, without the records before it.
                    std::lock_guard<std::mutex> lock(m_mutex);
                    auto known = m_first_of_frame.emplace(sent, us);
                    if (!known.second && us < known.first->second) {
                        known.first->second = us;
                    }
                }
                if (m_check_order) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    int64_t& last = m_last_sequence[data.zelmessagechannel()];
                    if (sequence != last + 1) {
                        ++m_gaps;
                    }
                    last = sequence;
                }
            }
        }
        if (m_sleep_us > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(m_sleep_us));
        }
    }
    void OnLoginDatafeedNodeSuccess(int, const std::string&) override { m_logins.fetch_add(1); }
    void OnDisconnected(int, const std::string&) override { m_disconnects.fetch_add(1); }

    int64_t Records() const { return m_records.load(std::memory_order_relaxed); }
    std::vector<double> TakeSamples() { return m_samples.Sorted(true); }
    void ClearSamples() {
        (void)m_samples.Sorted(true);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_first_of_frame.clear();
    }
    std::vector<double> TakeFirstOfFrame() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<double> out;
        for (const auto& entry : m_first_of_frame) {
            out.push_back(entry.second);
        }
        m_first_of_frame.clear();
        std::sort(out.begin(), out.end());
        return out;
    }
    int64_t Gaps() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_gaps;
    }
    int Logins() const { return m_logins.load(); }
    int Disconnects() const { return m_disconnects.load(); }

private:
    std::atomic<int64_t> m_records{0};
    std::atomic<int> m_logins{0};
    std::atomic<int> m_disconnects{0};
    std::mutex m_mutex;
    LatencySamples m_samples;
    std::map<int64_t, int64_t> m_last_sequence;
    std::unordered_map<int64_t, double> m_first_of_frame = std::unordered_map<int64_t, double>(1 << 15);
    int64_t m_gaps = 0;
};

// Logs in to the simulated service and subscribes to every MDStock; null on failure.
ClientInterface* Connect(BenchHandle& handle, const SimProcess& sim) {
    ClientConfig::SetUseSSL(false);
    ClientConfig::CloseCoutLog();
    ClientConfig::CloseFileLog();
    ClientInterface* client = ClientFactory::Instance()->CreateClient(&handle);
    if (client == nullptr ||
        client->LoginByServiceDiscovery("bench", "bench", "127.0.0.1", sim.DiscoveryPort(), {}) != 0) {
        std::fprintf(stderr, "login failed\n");
        return nullptr;
    }
    com::mivo::zel::model::SubscribeByDataType request;
    request.add_zeldatatypes(SimDataTypes::kMdStock);
    if (client->SubscribeByDatatype(com::mivo::zel::model::COVERAGE, request) != 0) {
        std::fprintf(stderr, "subscribe failed\n");
        return nullptr;
    }
    return client;
}

double BareDecodeRate(const std::vector<std::string>& records, double seconds) {
    MarketData record;
    int64_t decoded = 0;
    auto start = Clock::now();
    while (Seconds(start) < seconds) {
        for (const auto& bytes : records) {
            if (record.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) {
                ++decoded;
            }
        }
    }
    return static_cast<double>(decoded) / Seconds(start);
}

double Throughput(const char* lz4, double seconds) {
    SimProcess sim({"--rate", "0", "--lz4", lz4});
    BenchHandle handle;
    double rate = 0;
    if (Connect(handle, sim) != nullptr) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const int64_t first = handle.Records();
        auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        rate = static_cast<double>(handle.Records() - first) / Seconds(start);
    }
    ClientFactory::Uninstance();
    return rate;
}

void Latency(double seconds) {
    SimProcess sim({"--rate", "50000", "--tick", "1"});
    BenchHandle handle;
    handle.m_latency = true;
    if (Connect(handle, sim) != nullptr) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        handle.ClearSamples();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
    std::vector<double> samples = handle.TakeSamples();
    std::vector<double> first = handle.TakeFirstOfFrame();
    ClientFactory::Uninstance();
    std::printf(
        "latency at 50000 records/s: %zu records, p50 %.1f us, p99 %.1f us, p99.9 %.1f us, max %.1f us\n",
        samples.size(), Percentile(samples, 50), Percentile(samples, 99), Percentile(samples, 99.9),
        samples.empty() ? 0.0 : samples.back());
    std::printf("  first record of each frame (the hand-off alone): %zu frames, p50 %.1f us, p99 %.1f us\n",
                first.size(), Percentile(first, 50), Percentile(first, 99));
}

void SlowConsumer(double seconds) {
    SimProcess sim({"--rate", "0"});
    BenchHandle handle;
    handle.m_check_order = true;
    handle.m_sleep_us = 1000;
    const double before = ResidentMiB();
    double peak = before;
    if (Connect(handle, sim) != nullptr) {
        auto start = Clock::now();
        while (Seconds(start) < seconds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            peak = std::max(peak, ResidentMiB());
        }
    }
    const int logins = handle.Logins();
    ClientFactory::Uninstance();
    std::printf(
        "slow consumer (1 ms per record, %.0f s): %lld records, peak resident %.0f MiB (%.0f MiB before "
        "login, "
        "budget %u MiB), sequence gaps %lld, datafeed logins %d, disconnects %d\n",
        seconds, static_cast<long long>(handle.Records()), peak, before,
        ClientConfig::GetSiteMemoryBudgetMb(), static_cast<long long>(handle.Gaps()), logins,
        handle.Disconnects());
}

// Each case in a process of its own, so that what one leaves resident does not count in the next.
template <typename Case>
void Isolated(Case run) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        run();
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
    const double throughput_seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const double latency_seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    const double slow_seconds = argc > 3 ? std::atof(argv[3]) : 30.0;
    signal(SIGPIPE, SIG_IGN);
    ClientConfig::CloseCoutLog();
    ClientConfig::CloseFileLog();

    const std::vector<std::string> records = SampleRecords(20000);
    const double bare = BareDecodeRate(records, 2.0);
    std::printf("bare decode, one reused record: %.0f records/s\n", bare);
    if (throughput_seconds > 0) {
        for (const char* lz4 : {"never", "always"}) {
            Isolated([&] {
                const double rate = Throughput(lz4, throughput_seconds);
                // The reference again right after, on the same busy machine.
                const double reference = (bare + BareDecodeRate(records, 1.0)) / 2;
                std::printf("host %-5s %9.0f records/s, ratio to bare decode %.2f\n",
                            lz4[0] == 'n' ? "plain" : "lz4", rate, rate / reference);
            });
        }
    }
    if (latency_seconds > 0) {
        Isolated([&] { Latency(latency_seconds); });
    }
    if (slow_seconds > 0) {
        Isolated([&] { SlowConsumer(slow_seconds); });
    }
    return 0;
}
