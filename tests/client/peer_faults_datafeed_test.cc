// A datafeed node that misbehaves: answers that never come, wrong trace ids,
// links that end without an error. Every wait ends at its limit, every lost
// link is reported once with the node that was lost, and a closed link
// leaves no stale state behind.
#include <cstdio>
#include <cstdlib>
#include <future>

#include "ESysMessageType.pb.h"
#include "SysHeartbeat.pb.h"
#include "client/datafeed_client.h"
#include "client/session_fixture.h"
#include "client/socket_connect_test_peer.h"
#include "sim/sim_frame_writer.h"
#include "support/misbehaving_peer.h"

namespace com::mivo::kmr::client {
namespace {

namespace model = com::mivo::zel::model;
using testing::MisbehavingPeer;
using testing::RecordingHandle;
using Answer = MisbehavingPeer::Answer;

// Runs fn; a call that has not returned after the limit is a hang, which
// no later assertion could report: the test binary stops with a message.
int ReturnsWithin(const std::function<int()>& fn, std::chrono::seconds limit = std::chrono::seconds(20)) {
    auto result = std::async(std::launch::async, fn);
    if (result.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "call still blocked after %lld s\n", static_cast<long long>(limit.count()));
        std::abort();
    }
    return result.get();
}

class PeerFaultTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        Configure({{"nuvexia_config_login_response_wait_time", "1"},
                   {"nuvexia_config_subscribe_response_wait_time", "1"}});
    }
    void TearDown() override {
        if (m_feed) {
            m_feed->Stop();
            m_feed.reset();
        }
        SessionTest::TearDown();
    }

    void StartFeed(std::vector<const MisbehavingPeer*> nodes) {
        DatafeedNodeMap table;
        int priority = 9;
        for (const MisbehavingPeer* node : nodes) {
            table[1].emplace(priority--, node->Host());
        }
        m_feed = std::make_unique<DatafeedClient>(&m_events);
        m_feed->Init("alice", "token-1", table);
        m_feed->Start();
    }

    static model::SubscribeRequest Request() {
        model::SubscribeRequest request;
        request.mutable_subscribebydatatype()->add_zeldatatypes(3);
        return request;
    }

    int Subscribe() {
        return ReturnsWithin([this] {
            model::SubscribeRequest request = Request();
            return m_feed->TrySubscribe(&request);
        });
    }

    static std::string HostText(const MisbehavingPeer& node) { return node.Host().ToString(); }

    MisbehavingPeer m_node{MisbehavingPeer::Role::kDatafeed};
    RecordingHandle m_events;
    std::unique_ptr<DatafeedClient> m_feed;
};

TEST_F(PeerFaultTest, SubscribeIgnoredByANodeThatAnswersHeartbeatsEndsAtTheLimit) {
    m_node.SetSubscribe(Answer::kSilent);
    StartFeed({&m_node});
    ASSERT_EQ(ReturnsWithin([this] { return m_feed->TryLoginDatafeed(); }), 0);
    EXPECT_EQ(Subscribe(), -1040);
    // Sent once and left unanswered: the wait, not the send, failed.
    EXPECT_EQ(m_node.CountOf(model::SUBSCRIBE_REQUEST), 1u);
    EXPECT_TRUE(m_feed->isAllConnected());
    // The link itself is fine: the next request is answered.
    m_node.SetSubscribe(Answer::kNormal);
    EXPECT_EQ(Subscribe(), 0);
    EXPECT_EQ(m_node.Accepted(), 1);
}

TEST_F(PeerFaultTest, SubscribeAnsweredUnderAWrongTraceIdEndsTheWaitAndTheLink) {
    m_node.SetSubscribe(Answer::kWrongTrace);
    StartFeed({&m_node});
    ASSERT_EQ(m_feed->TryLoginDatafeed(), 0);
    EXPECT_EQ(Subscribe(), -1040);
    EXPECT_FALSE(m_feed->isAllConnected());
    EXPECT_EQ(m_events.Count("Disconnected 1 " + HostText(m_node)), 1u);
}

