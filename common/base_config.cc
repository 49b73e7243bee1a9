#include "common/base_config.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace com::mivo::kmr::client {

namespace {

constexpr const char* kThreadSleepTime = "nuvexia_config_thread_sleep_time";
constexpr const char* kSendTimeout = "nuvexia_config_send_timeout";
constexpr const char* kReadTimeout = "nuvexia_config_read_timeout";
constexpr const char* kDaemonCheckInterval = "nuvexia_config_daemon_check_interval";
constexpr const char* kUseSsl = "nuvexia_config_use_ssl";
constexpr const char* kFileLog = "nuvexia_config_file_log";
constexpr const char* kCoutLog = "nuvexia_config_cout_log";
constexpr const char* kConfigPath = "nuvexia_config_config_path";
constexpr const char* kLogFolder = "nuvexia_config_log_folder";
constexpr const char* kCertFolder = "nuvexia_config_cert_folder";
constexpr const char* kHandleThreadNum = "nuvexia_config_handle_thread_num";
constexpr const char* kLogSeverity = "nuvexia_config_log_serverity";
constexpr const char* kLoginTryCount = "nuvexia_config_login_try_count";
constexpr const char* kSubscribeTryCount = "nuvexia_config_subscribe_try_count";
constexpr const char* kLoginTryInterval = "nuvexia_config_login_try_interval";
constexpr const char* kSubscribeTryInterval = "nuvexia_config_subscribe_try_interval";
constexpr const char* kLoginResponseWait = "nuvexia_config_login_response_wait_time";
constexpr const char* kSubscribeResponseWait = "nuvexia_config_subscribe_response_wait_time";
constexpr const char* kQueryUrl = "nuvexia_config_kmr_query_url";
constexpr const char* kSiteMemoryBudget = "nuvexia_config_site_memory_budget_mb";
constexpr const char* kRefusePlainNodes = "nuvexia_config_refuse_plain_nodes";
constexpr const char* kVerifyServerAddress = "nuvexia_config_verify_server_address";
constexpr const char* kStatisticsLogInterval = "nuvexia_config_statistics_log_interval";

// What a file may set for a key: a whole decimal number within [min, max],
// a yes/no word, or any text (keys not listed).
struct ValueRule {
    const char* key;
    bool is_switch;
    long long min;
    long long max;
};

constexpr ValueRule kValueRules[] = {
    {kThreadSleepTime, false, 0, 1000000},
    {kSendTimeout, false, 1, 86400},
    {kReadTimeout, false, 1, 86400},
    {kDaemonCheckInterval, false, 0, 86400},
    {kUseSsl, true, 0, 0},
    {kFileLog, true, 0, 0},
    {kCoutLog, true, 0, 0},
    {kHandleThreadNum, false, 1, 99},
    {kLogSeverity, false, 0, 3},
    {kLoginTryCount, false, 0, 1000},
    {kSubscribeTryCount, false, 0, 1000},
    {kLoginTryInterval, false, 0, 86400},
    {kSubscribeTryInterval, false, 0, 86400},
    {kLoginResponseWait, false, 1, 86400},
    {kSubscribeResponseWait, false, 1, 86400},
    {kStatisticsLogInterval, false, 0, 86400},
    {kSiteMemoryBudget, false, 1, 1048576},
    {kRefusePlainNodes, true, 0, 0},
    {kVerifyServerAddress, true, 0, 0},
};

const ValueRule* FindRule(const std::string& key) {
    for (const ValueRule& rule : kValueRules) {
        if (key == rule.key) {
            return &rule;
        }
    }
    return nullptr;
}

std::string UpperCase(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

bool IsFalseWord(const std::string& upper) {
    return upper == "FALSE" || upper == "F" || upper == "NO" || upper == "N" || upper == "0" ||
           upper == "NONE" || upper == "OFF";
}

bool IsTrueWord(const std::string& upper) {
    return upper == "TRUE" || upper == "T" || upper == "YES" || upper == "Y" || upper == "1" || upper == "ON";
}

// Empty when text is a whole decimal number (an optional sign, then digits
// only) within [min, max]; otherwise the reason.
std::string CheckWholeNumber(const std::string& text, long long min, long long max) {
    size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos == text.size()) {
        return "not a whole number";
    }
    unsigned long long magnitude = 0;
    bool too_big = false;
    for (; pos < text.size(); ++pos) {
        if (text[pos] < '0' || text[pos] > '9') {
            return "not a whole number";
        }
        if (magnitude > 1000000000000ULL) {
            too_big = true;  // keep scanning: a later letter is the better reason
        } else {
            magnitude = magnitude * 10 + static_cast<unsigned>(text[pos] - '0');
        }
    }
    std::string range = "outside " + std::to_string(min) + ".." + std::to_string(max);
    if (too_big) {
        return range;
    }
    long long value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return value < min || value > max ? range : std::string();
}

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionPatch = 0;
constexpr const char* kBuildDate = "2025/09/30";

// A line holds at most 2046 characters plus its newline and the terminator.
constexpr int kLineBufferSize = 2048;

}  // namespace

