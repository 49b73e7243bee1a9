// Datafeed node: token login, heartbeats and the four subscribe actions, driven by a raw client.
#include <gtest/gtest.h>

#include "SysHeartbeat.pb.h"
#include "sim/sim_data_types.h"
#include "sim_test_fixture.h"

namespace com::mivo::kmr::client::testing {
namespace {

using com::mivo::zel::model::LoginResponse;
using com::mivo::zel::model::SubscribeRequest;
using com::mivo::zel::model::SubscribeResponse;

class SimDatafeedTest : public SimServiceTest {
protected:
    LoginResponse LoginWith(RawFrameClient& client, const std::string& user, const std::string& token) {
        LoginResponse response;
        RawFrame frame;
        if (client.Connect("127.0.0.1", NodePort()) && client.SendDatafeedLogin(user, token) &&
            client.ReadFrame(&frame) == RawFrameClient::ReadResult::kFrame) {
            EXPECT_EQ(frame.meta.sysmessagetype(), com::mivo::zel::model::LOGIN_RESPONSE);
            EXPECT_EQ(frame.meta.traceid(), client.LastTraceId());
            RawFrameClient::DecodeResponse(frame, &response);
        }
        return response;
    }

    SubscribeResponse Subscribe(RawFrameClient& client, const SubscribeRequest& request) {
        SubscribeResponse response;
        RawFrame frame;
        if (client.SendSubscribe(request) &&
            client.ReadUntil(com::mivo::zel::model::SUBSCRIBE_RESPONSE, &frame)) {
            EXPECT_EQ(frame.meta.traceid(), client.LastTraceId());
            RawFrameClient::DecodeResponse(frame, &response);
        }
        return response;
    }

    static SubscribeRequest ByType(com::mivo::zel::model::ESubscribeActionType action,
                                   std::vector<int> types) {
        SubscribeRequest request;
        request.set_subscribeactiontype(action);
        for (int type : types) {
            request.mutable_subscribebydatatype()->add_zeldatatypes(type);
        }
        return request;
    }

    static SubscribeRequest ById(com::mivo::zel::model::ESubscribeActionType action, int type,
                                 std::vector<std::string> ids) {
        SubscribeRequest request;
        request.set_subscribeactiontype(action);
        auto* detail = request.mutable_subscribebyid()->add_subscribebyiddetails();
        detail->set_zeldatatype(type);
        for (const auto& id : ids) {
            detail->add_mivosecurityid(id);
        }
        return request;
    }

    // A feed too slow to push anything during a test, so that responses are the only frames.
    void StartQuietService() {
        SimServiceOptions options;
        options.feed.securities = 50;
        options.feed.records_per_second = 1e-9;
        StartService(options);
    }
};

TEST_F(SimDatafeedTest, TokenFromDiscoveryLogsIn) {
    StartQuietService();
    RawFrameClient client;
    LoginResponse response = LoginWith(client, kUser, Token());
    EXPECT_TRUE(response.issuccess());
    EXPECT_EQ(m_service->Node(0).CounterValues().logins_accepted, 1);
}

TEST_F(SimDatafeedTest, UnknownExpiredAndForeignTokensAreRefused) {
    StartQuietService();
    m_service->AddAccount({"other", "pw", {}});
    const std::string token = Token();

    RawFrameClient unknown;
    LoginResponse response = LoginWith(unknown, kUser, "0123456789abcdef0123456789abcdef");
    EXPECT_FALSE(response.issuccess());
    EXPECT_EQ(response.errorcontext().message(), "unknown token");

    RawFrameClient foreign;
    EXPECT_EQ(LoginWith(foreign, "other", token).errorcontext().message(), "token issued to another user");

    m_service->Accounts().ExpireAllTokens();
    RawFrameClient expired;
    EXPECT_EQ(LoginWith(expired, kUser, token).errorcontext().message(), "token expired");

    RawFrameClient fresh;
    EXPECT_TRUE(LoginWith(fresh, kUser, Token()).issuccess()) << "tokens issued after the expiry work";

    m_service->Node(0).Faults().refuse_login = true;
    RawFrameClient refused;
    EXPECT_EQ(LoginWith(refused, kUser, Token()).errorcontext().message(), "login refused by the service");
    EXPECT_EQ(m_service->Node(0).CounterValues().logins_refused, 4);
}

TEST_F(SimDatafeedTest, HeartbeatsAreAnsweredWithEmptyTraceUnlessMuted) {
    StartQuietService();
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    ASSERT_TRUE(client.SendHeartbeat(3, 4));
    RawFrame frame;
    ASSERT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kFrame);
    EXPECT_EQ(frame.meta.sysmessagetype(), com::mivo::zel::model::HEARTBEAT_RESPONSE);
    EXPECT_TRUE(frame.meta.traceid().empty());

    auto heartbeats = m_service->Requests().OfType(com::mivo::zel::model::HEARTBEAT_REQUEST);
    ASSERT_EQ(heartbeats.size(), 1u);
    com::mivo::zel::model::SysHeartbeat sent;
    ASSERT_TRUE(sent.ParseFromString(heartbeats[0].body));
    EXPECT_EQ(sent.trafficlog(), 3);
    EXPECT_EQ(sent.tpslog(), 4);

