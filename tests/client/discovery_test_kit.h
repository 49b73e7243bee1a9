#pragma once

// What the discovery suites share: a handler and a log sink that write into
// one ordered record, so a test can read the walk as it happened (attempt,
// callback, pause, next attempt) without measuring any time.

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/client_interface.h"
#include "client/discovery_client.h"
#include "client/message_handle.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/test_seam.h"
#include "sim/sim_service.h"

namespace com::mivo::kmr::client::testing {

// One ordered record of callbacks ("cb:...") and log lines ("log:...").
class WalkRecord : public MessageHandle, public LogInterface {
public:
    void OnLoginDiscoverySuccess(const std::string& server_ip, std::vector<int> site_types) override {
        std::string text = "cb:success " + server_ip + " [";
        for (size_t i = 0; i < site_types.size(); ++i) {
            text += (i == 0 ? "" : ",") + std::to_string(site_types[i]);
        }
        Add(text + "]");
    }
    void OnLoginDiscoveryFailed(const std::string& server_ip) override { Add("cb:failed " + server_ip); }
    void OnLoginDiscoveryResponse(const com::mivo::zel::model::LoginResponse& response) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last_response = response;
        m_events.push_back("cb:response");
        m_changed.notify_all();
    }
    void OnNoDiscoveryServices() override { Add("cb:none"); }

    void LogPrint(NuvexiaLogLevel /*level*/, const char* message) override {
        Add(std::string("log:") + message);
    }

    // Callbacks and the pauses between servers, in order.
    std::vector<std::string> Walk() const {
        std::vector<std::string> walk;
        for (const auto& event : Events()) {
            if (event.rfind("cb:", 0) == 0) {
                walk.push_back(event.substr(3));
            } else if (event.rfind("log:Pause ", 0) == 0) {
                walk.push_back("pause");
            }
        }
        return walk;
    }

    std::vector<std::string> Events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

    // Log lines containing text.
    std::vector<std::string> LogsWith(const std::string& text) const {
        std::vector<std::string> found;
        for (const auto& event : Events()) {
            if (event.rfind("log:", 0) == 0 && event.find(text) != std::string::npos) {
                found.push_back(event.substr(4));
            }
        }
        return found;
    }
    bool Logged(const std::string& text) const { return !LogsWith(text).empty(); }

    // Everything recorded, one event a line, for failure messages.
    std::string Dump() const {
        std::string text;
        for (const auto& event : Events()) {
            text += event + "\n";
        }
        return text;
    }

    // Waits (without a deadline of its own: ctest bounds the test) until a
    // log line contains text.
    void WaitForLog(const std::string& text) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] {
            return std::any_of(m_events.begin(), m_events.end(), [&](const std::string& event) {
                return event.rfind("log:", 0) == 0 && event.find(text) != std::string::npos;
            });
        });
    }

    com::mivo::zel::model::LoginResponse LastResponse() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_last_response;
    }

private:
    void Add(std::string event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(std::move(event));
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_events;
    com::mivo::zel::model::LoginResponse m_last_response;
};

// Short pauses, no log file, the record as log sink; a simulated service
// with one account. Discovery servers listen on distinct loopback addresses
// (127.0.0.1, 127.0.0.2, ...) so the callbacks tell them apart.
class DiscoveryTest : public ::testing::Test {
protected:
    explicit DiscoveryTest(SimServiceOptions options = SimServiceOptions())
        : m_owned_service(std::make_unique<SimService>(std::move(options))), m_service(*m_owned_service) {}

    static constexpr const char* kUser = "alice";
    static constexpr const char* kPassword = "s3cret-pw";

    void SetUp() override {
        TestSeam::SetTimeDivisor(1000);
        BaseConfig::GetInstance().CloseFileLog();
        m_read_timeout = BaseConfig::GetInstance().GetReadTimeout();
        SetLogHandle(&m_record);
        m_service.AddAccount({kUser, kPassword, {}});
    }

    void TearDown() override {
        SetLogHandle(nullptr);
        BaseConfig::GetInstance().SetReadTimeout(m_read_timeout);
        TestSeam::SetTimeDivisor(1);
    }

    // Adds n discovery servers on 127.0.0.<1..n> and starts the service.
    void StartDiscoveryServers(int n, bool tls = false) {
        for (int i = 0; i < n; ++i) {
            SimDiscoverySpec desc;
            desc.endpoint.ip = IpOf(i);
            desc.endpoint.tls = tls;
            m_service.AddDiscoveryServer(desc);
        }
        std::string error;
        ASSERT_TRUE(m_service.Start(&error)) << error;
    }

    static SimNodeSpec NodeSpec(int site_type, int priority, std::string name = "") {
        SimNodeSpec desc;
        desc.name = std::move(name);
        desc.site_type = site_type;
        desc.priority = priority;
        return desc;
    }

    static std::string IpOf(int index) { return "127.0.0." + std::to_string(index + 1); }

    ServerHost HostOf(int index) { return ServerHost(IpOf(index), m_service.Discovery(index).Port(), false); }

    // Main server first, then the others as backups.
    void InitClient(DiscoveryClient& client, const std::vector<ServerHost>& hosts,
                    const std::string& password = kPassword) {
        std::vector<ServerHost> backups(hosts.begin() + 1, hosts.end());
        client.InitParams(kUser, password, false, hosts.front(), backups);
    }

    std::vector<ServerHost> AllHosts() {
        std::vector<ServerHost> hosts;
        for (int i = 0; i < m_service.DiscoveryCount(); ++i) {
            hosts.push_back(HostOf(i));
        }
        return hosts;
    }

    WalkRecord m_record;
    std::unique_ptr<SimService> m_owned_service;
    SimService& m_service;
    unsigned m_read_timeout = 30;
};

}  // namespace com::mivo::kmr::client::testing