BaseConfig& BaseConfig::GetInstance() {
    static BaseConfig* instance = new BaseConfig();  // lives until process exit
    return *instance;
}

void BaseConfig::UnInstance() {}

BaseConfig::BaseConfig() : m_app_version(PackageSdkVersion("cpp")), m_heartbeat_interval(10) {
    InitConfig();
}

void BaseConfig::InitConfig() {
    static const std::pair<const char*, const char*> kDefaults[] = {
        {kThreadSleepTime, "10"},
        {kSendTimeout, "30"},
        {kReadTimeout, "30"},
        {kDaemonCheckInterval, "10"},
        {kUseSsl, "1"},
        {kFileLog, "1"},
        {kCoutLog, "0"},
        {kConfigPath, "./mivo-nuvexia-cpp-config.conf"},
        {kLogFolder, "./"},
        {kCertFolder, ""},
        {kHandleThreadNum, "5"},
        {kLogSeverity, "0"},
        {kLoginTryCount, "3"},
        {kSubscribeTryCount, "3"},
        {kLoginTryInterval, "5"},
        {kSubscribeTryInterval, "5"},
        {kLoginResponseWait, "30"},
        {kSubscribeResponseWait, "30"},
        {kQueryUrl, "127.0.0.1:8090"},
        {kSiteMemoryBudget, "256"},
        {kRefusePlainNodes, "0"},
        {kVerifyServerAddress, "1"},
        {kStatisticsLogInterval, "0"},
    };
    m_load_read = false;
    m_load_problems.clear();
    for (const auto& entry : kDefaults) {
        m_properties[entry.first] = entry.second;
    }
    UpdateIntValue();
    UpdateBoolValue();
    UpdateStringValue();
}

bool BaseConfig::SetConfigFilePath(const std::string& path) {
    return ParseConfigFile(path.c_str());
}

std::string BaseConfig::GetConfigFilePath() const {
    return m_config_file_path;
}

void BaseConfig::SetHandleThreadNum(unsigned num) {
    if (num >= 1 && num <= 99) {
        m_handle_thread_num.Store(num);
    }
}

void BaseConfig::SetSiteMemoryBudgetMb(unsigned megabytes) {
    if (megabytes >= 1) {
        m_site_memory_budget_mb.Store(megabytes);
    }
}

