#pragma once

#include <gtest/gtest.h>

#include <lz4.h>

#include <memory>
#include <string>
#include <vector>

#include "MarketData.pb.h"
#include "SysLogin.pb.h"
#include "common/base_config.h"
#include "protocol/service_contract.h"
#include "protocol/wire_order.h"
#include "sim/sim_service.h"
#include "support/raw_frame_client.h"

namespace com::mivo::kmr::client::testing {

// A running service with one account, one discovery server and two nodes of site 1 (priorities 9 and 5),
// plus helpers that walk a raw client through the login steps.
class SimServiceTest : public ::testing::Test {
protected:
    static constexpr const char* kUser = "sim-user";
    static constexpr const char* kPassword = "sim-secret";

    // The codec logs every request it builds; keep that out of the test's folder.
    void SetUp() override { BaseConfig::GetInstance().CloseFileLog(); }

    void StartService(SimServiceOptions options = SimServiceOptions()) {
        m_service = std::make_unique<SimService>(options);
        m_service->AddAccount({kUser, kPassword, {}});
        m_service->AddDiscoveryServer();
        SimNodeSpec first;
        first.site_type = 1;
        first.priority = 9;
        m_service->AddDatafeedNode(first);
        SimNodeSpec second;
        second.site_type = 1;
        second.priority = 5;
        m_service->AddDatafeedNode(second);
        std::string error;
        ASSERT_TRUE(m_service->Start(&error)) << error;
    }

    void TearDown() override {
        if (m_service) {
            m_service->Stop();
        }
    }

    int DiscoveryPort() { return m_service->Discovery(0).Port(); }
    int NodePort(int index = 0) { return m_service->Node(index).Port(); }

    // Logs in at discovery and returns the response (isSuccess false on any failure).
    com::mivo::zel::model::LoginResponse DiscoveryLogin(const std::string& user = kUser,
                                                        const std::string& password = kPassword) {
        com::mivo::zel::model::LoginResponse response;
        RawFrameClient client;
        RawFrame frame;
        if (client.Connect("127.0.0.1", DiscoveryPort()) && client.SendDiscoveryLogin(user, password) &&
            client.ReadFrame(&frame) == RawFrameClient::ReadResult::kFrame) {
            RawFrameClient::DecodeResponse(frame, &response);
        }
        return response;
    }

    std::string Token() { return DiscoveryLogin().token(); }

    // Connects client to a node and logs in with a fresh token; true when the node accepted.
    bool LoginAtNode(RawFrameClient& client, int node = 0) {
        const std::string token = Token();
        RawFrame frame;
        com::mivo::zel::model::LoginResponse response;
        return client.Connect("127.0.0.1", NodePort(node)) && client.SendDatafeedLogin(kUser, token) &&
               client.ReadUntil(com::mivo::zel::model::LOGIN_RESPONSE, &frame) &&
               RawFrameClient::DecodeResponse(frame, &response) && response.issuccess();
    }

    // Splits a push frame's payload (decompressing it first when flagged) into its records; false when the
    // payload is not exactly a sequence of length-prefixed, parsable records.
    static bool DecodeBatch(const RawFrame& frame, std::vector<com::mivo::zel::model::MarketData>* records,
                            int* decompressed_size = nullptr) {
        std::string plain = frame.payload;
        if (ServiceContract::IsCompressed(frame.header.m_flags)) {
            if (frame.payload.size() < 4) {
                return false;
            }
            const int size = WireOrder::ReadInt32(frame.payload.data());
            if (size < 0) {
                return false;
            }
            plain.assign(static_cast<size_t>(size), '\0');
            const int got = LZ4_decompress_safe(frame.payload.data() + 4, &plain[0],
                                                static_cast<int>(frame.payload.size() - 4), size);
            if (got != size) {
                return false;
            }
            if (decompressed_size != nullptr) {
                *decompressed_size = size;
            }
        }
        size_t at = 0;
        while (at < plain.size()) {
            if (plain.size() - at < 4) {
                return false;
            }
            const int length = WireOrder::ReadInt32(plain.data() + at);
            if (length < 0 || plain.size() - at - 4 < static_cast<size_t>(length)) {
                return false;
            }
            com::mivo::zel::model::MarketData record;
            if (!record.ParseFromArray(plain.data() + at + 4, length)) {
                return false;
            }
            records->push_back(std::move(record));
            at += 4 + static_cast<size_t>(length);
        }
        return true;
    }

    // Reads push frames until count records came (skipping other frames); false on a bad batch or no data.
    bool ReadRecords(RawFrameClient& client, size_t count,
                     std::vector<com::mivo::zel::model::MarketData>* records,
                     std::vector<RawFrame>* frames = nullptr) {
        while (records->size() < count) {
            RawFrame frame;
            if (!client.ReadUntil(com::mivo::zel::model::PUSH_MARKET_DATA, &frame) ||
                !DecodeBatch(frame, records)) {
                return false;
            }
            if (frames != nullptr) {
                frames->push_back(frame);
            }
        }
        return true;
    }

    std::unique_ptr<SimService> m_service;
};

}  // namespace com::mivo::kmr::client::testing
