// zel-demo: a host program of the zel gateway client, meant to be copied.
//
// It logs in through the discovery service, subscribes by data type and/or by
// security id, prints every record (or JSON lines), shows a status line on a
// terminal, and on Ctrl-C (or after --duration) prints a summary in which the
// order of every channel is checked against the service's sequence numbers.
//
//   zel-demo --server 127.0.0.1:9550 --user demo --password demo
//            --types 3,9 --ids 3:600000.SH,000001.SZ --no-tls --duration 20
//
// Run with --help for every flag. Exit status 0 when the session worked
// (logged in, subscribed, records received in order), 1 otherwise, 2 for
// bad flags.
#include <google/protobuf/util/json_util.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "zel_gateway_client.h"

using namespace com::mivo::kmr::client;
namespace model = com::mivo::zel::model;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

namespace {

struct Options {
    std::vector<std::string> servers;  // first: main, then backups; each ip:port
    std::string user;
    std::string password;
    std::vector<int> data_types;
    // data type -> security ids
    std::map<int, std::vector<std::string>> ids;
    int tls = -1;  // -1 keep configuration, 0 off, 1 on
    std::string ca_file;
    std::string config_file;
    std::string log_folder;
    bool json = false;
    bool quiet = false;
    int every = 1;
    int duration = 0;
    int min_reconnects = 0;
    int stats_every = 0;
    bool verbose_log = false;
};

void Usage(FILE* out) {
    std::fprintf(
        out,
        "usage: zel-demo --server IP:PORT [--server IP:PORT ...] --user NAME --password TEXT\n"
        "                [--types T1,T2,...] [--ids TYPE:ID1,ID2,...] ...\n"
        "  --server IP:PORT     discovery server; the first is the main one, further ones are backups\n"
        "  --user NAME          user name\n"
        "  --password TEXT      password\n"
        "  --types LIST         subscribe these data types for all securities (comma separated)\n"
        "  --ids TYPE:LIST      subscribe these security ids for one data type (repeatable)\n"
        "  --tls / --no-tls     connect to discovery with TLS or without (default: configuration)\n"
        "  --ca-file PATH       CA certificate file (PEM) that verifies the servers\n"
        "  --config PATH        configuration file (key=value lines)\n"
        "  --log-folder DIR     folder of the library's log file (ending with '/')\n"
        "  --log-console        also print the library's log lines\n"
        "  --json               one JSON line per record\n"
        "  --every N            print one record in N (default 1)\n"
        "  --quiet              print no records, only progress and the summary\n"
        "  --duration SECONDS   stop after that long (default: until Ctrl-C)\n"
        "  --expect-reconnects N  fail unless at least N reconnects happened\n"
        "  --stats-every N      print the per-site statistics every N seconds (default 0: only the\n"
        "                       status line on a terminal and the summary)\n"
        "  --help               print this text and exit (also -h)\n");
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, sep)) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

