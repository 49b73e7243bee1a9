#include "sim/sim_command_line.h"

#include <fstream>
#include <map>
#include <sstream>

#include "sim/sim_option_text.h"

namespace com::mivo::kmr::client {

namespace {

// Parts of "a:b:c".
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

bool Int(const std::string& text, long long low, long long high, long long* value) {
    return SimOptionText::ToInt(text, value) && *value >= low && *value <= high;
}

}  // namespace

const char* SimCommandLine::Usage() {
    return "usage: zel-sim [options]\n"
           "  --config FILE              options from FILE, one per line without dashes ('site 1:2')\n"
           "  --ip IP                    listen address of every server (default 127.0.0.1)\n"
           "  --discovery [IP:]PORT      a discovery server (repeatable; default one on a free port)\n"
           "  --site TYPE[:N[:PORT]]     N nodes (default 2) of site TYPE, priorities 9, 8, ...; ports from "
           "PORT\n"
           "  --node TYPE:PRIORITY[:PORT[:tls]]  one datafeed node\n"
           "                             (no --site/--node: sites 1 and 2 with two nodes each)\n"
           "  --account USER:PASSWORD    (repeatable; default demo:demo)\n"
           "  --tls                      every listener speaks TLS\n"
           "  --cert FILE --key FILE     server certificate chain and key (PEM)\n"
           "  --make-certs FOLDER        make a throwaway CA (FOLDER/ca.pem) and server certificate, and use "
           "them\n"
           "  --securities N --channels N --seed N   the synthetic market (3000, 16, 20261209)\n"
           "  --rate R                   records per second per subscribed connection; 0 = firehose (1000)\n"
           "  --tick MS                  a rate-driven connection sends what is due every MS ms (1)\n"
           "  --batch N --batch-bytes N  records and bytes per frame at most (64, 60000)\n"
           "  --lz4 MODE                 compression of push frames: never, always or above:N (never)\n"
           "  --max-records N            stop pushing after N records per connection (0 = never)\n"
           "  --reuse N                  restamp a rendered record N times before re-rendering (32)\n"
           "  --idle-ms N                close datafeed connections silent for N ms (90000)\n"
           "  --at SECONDS:COMMAND       run a control command at that time (repeatable)\n"
           "  --drop-node-after S        take a node down after S seconds ...\n"
           "  --down-for S               ... and back up S seconds later (5)\n"
           "  --drop-node NAME           the node to drop (default the first one)\n"
           "  --stats SECONDS            print counters every SECONDS (10; 0 = only at exit)\n"
           "  --duration SECONDS         exit after SECONDS (default: on 'quit' or SIGINT/SIGTERM)\n"
           "  --log-requests             print every request received to standard error\n"
           "  --help                     print this text and exit\n"
           "Prints one line per listener ('discovery IP:PORT name=... tls=0',\n"
           "'datafeed IP:PORT name=... site=T priority=P tls=0'), then 'ready'. Reads control commands\n"
           "from standard input ('help' lists them), e.g. 'down site1-node0', 'up site1-node0'.\n";
}

bool SimCommandLine::TakesValue(const std::string& name) {
    return name != "tls" && name != "log-requests" && name != "help";
}

bool SimCommandLine::Parse(const std::vector<std::string>& args, SimLaunchPlan* plan, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name.compare(0, 2, "--") != 0) {
            *error = "unexpected argument: " + name;
            return false;
        }
        name = name.substr(2);
        std::string value;
        size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        } else if (TakesValue(name)) {
            if (i + 1 >= args.size()) {
                *error = "--" + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!Apply(name, value, plan, error)) {
            return false;
        }
    }
    Finish(plan);
    return true;
}

bool SimCommandLine::LoadFile(const std::string& path, SimLaunchPlan* plan, std::string* error) {
    std::ifstream file(path);
    if (!file) {
        *error = "cannot read config file " + path;
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        line = line.substr(0, line.find('#'));
        size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos) {
            continue;
        }
        line = line.substr(start, line.find_last_not_of(" \t\r") - start + 1);
        size_t cut = line.find_first_of(" \t=");
        std::string name = line.substr(0, cut);
        std::string value;
        if (cut != std::string::npos) {
            size_t from = line.find_first_not_of(" \t=", cut);
            value = from == std::string::npos ? "" : line.substr(from);
        }
        if (!Apply(name, value, plan, error)) {
            *error = path + ":" + std::to_string(number) + ": " + *error;
            return false;
        }
    }
    return true;
}