    m_service->Node(0).Faults().mute_heartbeat = true;
    ASSERT_TRUE(client.SendHeartbeat());
    EXPECT_EQ(client.ReadFrame(&frame, std::chrono::milliseconds(200)), RawFrameClient::ReadResult::kTimeout);
    m_service->Node(0).Faults().mute_heartbeat = false;
    ASSERT_TRUE(client.SendHeartbeat());
    ASSERT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kFrame);
    EXPECT_EQ(frame.meta.sysmessagetype(), com::mivo::zel::model::HEARTBEAT_RESPONSE);

    auto counters = m_service->Node(0).CounterValues();
    EXPECT_EQ(counters.heartbeats_received, 3);
    EXPECT_EQ(counters.heartbeats_answered, 2);
}

TEST_F(SimDatafeedTest, SubscribeBeforeLoginIsRefused) {
    StartQuietService();
    RawFrameClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", NodePort()));
    SubscribeResponse response =
        Subscribe(client, ByType(com::mivo::zel::model::COVERAGE, {SimDataTypes::kMdStock}));
    EXPECT_FALSE(response.issuccess());
    EXPECT_EQ(response.errorcontext().message(), "not logged in");
    EXPECT_EQ(m_service->Node(0).CounterValues().subscribe_refused, 1);
}

TEST_F(SimDatafeedTest, FourActionsEditTheConnectionsSubscription) {
    StartQuietService();
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    const auto& universe = m_service->Universe();
    const std::string stock_a = universe.Securities()[0].id;  // the first securities cover every class
    const std::string stock_b = universe.Securities()[7].id;

    // COVERAGE keeps only the permitted part of the request and says so.
    SubscribeResponse covered =
        Subscribe(client, ByType(com::mivo::zel::model::COVERAGE, {SimDataTypes::kZelStock, 999}));
    EXPECT_TRUE(covered.issuccess());
    ASSERT_EQ(covered.permitteddatatypes_size(), 1);
    EXPECT_EQ(covered.permitteddatatypes(0), SimDataTypes::kZelStock);

    // ADD by id: unknown ids and ids of securities without that record kind are left out.
    SubscribeResponse added = Subscribe(client, ById(com::mivo::zel::model::ADD, SimDataTypes::kMdTrade,
                                                     {stock_a, "NOPE.XX", universe.Securities()[3].id}));
    EXPECT_TRUE(added.issuccess());
    ASSERT_EQ(added.permittediddetails_size(), 1);
    ASSERT_EQ(added.permittediddetails(0).mivosecurityid_size(), 1);
    EXPECT_EQ(added.permittediddetails(0).mivosecurityid(0), stock_a);

    Subscribe(client, ById(com::mivo::zel::model::ADD, SimDataTypes::kMdTrade, {stock_b}));
    EXPECT_TRUE(Subscribe(client, ById(com::mivo::zel::model::DECREASE, SimDataTypes::kMdTrade, {stock_a}))
                    .issuccess());
    EXPECT_TRUE(
        Subscribe(client, ByType(com::mivo::zel::model::DECREASE, {SimDataTypes::kZelStock})).issuccess());

    // What is left is stock_b's MDTrade stream: the feed proves it by what it pushes.
    SimFeedOptions fast = m_service->Options().feed;
    fast.records_per_second = 0;
    fast.max_records = 20;
    m_service->SetFeedOptions(fast);
    std::vector<com::mivo::zel::model::MarketData> records;
    ASSERT_TRUE(ReadRecords(client, 20, &records));
    ASSERT_EQ(records.size(), 20u);
    for (const auto& record : records) {
        ASSERT_TRUE(record.has_mdtrade());
        EXPECT_EQ(record.mdtrade().zelsecurityid(), stock_b);
    }

    SubscribeResponse nothing = Subscribe(client, ByType(com::mivo::zel::model::ADD, {998}));
    EXPECT_FALSE(nothing.issuccess());
    EXPECT_FALSE(nothing.errorcontext().message().empty());

    EXPECT_TRUE(Subscribe(client, ByType(com::mivo::zel::model::CANCEL, {})).issuccess());
    auto counters = m_service->Node(0).CounterValues();
    EXPECT_EQ(counters.subscribe_coverage, 1);
    EXPECT_EQ(counters.subscribe_add, 3);
    EXPECT_EQ(counters.subscribe_decrease, 2);
    EXPECT_EQ(counters.subscribe_cancel, 1);
    EXPECT_EQ(counters.subscribe_refused, 1);
}

TEST_F(SimDatafeedTest, EntitlementsLimitWhatAUserMaySubscribe) {
    StartQuietService();
    m_service->AddAccount({kUser, kPassword, {SimDataTypes::kMdStock}});
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    SubscribeResponse response = Subscribe(
        client, ByType(com::mivo::zel::model::COVERAGE, {SimDataTypes::kMdStock, SimDataTypes::kZelStock}));
    EXPECT_TRUE(response.issuccess());
    ASSERT_EQ(response.permitteddatatypes_size(), 1);
    EXPECT_EQ(response.permitteddatatypes(0), SimDataTypes::kMdStock);
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
