// The misbehaving peer misbehaves exactly as scripted: the robustness suites
// rely on it to tell a client fault from a peer fault.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ESysMessageType.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"
#include "support/misbehaving_peer.h"
#include "support/raw_frame_client.h"

namespace com::mivo::kmr::client::testing {
namespace {

namespace model = com::mivo::zel::model;
using Answer = MisbehavingPeer::Answer;
using std::chrono::milliseconds;

model::LoginResponse LoginOf(const RawFrame& frame) {
    model::LoginResponse response;
    EXPECT_TRUE(RawFrameClient::DecodeResponse(frame, &response));
    return response;
}

TEST(MisbehavingPeerTest, DiscoveryAnswersWithTheScriptedNodeTable) {
    MisbehavingPeer peer(MisbehavingPeer::Role::kDiscovery);
    peer.SetNodeTable(MisbehavingPeer::ManySites(40, "127.0.0.1", 9));
    peer.SetToken("tok");
    RawFrameClient client;
    ASSERT_TRUE(client.Connect(peer.Ip(), peer.Port()));
    ASSERT_TRUE(client.SendDiscoveryLogin("alice", "pw"));
    RawFrame frame;
    ASSERT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kFrame);
    EXPECT_EQ(frame.meta.traceid(), client.LastTraceId());
    model::LoginResponse response = LoginOf(frame);
    EXPECT_TRUE(response.issuccess());
    EXPECT_EQ(response.token(), "tok");
    ASSERT_EQ(response.servers_size(), 40);
    EXPECT_EQ(response.servers(39).sitetype(), 40);
    ASSERT_EQ(peer.CountOf(model::LOGIN_REQUEST), 1u);
    EXPECT_EQ(peer.RequestsOf(model::LOGIN_REQUEST)[0].trace_id, client.LastTraceId());
}

TEST(MisbehavingPeerTest, RefusalCarriesTheErrorContextAndWrongTraceIsNotTheClients) {
    MisbehavingPeer peer(MisbehavingPeer::Role::kDatafeed);
    peer.SetRefusal(403, "unknown token");
    peer.SetLogin(Answer::kRefuse);
    RawFrameClient client;
    ASSERT_TRUE(client.Connect(peer.Ip(), peer.Port()));
    ASSERT_TRUE(client.SendDatafeedLogin("alice", "t0k"));
    RawFrame frame;
    ASSERT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kFrame);
    model::LoginResponse refused = LoginOf(frame);
    EXPECT_FALSE(refused.issuccess());
    EXPECT_EQ(refused.errorcontext().errorcode(), 403);
    EXPECT_EQ(refused.errorcontext().message(), "unknown token");

    peer.SetLogin(Answer::kWrongTrace);
    peer.SetEchoToken(true);
    ASSERT_TRUE(client.SendDatafeedLogin("alice", "t0k"));
    ASSERT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kFrame);
    EXPECT_NE(frame.meta.traceid(), client.LastTraceId());
    EXPECT_FALSE(frame.meta.traceid().empty());
    EXPECT_EQ(LoginOf(frame).token(), "t0k");
}

TEST(MisbehavingPeerTest, IgnoresSubscribesWhileAnsweringHeartbeats) {
    MisbehavingPeer peer(MisbehavingPeer::Role::kDatafeed);
    peer.SetSubscribe(Answer::kSilent);
    RawFrameClient client;
    ASSERT_TRUE(client.Connect(peer.Ip(), peer.Port()));
    model::SubscribeRequest request;
    request.mutable_subscribebydatatype()->add_zeldatatypes(7);
    ASSERT_TRUE(client.SendSubscribe(request));
    ASSERT_TRUE(client.SendHeartbeat());
    RawFrame frame;
    ASSERT_EQ(client.ReadFrame(&frame, milliseconds(2000)), RawFrameClient::ReadResult::kFrame);
    EXPECT_EQ(frame.meta.sysmessagetype(), model::HEARTBEAT_RESPONSE);
    EXPECT_EQ(client.ReadFrame(&frame, milliseconds(200)), RawFrameClient::ReadResult::kTimeout);
    EXPECT_EQ(peer.CountOf(model::SUBSCRIBE_REQUEST), 1u);
}