bool ParseInt(const std::string& text, int* value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || parsed < -2147483647L || parsed > 2147483647L) {
        return false;
    }
    *value = static_cast<int>(parsed);
    return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zel-demo: %s needs a value\n", flag.c_str());
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string text;
        if (flag == "--help" || flag == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (flag == "--server") {
            if (!value(&text)) {
                return false;
            }
            options->servers.push_back(text);
        } else if (flag == "--user") {
            if (!value(&options->user)) {
                return false;
            }
        } else if (flag == "--password") {
            if (!value(&options->password)) {
                return false;
            }
        } else if (flag == "--types") {
            if (!value(&text)) {
                return false;
            }
            for (const auto& part : Split(text, ',')) {
                int type = 0;
                if (!ParseInt(part, &type)) {
                    std::fprintf(stderr, "zel-demo: bad data type '%s'\n", part.c_str());
                    return false;
                }
                options->data_types.push_back(type);
            }
        } else if (flag == "--ids") {
            if (!value(&text)) {
                return false;
            }
            const auto colon = text.find(':');
            int type = 0;
            if (colon == std::string::npos || !ParseInt(text.substr(0, colon), &type)) {
                std::fprintf(stderr, "zel-demo: --ids wants TYPE:ID1,ID2,... (got '%s')\n", text.c_str());
                return false;
            }
            for (const auto& id : Split(text.substr(colon + 1), ',')) {
                options->ids[type].push_back(id);
            }
        } else if (flag == "--tls") {
            options->tls = 1;
        } else if (flag == "--no-tls") {
            options->tls = 0;
        } else if (flag == "--ca-file") {
            if (!value(&options->ca_file)) {
                return false;
            }
        } else if (flag == "--config") {
            if (!value(&options->config_file)) {
                return false;
            }
        } else if (flag == "--log-folder") {
            if (!value(&options->log_folder)) {
                return false;
            }
        } else if (flag == "--log-console") {
            options->verbose_log = true;
        } else if (flag == "--json") {
            options->json = true;
        } else if (flag == "--quiet") {
            options->quiet = true;
        } else if (flag == "--every" || flag == "--duration" || flag == "--expect-reconnects" ||
                   flag == "--stats-every") {
            int number = 0;
            if (!value(&text) || !ParseInt(text, &number) || number < 0) {
                std::fprintf(stderr, "zel-demo: %s wants a number >= 0\n", flag.c_str());
                return false;
            }
            if (flag == "--every") {
                options->every = number > 0 ? number : 1;
            } else if (flag == "--duration") {
                options->duration = number;
            } else if (flag == "--stats-every") {
                options->stats_every = number;
            } else {
                options->min_reconnects = number;
            }
        } else {
            std::fprintf(stderr, "zel-demo: unknown flag %s\n", flag.c_str());
            return false;
        }
    }
    if (options->servers.empty() || options->user.empty() || options->password.empty()) {
        std::fprintf(stderr, "zel-demo: --server, --user and --password are required\n");
        return false;
    }
    if (options->data_types.empty() && options->ids.empty()) {
        std::fprintf(stderr, "zel-demo: nothing to subscribe: give --types and/or --ids\n");
        return false;
    }
    return true;
}

// What the demo reads from a record, whatever its kind.
struct RecordView {
    std::string kind;  // "ZELStock", "MDTrade", ...
    std::string security;
    int64_t channel = 0;
    bool has_price = false;
    double price = 0;
    bool has_sequence = false;
    int64_t sequence = 0;
};

const FieldDescriptor* FindField(const Message& message, const char* name) {
    return message.GetDescriptor()->FindFieldByName(name);
}

bool ReadNumber(const Message& message, const FieldDescriptor* field, double* value) {
    if (field == nullptr || field->is_repeated()) {
        return false;
    }
    const Reflection* reflection = message.GetReflection();
    switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_INT64:
            *value = static_cast<double>(reflection->GetInt64(message, field));
            return true;
        case FieldDescriptor::CPPTYPE_INT32:
            *value = reflection->GetInt32(message, field);
            return true;
        case FieldDescriptor::CPPTYPE_DOUBLE:
            *value = reflection->GetDouble(message, field);
            return true;
        default:
            return false;
    }
}

