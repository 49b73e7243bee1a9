#include "sim/sim_option_text.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>

namespace com::mivo::kmr::client {

bool SimOptionText::ToInt(const std::string& text, long long* value) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0') {
        return false;
    }
    *value = parsed;
    return true;
}

bool SimOptionText::ToDouble(const std::string& text, double* value) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == nullptr || *end != '\0') {
        return false;
    }
    *value = parsed;
    return true;
}

bool SimOptionText::ToRate(const std::string& text, double* value, std::string* error) {
    double rate = 0;
    if (!ToDouble(text, &rate) || rate < 0) {
        *error = "rate must be records per second, 0 or more (0: as fast as possible)";
        return false;
    }
    *value = rate;
    return true;
}

bool SimOptionText::ToCompression(const std::string& text, SimFeedOptions* feed, std::string* error) {
    if (text == "never") {
        feed->compression = SimCompression::kNever;
        return true;
    }
    if (text == "always") {
        feed->compression = SimCompression::kAlways;
        return true;
    }
    long long bytes = 0;
    if (text.compare(0, 6, "above:") == 0 && ToInt(text.substr(6), &bytes) && bytes >= 0) {
        feed->compression = SimCompression::kAboveSize;
        feed->compress_above_bytes = static_cast<int>(bytes);
        return true;
    }
    *error = "lz4 must be never, always or above:BYTES";
    return false;
}

bool SimOptionText::ToSabotage(const std::string& text, SimSabotage* sabotage) {
    if (text == "oversized") {
        *sabotage = SimSabotage::kOversizedLength;
    } else if (text == "negative") {
        *sabotage = SimSabotage::kNegativeLength;
    } else if (text == "garbage") {
        *sabotage = SimSabotage::kGarbage;
    } else if (text == "silence") {
        *sabotage = SimSabotage::kSilence;
    } else if (text == "none") {
        *sabotage = SimSabotage::kNone;
    } else {
        return false;
    }
    return true;
}

bool SimOptionText::ToEndpoint(const std::string& text, SimEndpoint* endpoint) {
    std::string ip = endpoint->ip;
    std::string port_text = text;
    size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        ip = text.substr(0, colon);
        port_text = text.substr(colon + 1);
        in_addr probe;
        if (inet_pton(AF_INET, ip.c_str(), &probe) != 1) {
            return false;
        }
    }
    long long port = 0;
    if (!ToInt(port_text, &port) || port < 0 || port > 65535) {
        return false;
    }
    endpoint->ip = ip;
    endpoint->port = static_cast<uint16_t>(port);
    return true;
}

}  // namespace com::mivo::kmr::client
