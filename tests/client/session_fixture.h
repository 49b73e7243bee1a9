#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ESysMessageType.pb.h"
#include "SysSubscribe.pb.h"
#include "client/message_handle.h"
#include "client/nuvexia_tcp_client.h"
#include "client/nuvexia_tcp_session.h"
#include "common/base_config.h"
#include "common/test_seam.h"
#include "sim/sim_service.h"
#include "support/log_capture.h"

namespace com::mivo::kmr::client {

// Reaches the daemon's wall clock, which tests replace.
class NuvexiaTcpClientTestPeer {
public:
    static void SetWallClock(NuvexiaTcpClient& client, std::function<int64_t()> clock) {
        client.m_session->m_wall_clock = std::move(clock);
    }
};

// Counts every callback; the last subscribe answer is kept.
class CountingHandle : public MessageHandle {
public:
    void OnSubscribeResponse(const com::mivo::zel::model::SubscribeResponse&) override {
        ++subscribe_responses;
    }
    void OnMarketData(const com::mivo::zel::model::MarketData&) override { ++market_data; }
    void OnLoginDiscoverySuccess(const std::string&, std::vector<int>) override { ++discovery_success; }
    void OnLoginDiscoveryFailed(const std::string&) override { ++discovery_failed; }
    void OnNoDiscoveryServices() override { ++no_discovery; }
    void OnLoginDataServiceSuccess() override { ++datafeed_success; }
    void OnLoginDataServiceFailed() override { ++datafeed_failed; }
    void OnDisconnected(int, const std::string&) override { ++disconnected; }

    std::atomic<int> subscribe_responses{0};
    std::atomic<int64_t> market_data{0};
    std::atomic<int> discovery_success{0};
    std::atomic<int> discovery_failed{0};
    std::atomic<int> no_discovery{0};
    std::atomic<int> datafeed_success{0};
    std::atomic<int> datafeed_failed{0};
    std::atomic<int> disconnected{0};
};

// A simulated service with one discovery server and one node per site, a
// client against it, short fixed pauses, and settings from a file.
class SessionTest : public ::testing::Test {
protected:
    static constexpr const char* kUser = "session-user";
    static constexpr const char* kPassword = "session-secret";

    void SetUp() override {
        TestSeam::SetTimeDivisor(50);
        Configure({});
    }

    void TearDown() override {
        m_client.reset();
        if (HasFailure()) {
            for (const auto& line : m_log.Messages()) {
                std::fprintf(stderr, "  log: %s\n", line.c_str());
            }
        }
        if (m_service) {
            m_service->Stop();
        }
        TestSeam::SetTimeDivisor(1);
    }

    // Settings of the session, from a configuration file: tries and pauses
    // have no setters of their own.
    void Configure(std::map<std::string, std::string> settings) {
        std::map<std::string, std::string> values = {
            {"nuvexia_config_use_ssl", "0"},
            {"nuvexia_config_file_log", "0"},
            {"nuvexia_config_cout_log", "0"},
            {"nuvexia_config_login_try_count", "2"},
            {"nuvexia_config_login_try_interval", "0"},
            {"nuvexia_config_subscribe_try_count", "2"},
            {"nuvexia_config_subscribe_try_interval", "0"},
            {"nuvexia_config_daemon_check_interval", "1"},
            {"nuvexia_config_handle_thread_num", "2"},
            {"nuvexia_config_login_response_wait_time", "30"},
            {"nuvexia_config_subscribe_response_wait_time", "30"},
            {"nuvexia_config_read_timeout", "30"},
        };
        for (const auto& entry : settings) {
            values[entry.first] = entry.second;
        }
        const std::string path =
            ::testing::TempDir() + "session_test_" + std::to_string(::getpid()) + ".conf";
        {
            std::ofstream file(path);
            for (const auto& entry : values) {
                file << entry.first << "=" << entry.second << "\n";
            }
        }
        ASSERT_TRUE(BaseConfig::GetInstance().SetConfigFilePath(path));
        std::remove(path.c_str());
    }

    // Starts the service: one discovery server, one node per site type.
    void StartService(std::vector<int> sites = {1}, SimServiceOptions options = SimServiceOptions(),
                      bool tls = false) {
        options.feed.records_per_second = 200;
        options.feed.securities = 200;
        m_service = std::make_unique<SimService>(options);
        m_service->AddAccount({kUser, kPassword, {}});
        SimDiscoverySpec discovery;
        discovery.endpoint.tls = tls;
        m_service->AddDiscoveryServer(discovery);
        for (int site : sites) {
            SimNodeSpec node;
            node.site_type = site;
            node.priority = 9;
            node.endpoint.tls = tls;
            m_service->AddDatafeedNode(node);
        }
        std::string error;
        ASSERT_TRUE(m_service->Start(&error)) << error;
    }

    void MakeClient() { m_client = std::make_unique<NuvexiaTcpClient>(&m_handle); }

    int Login(std::vector<std::string> backups = {}) {
        return m_client->LoginByServiceDiscovery(kUser, kPassword, "127.0.0.1",
                                                 m_service->Discovery(0).Port(), backups);
    }

    static com::mivo::zel::model::SubscribeByDataType Types(std::vector<int> types) {
        com::mivo::zel::model::SubscribeByDataType request;
        for (int type : types) {
            request.add_zeldatatypes(type);
        }
        return request;
    }

    static com::mivo::zel::model::SubscribeById Ids(int type, std::vector<std::string> ids) {
        com::mivo::zel::model::SubscribeById request;
        auto* detail = request.add_subscribebyiddetails();
        detail->set_zeldatatype(type);
        for (const auto& id : ids) {
            detail->add_mivosecurityid(id);
        }
        return request;
    }

    // The subscribe requests a node received, in order, as (connection, request).
    std::vector<std::pair<uint64_t, com::mivo::zel::model::SubscribeRequest>> SubscribesAt(int node) {
        std::vector<std::pair<uint64_t, com::mivo::zel::model::SubscribeRequest>> out;
        for (const auto& request : m_service->Requests().ForServer(m_service->Node(node).Name())) {
            if (request.message_type != com::mivo::zel::model::SUBSCRIBE_REQUEST) {
                continue;
            }
            com::mivo::zel::model::SubscribeRequest parsed;
            EXPECT_TRUE(parsed.ParseFromString(request.body));
            out.emplace_back(request.connection, parsed);
        }
        return out;
    }

    static bool WaitUntil(const std::function<bool()>& predicate,
                          std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        return SimService::WaitUntil(predicate, limit);
    }

    LogCapture m_log;
    CountingHandle m_handle;
    std::unique_ptr<SimService> m_service;
    std::unique_ptr<NuvexiaTcpClient> m_client;
};

}  // namespace com::mivo::kmr::client