TEST_F(PeerFaultTest, ASiteWhoseLinkWasDroppedIsNotCountedWithItsOldSuccess) {
    StartFeed({&m_node});
    ASSERT_EQ(m_feed->TryLoginDatafeed(), 0);
    ASSERT_EQ(Subscribe(), 0);
    ASSERT_TRUE(m_feed->isAllSubscibed());
    // A frame under a trace id the client never sent makes the reader drop the link.
    m_node.Push(SimFrameWriter::Response(model::HEARTBEAT_RESPONSE, "bogus", model::SysHeartbeat()));
    ASSERT_TRUE(SessionTest::WaitUntil([&] { return !m_feed->isAllConnected(); }));
    EXPECT_FALSE(m_feed->isAllSubscibed());
    // Nothing can be sent to the site: no success for it.
    EXPECT_EQ(Subscribe(), -1040);
    EXPECT_EQ(m_node.CountOf(model::SUBSCRIBE_REQUEST), 1u);
}

TEST_F(PeerFaultTest, LoginNeverAnsweredOnALinkKeptAliveEndsAtTheLimit) {
    // No read timeout: only the login limit can end the wait.
    Configure({{"nuvexia_config_read_timeout", "0"},
               {"nuvexia_config_login_response_wait_time", "1"},
               {"nuvexia_config_subscribe_response_wait_time", "1"}});
    m_node.SetLogin(Answer::kSilent);
    StartFeed({&m_node});
    EXPECT_EQ(ReturnsWithin([this] { return m_feed->TryLoginDatafeed(); }), -1033);
    EXPECT_EQ(m_node.CountOf(model::LOGIN_REQUEST), 1u);
    EXPECT_EQ(m_events.Count("NodeSuccess"), 0u);
    EXPECT_TRUE(SessionTest::WaitUntil([&] { return m_node.ClosedByClient() == 1; }));
    // The next attempt starts afresh.
    m_node.SetLogin(Answer::kNormal);
    EXPECT_EQ(ReturnsWithin([this] { return m_feed->TryLoginDatafeed(); }), 0);
}

TEST_F(PeerFaultTest, ACleanCloseByTheNodeIsOneDisconnectNamingIt) {
    StartFeed({&m_node});
    ASSERT_EQ(m_feed->TryLoginDatafeed(), 0);
    m_node.CloseConnections();
    ASSERT_TRUE(SessionTest::WaitUntil([&] { return m_events.Count("Disconnected") >= 1; }));
    // The walk goes past the only node; no further notice for a link that never opened.
    ASSERT_TRUE(SessionTest::WaitUntil([&] { return !m_feed->isAllConnected(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_events.Count("Disconnected"), 1u);
    EXPECT_EQ(m_events.Count("Disconnected 1 " + HostText(m_node)), 1u);
}

TEST_F(PeerFaultTest, FailoverNamesTheNodeThatWasLostOnceAndNeverTheBackup) {
    MisbehavingPeer backup(MisbehavingPeer::Role::kDatafeed);
    StartFeed({&m_node, &backup});
    ASSERT_EQ(m_feed->TryLoginDatafeed(), 0);
    ASSERT_EQ(backup.Accepted(), 0);
    m_node.ResetConnections();
    ASSERT_TRUE(backup.WaitForRequests(model::LOGIN_REQUEST, 1));
    ASSERT_TRUE(SessionTest::WaitUntil([&] { return m_feed->isAllConnected(); }));
    EXPECT_EQ(m_events.Count("Disconnected"), 1u);
    EXPECT_EQ(m_events.Count("Disconnected 1 " + HostText(m_node)), 1u);

    // Heartbeats that stop coming end the backup's link: one notice naming it.
    backup.SetHeartbeat(Answer::kSilent);
    ASSERT_TRUE(
        SessionTest::WaitUntil([&] { return m_events.Count("Disconnected 1 " + HostText(backup)) == 1; }));
    EXPECT_EQ(m_events.Count("Disconnected"), 2u);
}

}  // namespace
}  // namespace com::mivo::kmr::client