bool SimCommandLine::Apply(const std::string& name, const std::string& value, SimLaunchPlan* plan,
                           std::string* error) {
    SimFeedOptions& feed = plan->options.feed;
    long long number = 0;
    auto bad = [&](const char* what) {
        *error = "--" + name + " " + value + ": " + what;
        return false;
    };
    if (name == "config") {
        return LoadFile(value, plan, error);
    }
    if (name == "help") {
        plan->help = true;
    } else if (name == "tls") {
        plan->all_tls = true;
    } else if (name == "log-requests") {
        plan->log_requests = true;
    } else if (name == "ip") {
        SimEndpoint probe;
        if (!SimOptionText::ToEndpoint(value + ":0", &probe)) {
            return bad("not an IPv4 address");
        }
        plan->listen_ip = value;
    } else if (name == "discovery") {
        SimDiscoverySpec desc;
        desc.endpoint.ip.clear();
        if (!SimOptionText::ToEndpoint(value, &desc.endpoint)) {
            return bad("expected [IP:]PORT");
        }
        plan->discovery.push_back(desc);
    } else if (name == "site") {
        auto parts = Split(value, ':');
        long long type = 0;
        long long count = 2;
        long long port = 0;
        if (parts.empty() || parts.size() > 3 || !Int(parts[0], -1000000, 1000000, &type) ||
            (parts.size() > 1 && !Int(parts[1], 1, 100, &count)) ||
            (parts.size() > 2 && !Int(parts[2], 0, 65535, &port))) {
            return bad("expected TYPE[:COUNT[:FIRST_PORT]]");
        }
        for (long long i = 0; i < count; ++i) {
            SimNodeSpec desc;
            desc.site_type = static_cast<int>(type);
            desc.priority = static_cast<int>(9 - i);
            desc.endpoint.ip.clear();
            desc.endpoint.port = static_cast<uint16_t>(port == 0 ? 0 : port + i);
            plan->nodes.push_back(desc);
        }
    } else if (name == "node") {
        auto parts = Split(value, ':');
        long long type = 0;
        long long priority = 0;
        long long port = 0;
        if (parts.size() < 2 || parts.size() > 4 || !Int(parts[0], -1000000, 1000000, &type) ||
            !Int(parts[1], -1000000, 1000000, &priority) ||
            (parts.size() > 2 && !Int(parts[2], 0, 65535, &port)) ||
            (parts.size() > 3 && parts[3] != "tls")) {
            return bad("expected TYPE:PRIORITY[:PORT[:tls]]");
        }
        SimNodeSpec desc;
        desc.site_type = static_cast<int>(type);
        desc.priority = static_cast<int>(priority);
        desc.endpoint.ip.clear();
        desc.endpoint.port = static_cast<uint16_t>(port);
        desc.endpoint.tls = parts.size() > 3;
        plan->nodes.push_back(desc);
    } else if (name == "account") {
        size_t colon = value.find(':');
        if (colon == std::string::npos || colon == 0) {
            return bad("expected USER:PASSWORD");
        }
        plan->accounts.push_back({value.substr(0, colon), value.substr(colon + 1), {}});
    } else if (name == "cert") {
        plan->options.cert_file = value;
    } else if (name == "key") {
        plan->options.key_file = value;
    } else if (name == "make-certs") {
        plan->make_certs_folder = value;
    } else if (name == "securities" && Int(value, 1, 10000000, &number)) {
        feed.securities = static_cast<int>(number);
    } else if (name == "channels" && Int(value, 1, 100000, &number)) {
        feed.channels = static_cast<int>(number);
    } else if (name == "seed" && SimOptionText::ToInt(value, &number)) {
        feed.seed = static_cast<uint64_t>(number);
    } else if (name == "rate") {
        return SimOptionText::ToRate(value, &feed.records_per_second, error);
    } else if (name == "tick" && Int(value, 1, 1000, &number)) {
        feed.tick_ms = static_cast<int>(number);
    } else if (name == "batch" && Int(value, 1, 100000, &number)) {
        feed.batch_records = static_cast<int>(number);
    } else if (name == "batch-bytes" && Int(value, 64, 65535, &number)) {
        feed.batch_bytes = static_cast<int>(number);
    } else if (name == "lz4") {
        return SimOptionText::ToCompression(value, &feed, error);
    } else if (name == "max-records" && Int(value, 0, INT64_MAX, &number)) {
        feed.max_records = number;
    } else if (name == "reuse" && Int(value, 1, 1000000, &number)) {
        feed.template_reuse = static_cast<int>(number);
    } else if (name == "idle-ms" && Int(value, 0, 86400000, &number)) {
        plan->options.datafeed_idle_ms = static_cast<int>(number);
    } else if (name == "stats" && Int(value, 0, 86400, &number)) {
        plan->stats_seconds = static_cast<int>(number);
    } else if (name == "duration" && SimOptionText::ToDouble(value, &plan->duration_seconds) &&
               plan->duration_seconds >= 0) {
    } else if (name == "at") {
        size_t colon = value.find(':');
        double seconds = 0;
        if (colon == std::string::npos || !SimOptionText::ToDouble(value.substr(0, colon), &seconds) ||
            seconds < 0) {
            return bad("expected SECONDS:COMMAND");
        }
        plan->schedule.emplace_back(seconds, value.substr(colon + 1));
    } else if (name == "drop-node-after" && SimOptionText::ToDouble(value, &plan->drop_after_seconds) &&
               plan->drop_after_seconds >= 0) {
    } else if (name == "down-for" && SimOptionText::ToDouble(value, &plan->down_for_seconds) &&
               plan->down_for_seconds >= 0) {
    } else if (name == "drop-node" && !value.empty()) {
        plan->drop_node = value;
    } else {
        *error = "unknown option or bad value: --" + name + (value.empty() ? "" : " " + value);
        return false;
    }
    return true;
}