TEST(MisbehavingPeerTest, TrickleSendsTheAnswerOneByteAtATime) {
    MisbehavingPeer peer(MisbehavingPeer::Role::kDatafeed);
    peer.SetLogin(Answer::kTrickle);
    peer.SetTrickleInterval(milliseconds(1));
    RawFrameClient client;
    ASSERT_TRUE(client.Connect(peer.Ip(), peer.Port()));
    ASSERT_TRUE(client.SendDatafeedLogin("alice", "t0k"));
    RawFrame frame;
    ASSERT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kFrame);
    EXPECT_TRUE(LoginOf(frame).issuccess());
    // At least one read per byte of the header and meta record.
    EXPECT_GE(client.ReadCalls(), 12 + frame.header.m_metaLength);
}

TEST(MisbehavingPeerTest, BrokenFramesAndCloses) {
    MisbehavingPeer peer(MisbehavingPeer::Role::kDatafeed);
    RawFrameClient client;
    RawFrame frame;

    peer.SetLogin(Answer::kOversize);
    ASSERT_TRUE(client.Connect(peer.Ip(), peer.Port()));
    ASSERT_TRUE(client.SendDatafeedLogin("alice", "t0k"));
    ASSERT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kAbnormalLength);

    peer.SetLogin(Answer::kTruncated);
    ASSERT_TRUE(client.Connect(peer.Ip(), peer.Port()));
    ASSERT_TRUE(client.SendDatafeedLogin("alice", "t0k"));
    EXPECT_EQ(client.ReadFrame(&frame, milliseconds(300)), RawFrameClient::ReadResult::kTimeout);

    peer.SetLogin(Answer::kCloseMidFrame);
    ASSERT_TRUE(client.Connect(peer.Ip(), peer.Port()));
    ASSERT_TRUE(client.SendDatafeedLogin("alice", "t0k"));
    EXPECT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kClosed);

    peer.SetLogin(Answer::kNormal);
    ASSERT_TRUE(client.Connect(peer.Ip(), peer.Port()));
    ASSERT_TRUE(peer.WaitForAccepted(4));
    peer.CloseConnections();
    EXPECT_EQ(client.WaitForClose(), RawFrameClient::ReadResult::kClosed);
    EXPECT_EQ(peer.OpenConnections(), 0);
}

TEST(MisbehavingPeerTest, MuteDoorAcceptsAndBlackholeNeverCompletesTheHandshake) {
    MisbehavingPeer mute(MisbehavingPeer::Role::kDiscovery);
    mute.SetDoor(MisbehavingPeer::Door::kMute);
    RawFrameClient client;
    ASSERT_TRUE(client.Connect(mute.Ip(), mute.Port()));
    ASSERT_TRUE(client.SendDiscoveryLogin("alice", "pw"));
    RawFrame frame;
    EXPECT_EQ(client.ReadFrame(&frame, milliseconds(200)), RawFrameClient::ReadResult::kTimeout);
    EXPECT_EQ(mute.CountOf(model::LOGIN_REQUEST), 0u);

    MisbehavingPeer hole(MisbehavingPeer::Role::kDiscovery);
    hole.SetDoor(MisbehavingPeer::Door::kBlackhole);
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(hole.Port()));
    ::inet_pton(AF_INET, hole.Ip().c_str(), &addr.sin_addr);
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ASSERT_TRUE(rc == 0 || errno == EINPROGRESS);
    pollfd pfd{fd, POLLOUT, 0};
    EXPECT_EQ(::poll(&pfd, 1, 300), 0) << "the connect completed";
    ::close(fd);
    EXPECT_EQ(hole.Accepted(), 0);
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
