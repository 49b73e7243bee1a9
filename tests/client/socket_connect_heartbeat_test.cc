// Heartbeat of the datafeed connection: rates in the body, the miss limit and the reset.
#include <gtest/gtest.h>

#include <cstdio>

#include "client/socket_connect_test_peer.h"
#include "common/base_config.h"
#include "common/test_seam.h"

namespace com::mivo::kmr::client::testing {
namespace {

using State = SocketConnectThread;

TEST(HeartbeatRates, TrafficInKilobytesAndFramesPerSecond) {
    EXPECT_EQ(SocketConnectThread::HeartbeatTraffic(20480, 10), 2);
    EXPECT_EQ(SocketConnectThread::HeartbeatTps(50, 10), 5);
    EXPECT_EQ(SocketConnectThread::HeartbeatTraffic(1023, 1), 0);
    EXPECT_EQ(SocketConnectThread::HeartbeatTps(9, 10), 0);
    EXPECT_EQ(SocketConnectThread::HeartbeatTraffic(0, 3), 0);
    EXPECT_EQ(SocketConnectThread::HeartbeatTraffic(INT32_MAX, 1), 2097151);
}

class HeartbeatTest : public ::testing::Test {
protected:
    void Connect(int divisor) {
        TestSeam::SetTimeDivisor(divisor);
        BaseConfig::GetInstance().SetUseSSL(false);
        SiteNodeMap nodes;
        nodes.emplace(9, node.Host());
        rig = std::make_unique<ConnectionRig>(nodes, 2);
        rig->connection->TryConnect();
        ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_SUCCESS));
    }
    void TearDown() override {
        rig.reset();
        TestSeam::SetTimeDivisor(1);
    }

    std::vector<model::SysHeartbeat> Heartbeats() {
        std::vector<model::SysHeartbeat> out;
        for (const auto& frame : node.FramesOf(model::HEARTBEAT_REQUEST)) {
            model::SysHeartbeat body;
            EXPECT_TRUE(body.ParseFromString(frame.body));
            out.push_back(body);
        }
        return out;
    }

    LogRecorder log;
    ScriptedNode node;
    std::unique_ptr<ConnectionRig> rig;
};

TEST_F(HeartbeatTest, BodyCarriesTrafficAndTpsOfTheInterval) {
    Connect(10);  // one heartbeat second is 100 ms
    // 50 frames, 20480 payload bytes, right after the login.
    std::string bytes;
    for (int i = 0; i < 50; ++i) {
        bytes += MarketFrame(std::string(i < 30 ? 410 : 409, 'm'));
    }
    ASSERT_TRUE(node.Send(bytes));
    size_t received = 0;
    ASSERT_TRUE(WaitUntil([&] {
        received += rig->Drain().size();
        return received == 50;
    }));
    ASSERT_TRUE(WaitUntil([&] { return node.CountOf(model::HEARTBEAT_REQUEST) >= 2; }));
    auto lines = log.Matching("Send heartbeat success");
    ASSERT_GE(lines.size(), 1u);
    int traffic = -1, tps = -1, interval = -1;
    ASSERT_EQ(
        std::sscanf(lines[0].c_str(), "Send heartbeat success, traffic: %d KB/s, tps: %d/s, interval: %d(s)",
                    &traffic, &tps, &interval),
        3);
    ASSERT_GT(interval, 0);
    auto beats = Heartbeats();
    EXPECT_EQ(beats[0].trafficlog(), traffic);
    EXPECT_EQ(beats[0].tpslog(), tps);
    EXPECT_EQ(traffic, SocketConnectThread::HeartbeatTraffic(20480, interval));
    EXPECT_EQ(tps, SocketConnectThread::HeartbeatTps(50, interval));
    if (interval == 10) {
        EXPECT_EQ(traffic, 2);
        EXPECT_EQ(tps, 5);
    }
    // Nothing since: the next heartbeat reports zero (an empty body).
    EXPECT_EQ(beats[1].trafficlog(), 0);
    EXPECT_EQ(beats[1].tpslog(), 0);
    EXPECT_TRUE(node.FramesOf(model::HEARTBEAT_REQUEST)[1].body.empty());
}

TEST_F(HeartbeatTest, SilentNodeIsResetOnTheSeventhTick) {
    node.SetMuteHeartbeat(true);
    Connect(100);
    ASSERT_TRUE(WaitUntil([&] { return log.Has("Not receive heartbeat from datafeed service"); }));
    ASSERT_TRUE(WaitUntil([&] { return log.Has("Send heartbeat msg failed"); }));
    EXPECT_EQ(rig->connection->getState(), State::CONNECT_STATE_NONE);
    EXPECT_EQ(node.CountOf(model::HEARTBEAT_REQUEST), 6u);
    EXPECT_TRUE(log.Has("Reset connect thread"));
    EXPECT_TRUE(WaitUntil([&] { return node.PeerClosed(); }));
    // The heartbeat has ended: no further tick, no further line.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(log.Count("Send heartbeat msg failed"), 1u);
    EXPECT_EQ(log.Count("Not receive heartbeat from datafeed service"), 1u);
}

TEST_F(HeartbeatTest, AnswerAfterFiveMissesKeepsTheLink) {
    node.SetMuteHeartbeat(true);
    Connect(20);  // 500 ms per tick leaves room to answer before the seventh
    ASSERT_TRUE(WaitUntil([&] { return node.CountOf(model::HEARTBEAT_REQUEST) >= 5; }));
    model::SysHeartbeat empty;
    ASSERT_TRUE(node.Send(Response(model::HEARTBEAT_RESPONSE, "", empty)));
    ASSERT_TRUE(WaitUntil(
        [&] { return log.Has("Receive heatbeat from :127.0.0.1:" + std::to_string(node.Port())); }));
    // Past the seventh and up to the eleventh tick the link stays.
    ASSERT_TRUE(WaitUntil([&] { return node.CountOf(model::HEARTBEAT_REQUEST) >= 11; }));
    EXPECT_FALSE(log.Has("Not receive heartbeat from datafeed service"));
    EXPECT_TRUE(rig->connection->isLoginSuccess());
    EXPECT_EQ(node.Accepted(), 1);
}

TEST_F(HeartbeatTest, ALoginRunsOneTimerOnly) {
    Connect(100);
    // Log in again on a new socket: the first login's timer must not keep running beside the new one.
    rig->connection->Reset();
    node.SetMuteHeartbeat(true);
    rig->connection->TryConnect();
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_SUCCESS));
    ASSERT_TRUE(WaitUntil([&] { return log.Has("Send heartbeat msg failed"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(log.Count("Send heartbeat msg failed"), 1u);
    EXPECT_EQ(log.Count("Not receive heartbeat from datafeed service"), 1u);
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