RecordView Inspect(const model::MarketData& data) {
    RecordView view;
    view.channel = data.zelmessagechannel();
    const Reflection* envelope = data.GetReflection();
    std::vector<const FieldDescriptor*> set_fields;
    envelope->ListFields(data, &set_fields);
    const Message* record = nullptr;
    for (const FieldDescriptor* field : set_fields) {
        if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
            record = &envelope->GetMessage(data, field);
            view.kind = field->name();
            break;
        }
    }
    if (record == nullptr) {
        view.kind = "empty";
        return view;
    }
    const Reflection* reflection = record->GetReflection();
    for (const char* name : {"ZELSecurityID", "SecurityID"}) {
        const FieldDescriptor* field = FindField(*record, name);
        if (field != nullptr && !reflection->GetString(*record, field).empty()) {
            view.security = reflection->GetString(*record, field);
            break;
        }
    }
    // The price a reader looks at first, by record kind.
    for (const char* name : {"LastPx", "TradePrice", "OrderPrice", "ClosePx", "IOPV"}) {
        const FieldDescriptor* field = FindField(*record, name);
        if (field != nullptr && ReadNumber(*record, field, &view.price)) {
            view.has_price = true;
            // Integer prices are scaled by the service; undo it for display.
            const FieldDescriptor* power = FindField(*record, "DataMultiplePowerOf10");
            double exponent = 0;
            if (field->cpp_type() != FieldDescriptor::CPPTYPE_DOUBLE &&
                ReadNumber(*record, power, &exponent)) {
                view.price /= std::pow(10.0, exponent);
            }
            break;
        }
    }
    // The simulated service numbers the records of each channel on each
    // connection 1, 2, 3, ... and writes the number into a field that its
    // records leave unused; a real service leaves these fields to their
    // meaning, and the order check below then finds nothing to check.
    const char* sequence_field = "HighPrecisionTimestamp4";
    if (view.kind.find("Warrant") != std::string::npos) {
        sequence_field = "OtcNumTrades";
    } else if (view.kind.find("KLine") != std::string::npos) {
        sequence_field = "NumTrades";
    } else if (view.kind.find("Trade") != std::string::npos ||
               (view.kind.find("Order") != std::string::npos &&
                view.kind.find("Orderbook") == std::string::npos)) {
        sequence_field = "ApplSeqNum";
    }
    double sequence = 0;
    if (ReadNumber(*record, FindField(*record, sequence_field), &sequence) && sequence > 0) {
        view.has_sequence = true;
        view.sequence = static_cast<int64_t>(sequence);
    }
    return view;
}

// The records of one channel. Every site's connection numbers its records
// of the channel on its own (and a new connection after a reconnect starts
// again at 1), so the channel carries several numbered runs at once; each
// record must continue one of them, or start a new one at 1.
struct ChannelState {
    std::vector<int64_t> run_tails;
    uint64_t records = 0;
    uint64_t out_of_order = 0;
    uint64_t gaps = 0;
    uint64_t missing = 0;

    void Add(int64_t sequence) {
        int64_t* best_below = nullptr;
        for (int64_t& tail : run_tails) {
            if (tail == sequence - 1) {
                tail = sequence;
                return;
            }
            if (tail < sequence - 1 && (best_below == nullptr || tail > *best_below)) {
                best_below = &tail;
            }
        }
        if (sequence == 1) {
            run_tails.push_back(1);
        } else if (best_below != nullptr) {
            ++gaps;
            missing += static_cast<uint64_t>(sequence - *best_below - 1);
            *best_below = sequence;
        } else {
            ++out_of_order;
        }
    }
};

class DemoHandle : public MessageHandle {
public:
    explicit DemoHandle(const Options& options) : m_options(options) {}

