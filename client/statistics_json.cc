#include "client/statistics_json.h"

#include <cstdio>
#include <vector>

namespace com::mivo::kmr::client {

namespace {

void AppendField(std::string& out, const char* name, const std::string& rendered) {
    if (out.back() != '{') {
        out += ',';
    }
    out += '"';
    out += name;
    out += "\":";
    out += rendered;
}

template <typename Number>
void AppendNumber(std::string& out, const char* name, Number value) {
    AppendField(out, name, std::to_string(value));
}

// {"has_client":...,"<list_name>":[{...},...]} with each item's fields
// written by append_fields.
template <typename Item, typename AppendFields>
std::string RenderList(bool has_client, const char* list_name, const std::vector<Item>& items,
                       AppendFields append_fields) {
    std::string out = "{";
    AppendField(out, "has_client", has_client ? "true" : "false");
    out += ",\"";
    out += list_name;
    out += "\":[";
    for (const Item& item : items) {
        if (out.back() != '[') {
            out += ',';
        }
        out += '{';
        append_fields(out, item);
        out += '}';
    }
    out += "]}";
    return out;
}

}  // namespace

std::string StatisticsJson::Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string StatisticsJson::Render(const ClientStatistics& statistics) {
    return RenderList(
        statistics.has_client, "sites", statistics.sites, [](std::string& out, const SiteStatistics& s) {
            AppendNumber(out, "site_type", s.site_type);
            AppendField(out, "node", Quote(s.node));
            AppendField(out, "link_state", Quote(s.link_state));
            AppendNumber(out, "logins", s.logins);
            AppendNumber(out, "reconnects", s.reconnects);
            AppendNumber(out, "records", s.records);
            AppendNumber(out, "frames", s.frames);
            AppendNumber(out, "wire_bytes", s.wire_bytes);
            AppendNumber(out, "decompressed_bytes", s.decompressed_bytes);
            AppendNumber(out, "decode_errors", s.decode_errors);
            AppendNumber(out, "queued_records", s.queued_records);
            AppendNumber(out, "held_bytes", s.held_bytes);
            AppendNumber(out, "stalls", s.stalls);
            AppendNumber(out, "ms_since_last_frame", s.ms_since_last_frame);
            AppendNumber(out, "ms_since_last_heartbeat_answer", s.ms_since_last_heartbeat_answer);
            AppendNumber(out, "discarded_records", s.discarded_records);
        });
}

std::string StatisticsJson::Render(const SubscriptionList& list) {
    return RenderList(list.has_client, "subscriptions", list.entries,
                      [](std::string& out, const SubscriptionEntry& e) {
                          AppendField(out, "kind", Quote(e.kind));
                          AppendNumber(out, "action", e.action);
                          // The protobuf printer's text is JSON already.
                          AppendField(out, "request", e.request.empty() ? std::string("{}") : e.request);
                          AppendNumber(out, "sends", e.sends);
                          AppendNumber(out, "last_result", e.last_result);
                          AppendNumber(out, "ms_since_last_result", e.ms_since_last_result);
                      });
}

}  // namespace com::mivo::kmr::client