bool BaseConfig::ParseConfigFile(const char* path) {
    m_load_read = false;
    m_load_problems.clear();
    if (path == nullptr || path[0] == '\0') {
        std::printf("config file is null");
        NoteProblem("config file is null");
        return false;
    }
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        std::printf("read config file:%s failed\n", path);
        NoteProblem(std::string("read config file:") + path + " failed");
        return false;
    }
    char buffer[kLineBufferSize];
    int line_number = 0;
    bool skipping_long_line = false;
    while (std::fgets(buffer, sizeof(buffer), file) != nullptr) {
        size_t len = std::strlen(buffer);
        bool complete = len > 0 && buffer[len - 1] == '\n';
        if (skipping_long_line) {
            // Rest of a line that did not fit: drop it, then resume.
            skipping_long_line = !complete;
            continue;
        }
        ++line_number;
        if (!complete && len == sizeof(buffer) - 1) {
            // Cutting the line would set a value nobody wrote; skip it whole.
            std::printf("=== line %d longer than %d characters skipped ===\n", line_number,
                        kLineBufferSize - 2);
            NoteProblem("line " + std::to_string(line_number) + " longer than " +
                        std::to_string(kLineBufferSize - 2) + " characters skipped");
            skipping_long_line = true;
            continue;
        }
        if (complete) {
            buffer[--len] = '\0';
            if (len > 0 && buffer[len - 1] == '\r') {  // files written on Windows
                buffer[--len] = '\0';
            }
        }
        std::string line(buffer, len);
        std::string key;
        std::string value;
        if (!IsValidLine(line, key, value)) {
            // Blank lines and comments are fine; anything else was meant as a
            // setting. Skipped without a message, but not clean.
            std::string trimmed = TrimString(line);
            if (!trimmed.empty() && trimmed[0] != '#') {
                NoteProblem("line " + std::to_string(line_number) + " is not key=value");
            }
            continue;
        }
        ApplyFileLine(line_number, key, value);
    }
    std::fclose(file);
    m_config_file_path = path;
    m_load_read = true;
    UpdateIntValue();
    UpdateBoolValue();
    UpdateStringValue();
    return true;
}

void BaseConfig::ApplyFileLine(int line_number, const std::string& key, const std::string& value) {
    auto it = m_properties.find(key);
    if (it == m_properties.end()) {
        std::printf("=== unknown property[%s] value[%s] ===\n", key.c_str(), value.c_str());
        NoteProblem("line " + std::to_string(line_number) + ": unknown property " + key);
        return;
    }
    std::string reason = CheckValue(key, value);
    if (!reason.empty()) {
        std::printf("=== property [%s] not set to [%s] by file: %s, using [%s] ===\n", key.c_str(),
                    value.c_str(), reason.c_str(), it->second.c_str());
        NoteProblem("line " + std::to_string(line_number) + ": " + key + " = " + value + " rejected (" +
                    reason + "), using " + it->second);
        return;
    }
    SetPropertyValue(key, value);
    std::printf("=== property [%s] set to [%s] by file ===\n", key.c_str(), value.c_str());
}

std::string BaseConfig::CheckValue(const std::string& key, const std::string& value) const {
    const ValueRule* rule = FindRule(key);
    if (rule == nullptr) {
        return std::string();
    }
    if (rule->is_switch) {
        std::string upper = UpperCase(value);
        return IsTrueWord(upper) || IsFalseWord(upper) ? std::string() : "not a yes/no word";
    }
    return CheckWholeNumber(value, rule->min, rule->max);
}

bool BaseConfig::IsValidLine(const std::string& line, std::string& key, std::string& value) const {
    size_t pos = line.find('=');
    if (pos == std::string::npos) {
        return false;
    }
    key = TrimString(line.substr(0, pos));
    value = TrimString(line.substr(pos + 1));
    if (key.empty() || key[0] == '#') {
        return false;
    }
    return !value.empty();
}