    void OnLoginDiscoverySuccess(const std::string& server_ip, std::vector<int> site_types) override {
        std::string sites;
        for (int site : site_types) {
            sites += (sites.empty() ? "" : ",") + std::to_string(site);
        }
        Progress("discovery login accepted by %s, sites [%s]", server_ip.c_str(), sites.c_str());
    }
    void OnLoginDiscoveryFailed(const std::string& server_ip) override {
        Progress("discovery login failed at %s", server_ip.c_str());
    }
    void OnNoDiscoveryServices() override { Progress("no discovery server accepted the login"); }
    void OnLoginDatafeedNodeSuccess(int site_type, const std::string& node) override {
        bool again;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            again = !m_logged_in_sites.insert(site_type).second;
        }
        if (again) {
            const int reconnects = ++m_reconnects;
            Progress("site %d: logged in again at node %s (reconnect %d)", site_type, node.c_str(),
                     reconnects);
        } else {
            Progress("site %d: logged in at node %s", site_type, node.c_str());
        }
    }
    void OnLoginDatafeedNodeFailed(int site_type, const std::string& node) override {
        Progress("site %d: node %s refused the login", site_type, node.c_str());
    }
    void OnLoginDataServiceSuccess() override { Progress("every site is logged in"); }
    void OnLoginDataServiceFailed() override { Progress("datafeed login attempt failed"); }
    void OnDisconnected(int site_type, const std::string& node) override {
        ++m_disconnects;
        Progress("site %d: connection to %s lost", site_type, node.c_str());
    }
    void OnSubscribeResponse(const model::SubscribeResponse& response) override {
        ++m_subscribe_answers;
        Progress("subscription %s", response.issuccess() ? "accepted" : "refused");
    }

    void OnMarketData(const model::MarketData& data) override {
        const RecordView view = Inspect(data);
        const uint64_t count = ++m_records;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_per_kind[view.kind];
            ChannelState& channel = m_channels[view.channel];
            ++channel.records;
            if (view.has_sequence) {
                channel.Add(view.sequence);
                ++m_numbered;
            } else {
                ++m_unnumbered;
            }
        }
        if (m_options.quiet || (count - 1) % static_cast<uint64_t>(m_options.every) != 0) {
            return;
        }
        if (m_options.json) {
            std::string json;
            (void)google::protobuf::util::MessageToJsonString(data, &json);
            Print("%s\n", json.c_str());
        } else if (view.has_price) {
            Print("%-12s %-14s channel %-4lld price %.4f\n", view.kind.c_str(), view.security.c_str(),
                  static_cast<long long>(view.channel), view.price);
        } else {
            Print("%-12s %-14s channel %-4lld\n", view.kind.c_str(), view.security.c_str(),
                  static_cast<long long>(view.channel));
        }
    }

    uint64_t Records() const { return m_records.load(); }
    int Reconnects() const { return m_reconnects.load(); }
    int Disconnects() const { return m_disconnects.load(); }
    int SubscribeAnswers() const { return m_subscribe_answers.load(); }

    // Prints the summary; true when every numbered channel kept its order.
    bool Summary(double seconds) {
        std::lock_guard<std::mutex> lock(m_mutex);
        uint64_t out_of_order = 0;
        uint64_t gaps = 0;
        uint64_t missing = 0;
        uint64_t runs = 0;
        for (const auto& entry : m_channels) {
            out_of_order += entry.second.out_of_order;
            gaps += entry.second.gaps;
            missing += entry.second.missing;
            runs += entry.second.run_tails.size();
        }
        std::printf("\n=== zel-demo summary ===\n");
        std::printf("records received      : %llu in %.1f s (%.0f/s)\n",
                    static_cast<unsigned long long>(m_records.load()), seconds,
                    seconds > 0 ? static_cast<double>(m_records.load()) / seconds : 0.0);
        for (const auto& entry : m_per_kind) {
            std::printf("  %-20s: %llu\n", entry.first.c_str(),
                        static_cast<unsigned long long>(entry.second));
        }
        std::printf("channels              : %zu, %llu numbered runs (one per channel and connection)\n",
                    m_channels.size(), static_cast<unsigned long long>(runs));
        std::printf("per-channel order     : %s (%llu numbered records checked, %llu out of order)\n",
                    m_numbered == 0 ? "NOT CHECKED" : (out_of_order == 0 ? "verified" : "BROKEN"),
                    static_cast<unsigned long long>(m_numbered),
                    static_cast<unsigned long long>(out_of_order));
        std::printf("gaps across reconnect : %llu gaps, %llu records not received\n",
                    static_cast<unsigned long long>(gaps), static_cast<unsigned long long>(missing));
        std::printf("disconnects           : %d\n", m_disconnects.load());
        std::printf("reconnects            : %d\n", m_reconnects.load());
        return out_of_order == 0;
    }

private:
    void Progress(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof(text), format, args);
        va_end(args);
        Print("[zel-demo] %s\n", text);
    }

    void Print(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        std::lock_guard<std::mutex> lock(m_print_mutex);
        if (m_status_shown) {
            std::fputs("\r\033[K", stdout);
            m_status_shown = false;
        }
        va_list args;
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
    }

