#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// A plain setting that many threads read while the host may change it.
// Relaxed atomics keep each read whole without ordering anything else;
// copying takes a snapshot so BaseConfig stays copyable member by member.
template <typename T>
class ConfigValue {
public:
    ConfigValue(T value = T()) : m_value(value) {}
    ConfigValue(const ConfigValue& other) : m_value(other.Load()) {}
    ConfigValue& operator=(const ConfigValue& other) {
        Store(other.Load());
        return *this;
    }
    T Load() const { return m_value.load(std::memory_order_relaxed); }
    void Store(T value) { m_value.store(value, std::memory_order_relaxed); }

private:
    std::atomic<T> m_value;
};

// Every tunable setting of the library, process-wide.
//
// Each setting is kept as text in the property table (defaults entered at
// creation, replaced by a configuration file) and as a typed field read by
// the library. Setters change only the typed field; reading a file refreshes
// every typed field from the table, so load the file first and call setters
// afterwards.
//
// File lines are "key=value"; blanks and tabs around key and value are
// dropped, lines whose key starts with '#' are comments, the last line naming
// a key wins, keys that are not in the table are reported and ignored. A line
// longer than 2046 characters is skipped whole (with a message naming its
// line number) and reading goes on with the next line.
//
// A value its key cannot take (not a whole decimal number, outside the key's
// range, not a yes/no word) is rejected: the table keeps the value it had and
// the printed line names the rejected text, the reason and the value kept.
// Every such problem (and unknown keys, malformed and overlong lines) is
// listed by GetLoadProblems until the next file is read.
class ZEL_API BaseConfig {
public:
    static BaseConfig& GetInstance();
    static void UnInstance();

    BaseConfig(const BaseConfig&) = default;
    BaseConfig& operator=(const BaseConfig&) = default;

    // Reads the file; the result says whether it could be read.
    bool SetConfigFilePath(const std::string& path);
    // Path of the last file read successfully (empty if none).
    std::string GetConfigFilePath() const;
    // True when the last file was read and every line in it was taken as
    // written; false before any file was read.
    bool IsLoadClean() const { return m_load_read && m_load_problems.empty(); }
    // What went wrong with the last file, one text per problem.
    std::vector<std::string> GetLoadProblems() const { return m_load_problems; }

    // Seconds between two statistics lines in the log; 0: none.
    unsigned GetStatisticsLogInterval() const { return m_statistics_log_interval.Load(); }
    void SetStatisticsLogInterval(unsigned seconds) { m_statistics_log_interval.Store(seconds); }

    bool IsUseSSL() const { return m_use_ssl.Load(); }
    void SetUseSSL(bool use_ssl) { m_use_ssl.Store(use_ssl); }

    // With TLS on, a datafeed node that the node table marks plain is refused
    // instead of being reached in clear (it is reached, with a warning, by default).
    bool IsRefusePlainNodes() const { return m_refuse_plain_nodes.Load(); }
    void SetRefusePlainNodes(bool refuse) { m_refuse_plain_nodes.Store(refuse); }
    // With a CA file, the server certificate must also name the address it was
    // reached at (on by default).
    bool IsVerifyServerAddress() const { return m_verify_server_address.Load(); }
    void SetVerifyServerAddress(bool verify) { m_verify_server_address.Store(verify); }

    std::string GetSSLCertfolder() const { return m_ssl_cert_folder; }
    void SetSSLCertfolder(const std::string& folder) { m_ssl_cert_folder = folder; }

    unsigned GetHandleThreadNum() const { return m_handle_thread_num.Load(); }
    // Values outside 1..99 are ignored.
    void SetHandleThreadNum(unsigned num);

    // Market data one site may hold (frames read, decompressed, waiting for a
    // callback) before its reader stops taking frames from the socket.
    unsigned GetSiteMemoryBudgetMb() const { return m_site_memory_budget_mb.Load(); }
    // Zero is ignored.
    void SetSiteMemoryBudgetMb(unsigned megabytes);

    unsigned GetLoginTryCount() const { return m_login_try_count.Load(); }
    unsigned GetSubscribeTryCount() const { return m_subscribe_try_count.Load(); }
    unsigned GetLoginTryInterval() const { return m_login_try_interval.Load(); }
    unsigned GetSubscirbeTryInterval() const { return m_subscribe_try_interval.Load(); }

    const std::string& GetLogFileOutFolder() const { return m_log_folder; }
    void SetLogFileOutFolder(const std::string& folder) { m_log_folder = folder; }

