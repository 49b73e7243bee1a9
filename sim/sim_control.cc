#include "sim/sim_control.h"

#include <chrono>
#include <functional>
#include <sstream>

#include "sim/sim_option_text.h"
#include "sim/sim_service.h"

namespace com::mivo::kmr::client {

const char* SimControl::Help() {
    return "commands: down|up NAME, close NAME [reset], mute|refuse-login|refuse-subscribe|wrong-trace|stall "
           "NAME "
           "on|off, delay NAME MS, split NAME BYTES, sabotage NAME oversized|negative|garbage|silence|none "
           "[COUNT], "
           "inject NAME oversized|negative|garbage, clear NAME, expire-tokens, token-lifetime MS, rate R, "
           "lz4 never|always|above:N, stats, help (NAME: a server name or all)";
}

std::vector<SimServer*> SimControl::Targets(const std::string& name) {
    if (name == "all") {
        return m_service.Servers();
    }
    SimServer* server = m_service.FindServer(name);
    return server == nullptr ? std::vector<SimServer*>() : std::vector<SimServer*>{server};
}

std::string SimControl::Execute(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    if (words.empty() || words[0][0] == '#') {
        return "";
    }
    const std::string& verb = words[0];
    auto arg = [&](size_t i) { return i < words.size() ? words[i] : std::string(); };

    if (verb == "help") {
        return std::string("ok ") + Help();
    }
    if (verb == "stats") {
        return "ok\n" + m_service.CountersText();
    }
    if (verb == "expire-tokens") {
        m_service.Accounts().ExpireAllTokens();
        return "ok tokens expired";
    }
    if (verb == "token-lifetime") {
        long long ms = 0;
        if (!SimOptionText::ToInt(arg(1), &ms) || ms < 0) {
            return "error: token-lifetime needs milliseconds";
        }
        m_service.Accounts().SetTokenLifetime(std::chrono::milliseconds(ms));
        return "ok";
    }
    if (verb == "rate" || verb == "lz4") {
        SimFeedOptions feed = m_service.Options().feed;
        std::string error;
        bool parsed = verb == "rate" ? SimOptionText::ToRate(arg(1), &feed.records_per_second, &error)
                                     : SimOptionText::ToCompression(arg(1), &feed, &error);
        if (!parsed) {
            return "error: " + error;
        }
        m_service.SetFeedOptions(feed);
        return "ok";
    }

    std::vector<SimServer*> targets = Targets(arg(1));
    if (targets.empty()) {
        return "error: no server named '" + arg(1) + "' (try help)";
    }
    auto each = [&](const std::function<void(SimServer&)>& action) {
        for (SimServer* server : targets) {
            action(*server);
        }
        return "ok " + verb + " " + arg(1);
    };
    auto on_off = [&](bool* value) {
        if (arg(2) != "on" && arg(2) != "off") {
            return false;
        }
        *value = arg(2) == "on";
        return true;
    };
    bool flag = false;
    long long number = 0;

    if (verb == "down") {
        return each([](SimServer& s) { s.Down(); });
    }
    if (verb == "up") {
        std::string failures;
        for (SimServer* server : targets) {
            std::string error;
            if (!server->Up(&error)) {
                failures += " " + error;
            }
        }
        return failures.empty() ? "ok up " + arg(1) : "error:" + failures;
    }
    if (verb == "close") {
        SimCloseMode mode = arg(2) == "reset" ? SimCloseMode::kReset : SimCloseMode::kClean;
        return each([mode](SimServer& s) { s.CloseConnections(mode); });
    }
    if (verb == "clear") {
        return each([](SimServer& s) {
            s.Faults().Clear();
            s.SetStallReading(false);
        });
    }
    if (verb == "mute" && on_off(&flag)) {
        return each([flag](SimServer& s) { s.Faults().mute_heartbeat = flag; });
    }
    if (verb == "refuse-login" && on_off(&flag)) {
        return each([flag](SimServer& s) { s.Faults().refuse_login = flag; });
    }
    if (verb == "refuse-subscribe" && on_off(&flag)) {
        return each([flag](SimServer& s) { s.Faults().refuse_subscribe = flag; });
    }
    if (verb == "wrong-trace" && on_off(&flag)) {
        return each([flag](SimServer& s) { s.Faults().wrong_trace_id = flag; });
    }
    if (verb == "stall" && on_off(&flag)) {
        return each([flag](SimServer& s) { s.SetStallReading(flag); });
    }
    if (verb == "delay" && SimOptionText::ToInt(arg(2), &number) && number >= 0) {
        return each([number](SimServer& s) { s.Faults().response_delay_ms = static_cast<int>(number); });
    }
    if (verb == "split" && SimOptionText::ToInt(arg(2), &number) && number >= 0) {
        return each([number](SimServer& s) { s.Faults().split_write_bytes = static_cast<int>(number); });
    }
    SimSabotage sabotage = SimSabotage::kNone;
    if (verb == "sabotage" && SimOptionText::ToSabotage(arg(2), &sabotage)) {
        long long count = -1;
        if (!arg(3).empty() && (!SimOptionText::ToInt(arg(3), &count) || count == 0)) {
            return "error: sabotage count must be a positive number";
        }
        return each([sabotage, count](SimServer& s) {
            s.Faults().sabotage_count = static_cast<int>(count);
            s.Faults().sabotage = sabotage;
        });
    }
    if (verb == "inject" && SimOptionText::ToSabotage(arg(2), &sabotage) && sabotage != SimSabotage::kNone &&
        sabotage != SimSabotage::kSilence) {
        return each([sabotage](SimServer& s) { s.Inject(sabotage); });
    }
    return "error: cannot run '" + line + "' (try help)";
}

}  // namespace com::mivo::kmr::client