std::string BaseConfig::TrimString(const std::string& text) const {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlankLeter(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlankLeter(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool BaseConfig::IsBlankLeter(char c) const {
    return c == ' ' || c == '\t';
}

bool BaseConfig::SetPropertyValue(const std::string& key, const std::string& value) {
    auto it = m_properties.find(key);
    if (it == m_properties.end()) {
        return false;
    }
    it->second = value;
    return true;
}

void BaseConfig::UpdateIntValue() {
    m_log_severity.Store(static_cast<unsigned>(ConvertString2Int(PropertyText(kLogSeverity), 0)));
    m_thread_idle_sleep_time.Store(
        static_cast<unsigned>(ConvertString2Int(PropertyText(kThreadSleepTime), 10)));
    m_daemon_check_interval.Store(
        static_cast<unsigned>(ConvertString2Int(PropertyText(kDaemonCheckInterval), 10)));
    m_read_timeout.Store(static_cast<unsigned>(ConvertString2Int(PropertyText(kReadTimeout), 30)));
    m_send_timeout.Store(static_cast<unsigned>(ConvertString2Int(PropertyText(kSendTimeout), 30)));
    // Zero callback threads would leave nothing to route records to, so a
    // file value outside the setter's 1..99 falls back like garbage does.
    int threads = ConvertString2Int(PropertyText(kHandleThreadNum), 5);
    m_handle_thread_num.Store(threads >= 1 && threads <= 99 ? static_cast<unsigned>(threads) : 5u);
    m_login_try_count.Store(static_cast<unsigned>(ConvertString2Int(PropertyText(kLoginTryCount), 3)));
    m_subscribe_try_count.Store(
        static_cast<unsigned>(ConvertString2Int(PropertyText(kSubscribeTryCount), 3)));
    m_login_try_interval.Store(static_cast<unsigned>(ConvertString2Int(PropertyText(kLoginTryInterval), 5)));
    m_subscribe_try_interval.Store(
        static_cast<unsigned>(ConvertString2Int(PropertyText(kSubscribeTryInterval), 5)));
    const int budget = ConvertString2Int(PropertyText(kSiteMemoryBudget), 256);
    m_site_memory_budget_mb.Store(budget >= 1 ? static_cast<uint32_t>(budget) : 256);
    const int interval = ConvertString2Int(PropertyText(kStatisticsLogInterval), 0);
    m_statistics_log_interval.Store(interval >= 0 ? static_cast<uint32_t>(interval) : 0u);
}

void BaseConfig::UpdateBoolValue() {
    m_use_ssl.Store(ConvertString2Bool(PropertyText(kUseSsl)));
    m_file_log.Store(ConvertString2Bool(PropertyText(kFileLog)));
    m_cout_log.Store(ConvertString2Bool(PropertyText(kCoutLog)));
    m_refuse_plain_nodes.Store(ConvertString2Bool(PropertyText(kRefusePlainNodes)));
    m_verify_server_address.Store(ConvertString2Bool(PropertyText(kVerifyServerAddress)));
}

void BaseConfig::UpdateStringValue() {
    m_ssl_cert_folder = PropertyText(kCertFolder);
    m_log_folder = PropertyText(kLogFolder);
    m_http_uri = PropertyText(kQueryUrl);
}

int BaseConfig::ConvertString2Int(const std::string& text, int fallback) const {
    int value = 0;
    try {
        value = std::stoi(text);
    } catch (const std::exception&) {
        return fallback;
    }
    return value < 0 ? fallback : value;
}

bool BaseConfig::ConvertString2Bool(const std::string& text) const {
    return !IsFalseWord(UpperCase(text));
}

const std::string& BaseConfig::PropertyText(const char* key) const {
    static const std::string kEmpty;
    auto it = m_properties.find(key);
    return it == m_properties.end() ? kEmpty : it->second;
}

std::string BaseConfig::PackageSdkVersion(const char* prefix) {
    char buffer[16384];
    std::snprintf(buffer, sizeof(buffer), "%s_%d.%d.%d_%s", prefix, kVersionMajor, kVersionMinor,
                  kVersionPatch, kBuildDate);
    return buffer;
}

int BaseConfig::GetIntValue(const std::string& key) const {
    auto it = m_properties.find(key);
    if (it == m_properties.end()) {
        throw std::out_of_range("unknown property[" + key + "]");
    }
    return std::stoi(it->second);
}

}  // namespace com::mivo::kmr::client