public:
    void Status(const std::string& line) {
        std::lock_guard<std::mutex> lock(m_print_mutex);
        std::printf("\r\033[K%s", line.c_str());
        std::fflush(stdout);
        m_status_shown = true;
    }

    std::map<std::string, uint64_t> KindCounts() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_per_kind;
    }

private:
    const Options& m_options;
    std::atomic<uint64_t> m_records{0};
    std::atomic<int> m_reconnects{0};
    std::atomic<int> m_disconnects{0};
    std::atomic<int> m_subscribe_answers{0};
    std::mutex m_mutex;
    std::map<std::string, uint64_t> m_per_kind;
    std::map<int64_t, ChannelState> m_channels;
    std::set<int> m_logged_in_sites;
    uint64_t m_unnumbered = 0;
    uint64_t m_numbered = 0;
    std::mutex m_print_mutex;
    bool m_status_shown = false;
};

std::atomic<bool> g_interrupted{false};

// "site 1 up 127.0.0.1:9001 1234 rec" for each site, from the library's own
// statistics.
std::string SiteStatus(const ClientStatistics& statistics) {
    std::string line;
    for (const SiteStatistics& site : statistics.sites) {
        line += "| site " + std::to_string(site.site_type) + " " + site.link_state + " " + site.node + " " +
                std::to_string(site.records) + " rec  ";
    }
    return line;
}

void PrintSiteSummary(const ClientStatistics& statistics) {
    for (const SiteStatistics& s : statistics.sites) {
        std::printf("site %-3d %-10s: node %s, %llu logins, %llu reconnects\n", s.site_type,
                    s.link_state.c_str(), s.node.empty() ? "-" : s.node.c_str(),
                    static_cast<unsigned long long>(s.logins), static_cast<unsigned long long>(s.reconnects));
        std::printf(
            "  frames %llu, wire bytes %llu, decompressed bytes %llu, records %llu, decode errors %llu\n",
            static_cast<unsigned long long>(s.frames), static_cast<unsigned long long>(s.wire_bytes),
            static_cast<unsigned long long>(s.decompressed_bytes), static_cast<unsigned long long>(s.records),
            static_cast<unsigned long long>(s.decode_errors));
        std::printf(
            "  queued records %lld, held bytes %lld, stalls %llu, last frame %lld ms ago, "
            "last heartbeat answer %lld ms ago\n",
            static_cast<long long>(s.queued_records), static_cast<long long>(s.held_bytes),
            static_cast<unsigned long long>(s.stalls), static_cast<long long>(s.ms_since_last_frame),
            static_cast<long long>(s.ms_since_last_heartbeat_answer));
    }
}

void OnSignal(int) {
    g_interrupted = true;
}