    unsigned GetLogSeverity() const { return m_log_severity.Load(); }
    void SetLogSeverity(unsigned severity) { m_log_severity.Store(severity); }

    void OpenFileLog() { m_file_log.Store(true); }
    void CloseFileLog() { m_file_log.Store(false); }
    bool IsFileLog() const { return m_file_log.Load(); }

    void OpenCoutLog() { m_cout_log.Store(true); }
    void CloseCoutLog() { m_cout_log.Store(false); }
    bool IsCoutLog() const { return m_cout_log.Load(); }

    std::chrono::microseconds GetThreadIdleSleepTime() const {
        return std::chrono::microseconds(m_thread_idle_sleep_time.Load());
    }
    void SetThreadIdleSleepTime(unsigned micros) { m_thread_idle_sleep_time.Store(micros); }

    std::chrono::seconds GetDaemonCheckInterval() const {
        return std::chrono::seconds(m_daemon_check_interval.Load());
    }

    unsigned GetReadTimeout() const { return m_read_timeout.Load(); }
    void SetReadTimeout(unsigned seconds) { m_read_timeout.Store(seconds); }
    unsigned GetSendTimeout() const { return m_send_timeout.Load(); }
    void SetSendTimeout(unsigned seconds) { m_send_timeout.Store(seconds); }

    unsigned GetHeartBeatInterval() const { return m_heartbeat_interval; }
    unsigned GetHeartbeatMaxCount() const { return 6; }

    std::string GetAppVersion() const { return m_app_version; }
    std::string GetHttpUri() const { return m_http_uri; }

    // The table's text for key converted with std::stoi: throws
    // std::invalid_argument when it has no digits and std::out_of_range when
    // it does not fit an int. A key that is not in the table throws
    // std::out_of_range as well (the table is never read past its end).
    int GetIntValue(const std::string& key) const;

private:
    friend class ClientFactory;

    BaseConfig();
    ~BaseConfig() = default;

    void InitConfig();
    bool ParseConfigFile(const char* path);
    bool IsValidLine(const std::string& line, std::string& key, std::string& value) const;
    std::string TrimString(const std::string& text) const;
    bool IsBlankLeter(char c) const;
    bool SetPropertyValue(const std::string& key, const std::string& value);
    // Empty when the key can take the value, otherwise why not.
    std::string CheckValue(const std::string& key, const std::string& value) const;
    // Takes one valid file line into the table and prints what happened.
    void ApplyFileLine(int line_number, const std::string& key, const std::string& value);
    void NoteProblem(const std::string& problem) { m_load_problems.push_back(problem); }
    void UpdateIntValue();
    void UpdateBoolValue();
    void UpdateStringValue();
    int ConvertString2Int(const std::string& text, int fallback) const;
    bool ConvertString2Bool(const std::string& text) const;
    const std::string& PropertyText(const char* key) const;
    static std::string PackageSdkVersion(const char* prefix);

    std::map<std::string, std::string> m_properties;
    ConfigValue<bool> m_use_ssl;
    ConfigValue<bool> m_file_log;
    ConfigValue<bool> m_cout_log;
    ConfigValue<bool> m_refuse_plain_nodes;
    ConfigValue<bool> m_verify_server_address;
    std::string m_config_file_path;
    std::string m_log_folder;
    std::string m_ssl_cert_folder;
    ConfigValue<uint32_t> m_log_severity;
    ConfigValue<int64_t> m_daemon_check_interval;
    ConfigValue<int64_t> m_thread_idle_sleep_time;
    ConfigValue<uint32_t> m_read_timeout;
    ConfigValue<uint32_t> m_send_timeout;
    ConfigValue<uint32_t> m_handle_thread_num;
    ConfigValue<uint32_t> m_site_memory_budget_mb{256};
    ConfigValue<uint32_t> m_login_try_count;
    ConfigValue<uint32_t> m_subscribe_try_count;
    ConfigValue<uint32_t> m_login_try_interval;
    ConfigValue<uint32_t> m_subscribe_try_interval;
    std::string m_app_version;
    std::string m_http_uri;
    uint32_t m_heartbeat_interval;
    ConfigValue<uint32_t> m_statistics_log_interval;
    bool m_load_read = false;
    std::vector<std::string> m_load_problems;

    // Lets the test suites return the singleton to its defaults.
    friend class BaseConfigTestAccess;
};

}  // namespace com::mivo::kmr::client