void SimCommandLine::Finish(SimLaunchPlan* plan) {
    if (plan->discovery.empty()) {
        SimDiscoverySpec desc;
        desc.endpoint.ip.clear();
        plan->discovery.push_back(desc);
    }
    if (plan->nodes.empty()) {
        for (int site : {1, 2}) {
            for (int i = 0; i < 2; ++i) {
                SimNodeSpec desc;
                desc.site_type = site;
                desc.priority = 9 - i;
                desc.endpoint.ip.clear();
                plan->nodes.push_back(desc);
            }
        }
    }
    if (plan->accounts.empty()) {
        plan->accounts.push_back({"demo", "demo", {}});
    }
    for (size_t i = 0; i < plan->discovery.size(); ++i) {
        SimDiscoverySpec& desc = plan->discovery[i];
        desc.name = "discovery" + std::to_string(i);
        desc.endpoint.tls = desc.endpoint.tls || plan->all_tls;
        if (desc.endpoint.ip.empty()) {
            desc.endpoint.ip = plan->listen_ip;
        }
    }
    std::map<int, int> in_site;
    for (SimNodeSpec& desc : plan->nodes) {
        desc.name =
            "site" + std::to_string(desc.site_type) + "-node" + std::to_string(in_site[desc.site_type]++);
        desc.endpoint.tls = desc.endpoint.tls || plan->all_tls;
        if (desc.endpoint.ip.empty()) {
            desc.endpoint.ip = plan->listen_ip;
        }
    }
    if (plan->drop_after_seconds >= 0) {
        const std::string node = plan->drop_node.empty() ? plan->nodes.front().name : plan->drop_node;
        plan->schedule.emplace_back(plan->drop_after_seconds, "down " + node);
        plan->schedule.emplace_back(plan->drop_after_seconds + plan->down_for_seconds, "up " + node);
    }
}

}  // namespace com::mivo::kmr::client