int Subscribe(ClientInterface* client, const Options& options) {
    int failures = 0;
    if (!options.data_types.empty()) {
        model::SubscribeByDataType request;
        for (int type : options.data_types) {
            request.add_zeldatatypes(type);
        }
        const int ret = client->SubscribeByDatatype(model::COVERAGE, request);
        std::printf("[zel-demo] subscribe by data type: %s (%d)\n", ret == 0 ? "ok" : "failed", ret);
        failures += ret != 0;
    }
    for (const auto& entry : options.ids) {
        model::SubscribeById request;
        auto* detail = request.add_subscribebyiddetails();
        detail->set_zeldatatype(entry.first);
        for (const auto& id : entry.second) {
            detail->add_mivosecurityid(id);
        }
        // ADD keeps what was subscribed before.
        const int ret = client->SubscribeById(model::ADD, request);
        std::printf("[zel-demo] subscribe %zu ids of data type %d: %s (%d)\n", entry.second.size(),
                    entry.first, ret == 0 ? "ok" : "failed", ret);
        failures += ret != 0;
    }
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        Usage(stderr);
        return 2;
    }

    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    // A node that goes away mid-write must cost a connection, not the process.
    signal(SIGPIPE, SIG_IGN);
    // Progress shows up at once also when the output goes to a file or pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    ClientFactory* factory = ClientFactory::Instance();
    // A file first: reading one resets every setting made before it.
    if (!options.config_file.empty()) {
        factory->SetConfig(options.config_file.c_str());
        std::vector<std::string> problems;
        if (!ClientFactory::IsConfigClean(&problems)) {
            for (const auto& problem : problems) {
                std::fprintf(stderr, "zel-demo: configuration: %s\n", problem.c_str());
            }
        }
    }
    if (options.tls >= 0) {
        ClientConfig::SetUseSSL(options.tls == 1);
    }
    if (!options.ca_file.empty()) {
        ClientConfig::SetSSLCertfolder(options.ca_file);
    }
    if (!options.log_folder.empty()) {
        ClientConfig::SetLogFileOutFolder(options.log_folder);
    }
    if (options.verbose_log) {
        ClientConfig::OpenCoutLog();
    }

    DemoHandle handle(options);
    ClientInterface* client = factory->CreateClient(&handle);
    if (client == nullptr) {
        std::fprintf(stderr, "zel-demo: no client (TLS set-up failed? see the log file)\n");
        ClientFactory::Uninstance();
        return 1;
    }

    std::vector<std::string> backups(options.servers.begin() + 1, options.servers.end());
    int ret;
    try {
        const auto main_server = Split(options.servers.front(), ':');
        int port = 0;
        if (main_server.size() != 2 || !ParseInt(main_server[1], &port)) {
            std::fprintf(stderr, "zel-demo: --server wants IP:PORT (got '%s')\n",
                         options.servers.front().c_str());
            ClientFactory::Uninstance();
            return 2;
        }
        std::printf("[zel-demo] logging in as %s at %s ...\n", options.user.c_str(),
                    options.servers.front().c_str());
        ret = client->LoginByServiceDiscovery(options.user, options.password, main_server[0], port, backups);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zel-demo: bad backup server: %s\n", error.what());
        ClientFactory::Uninstance();
        return 2;
    }
    if (ret != 0) {
        std::fprintf(stderr, "zel-demo: login failed (%d)\n", ret);
        ClientFactory::Uninstance();
        return 1;
    }
    std::printf("[zel-demo] logged in\n");
    const int subscribe_failures = Subscribe(client, options);

    const bool terminal = isatty(STDOUT_FILENO) == 1;
    const auto start = std::chrono::steady_clock::now();
    auto last_status = start;
    auto last_stats = start;
    std::map<std::string, uint64_t> last_counts;
    while (!g_interrupted) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto now = std::chrono::steady_clock::now();
        if (options.duration > 0 && now - start >= std::chrono::seconds(options.duration)) {
            break;
        }
        if (terminal && now - last_status >= std::chrono::seconds(1)) {
            const double elapsed = std::chrono::duration<double>(now - last_status).count();
            std::string line;
            auto counts = handle.KindCounts();
            for (const auto& entry : counts) {
                const double rate = static_cast<double>(entry.second - last_counts[entry.first]) / elapsed;
                line += entry.first + " " + std::to_string(static_cast<long long>(rate)) + "/s  ";
            }
            line += SiteStatus(ClientFactory::GetStatistics());
            handle.Status(line);
            last_counts = counts;
            last_status = now;
        }
        if (options.stats_every > 0 && now - last_stats >= std::chrono::seconds(options.stats_every)) {
            std::printf("[zel-demo] statistics %s\n", ClientFactory::GetStatisticsJson().c_str());
            last_stats = now;
        }
    }
    // Taken before the client goes: afterwards there is nothing to report.
    const ClientStatistics statistics = ClientFactory::GetStatistics();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("\n[zel-demo] %s, logging out\n", g_interrupted ? "interrupted" : "time is up");
    ClientFactory::Uninstance();

    const bool in_order = handle.Summary(seconds);
    PrintSiteSummary(statistics);
    bool ok = in_order && subscribe_failures == 0 && handle.Records() > 0;
    if (handle.Reconnects() < options.min_reconnects) {
        std::printf("expected at least %d reconnects, saw %d\n", options.min_reconnects, handle.Reconnects());
        ok = false;
    }
    std::printf("result                : %s\n", ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}
