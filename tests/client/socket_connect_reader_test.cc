// The datafeed connection's frame reader against a peer whose bytes the test writes.
#include <gtest/gtest.h>

#include "client/socket_connect_test_peer.h"
#include "common/base_config.h"

namespace com::mivo::kmr::client::testing {
namespace {

using State = SocketConnectThread;

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        BaseConfig::GetInstance().SetUseSSL(false);
        SiteNodeMap nodes;
        nodes.emplace(9, node.Host());
        rig = std::make_unique<ConnectionRig>(nodes, 4);
        rig->connection->TryConnect();
        ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_SUCCESS));
    }

    std::vector<std::pair<RawData, std::string>> WaitRecords(size_t n) {
        std::vector<std::pair<RawData, std::string>> all;
        WaitUntil([&] {
            auto more = rig->Drain();
            all.insert(all.end(), more.begin(), more.end());
            return all.size() >= n;
        });
        return all;
    }

    // Something the reader must answer, sent behind the bytes under test: once
    // it is seen, the bytes before it have been looked at too.
    void SendMarker(const std::string& payload = "marker") { ASSERT_TRUE(node.Send(MarketFrame(payload))); }

    LogRecorder log;
    ScriptedNode node;
    std::unique_ptr<ConnectionRig> rig;
};

TEST_F(ReaderTest, LoginCarriesTokenAndFiresCallbacksInOrder) {
    auto logins = node.FramesOf(model::LOGIN_REQUEST);
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].trace_id.rfind("sdk_login_", 0), 0u);
    model::LoginRequest request;
    ASSERT_TRUE(request.ParseFromString(logins[0].body));
    EXPECT_EQ(request.logintype(), model::NUVEXIA_LOGIN_FOR_DATAFEED);
    EXPECT_EQ(request.uwt().username(), "alice");
    EXPECT_EQ(request.uwt().token(), "token-123");
    EXPECT_FALSE(request.has_uwp());
    EXPECT_EQ(request.serverport(), node.Port());

    std::string host = "127.0.0.1:" + std::to_string(node.Port());
    std::vector<std::string> expected = {"NodeSuccess 4 " + host, "ServiceResponse ok"};
    EXPECT_EQ(rig->handle.Events(), expected);
    EXPECT_TRUE(log.Has("Login datafeed node success, site type: 4"));
    EXPECT_TRUE(
        log.Has("Start send heatbeat to datafeed service, site type: 4, service host: " + host + "."));

    // A second attempt on a logged-in connection changes nothing.
    rig->connection->TryConnect();
    EXPECT_TRUE(log.Has("Is already connected"));
    EXPECT_EQ(node.Accepted(), 1);
    EXPECT_TRUE(rig->connection->isLoginSuccess());
}

TEST_F(ReaderTest, SeveralFramesInOneReadKeepOrderAndContent) {
    std::string payload_a(1000, 'a'), payload_b = "b", payload_c(5000, 'c');
    payload_c[17] = '\0';
    std::string bytes = MarketFrame(payload_a, 1, 10) + MarketFrame(payload_b, 2, 20, 0x4000) +
                        MarketFrame(payload_c, -3, -30);
    ASSERT_TRUE(node.Send(bytes));
    auto records = WaitRecords(3);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].second, payload_a);
    EXPECT_EQ(records[0].first.m_channel_no, 1);
    EXPECT_EQ(records[0].first.m_channel_index, 10);
    EXPECT_EQ(records[0].first.m_data_type, 7);
    EXPECT_EQ(records[0].first.m_msg_num, 1);
    EXPECT_EQ(records[0].first.m_flags, 0);
    EXPECT_EQ(records[1].second, payload_b);
    EXPECT_EQ(records[1].first.m_flags, 0x4000);  // queued as received, never decompressed here
    EXPECT_EQ(records[2].second, payload_c);
    EXPECT_EQ(records[2].second.size(), 5000u);
    EXPECT_EQ(records[2].first.m_channel_no, -3);
    EXPECT_EQ(records[2].first.m_channel_index, -30);
}

TEST_F(ReaderTest, FrameSplitAcrossReadsIsTakenWhole) {
    std::string payload(60000, 'x');
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>(i * 7);
    }
    std::string bytes = MarketFrame(payload) + MarketFrame("tail");
    // Cuts inside the header, inside the meta record and inside the payload.
    const size_t cuts[] = {5, 14, 3000, 59000, bytes.size()};
    size_t from = 0;
    for (size_t cut : cuts) {
        ASSERT_TRUE(node.Send(bytes.substr(from, cut - from)));
        from = cut;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    auto records = WaitRecords(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].second, payload);
    EXPECT_EQ(records[1].second, "tail");
    EXPECT_TRUE(rig->connection->isLoginSuccess());
}

TEST_F(ReaderTest, TwelveBytesAreAWholeFrameWhenMetaAndPayloadAreEmpty) {
    MessageHeader header;
    header.m_version = 1;
    header.m_protocol = 1;
    char raw[12];
    header.WriteTo(raw);
    ASSERT_TRUE(node.Send(std::string(raw, 12)));
    // Handled without waiting for more bytes.
    EXPECT_TRUE(WaitUntil([&] { return log.Has("Receive not known zelsysmessagetype: 0"); }));
    SendMarker();
    auto records = WaitRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].second, "marker");
    EXPECT_TRUE(log.Has("Receive not known zelsysmessagetype: 0, channelNo: 0, channelIdx: 0, "));
}

TEST_F(ReaderTest, FrameLongerThanScratchBufferIsRead) {
    model::MetaData meta = Meta(model::PUSH_MARKET_DATA);
    meta.set_zelsecurityid(std::string(60000, 's'));  // meta near its limit
    std::string payload(65535, 'p');
    payload.back() = 'q';
    ASSERT_TRUE(node.Send(Frame(0, meta, payload)));
    SendMarker();
    auto records = WaitRecords(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].second, payload);
    EXPECT_EQ(records[1].second, "marker");
}

TEST_F(ReaderTest, GeneralErrorMessageIsDroppedAndReadingGoesOn) {
    model::MetaData meta = Meta(model::GENERAL_ERROR_MESSAGE);
    meta.set_channelno(5);
    meta.set_channelindex(6);
    ASSERT_TRUE(node.Send(Frame(0, meta, "whatever")));
    SendMarker();
    auto records = WaitRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].second, "marker");
    EXPECT_TRUE(log.Has("Receive not known zelsysmessagetype: 10, channelNo: 5, channelIdx: 6, "));
    EXPECT_TRUE(rig->connection->isLoginSuccess());
}

struct AbnormalCase {
    const char* name;
    int32_t meta_length;
    int32_t payload_length;
};

class AbnormalLengthTest : public ReaderTest, public ::testing::WithParamInterface<AbnormalCase> {};

TEST_P(AbnormalLengthTest, EndsTheReaderWithoutMovingOn) {
    MessageHeader header;
    header.m_version = 1;
    header.m_protocol = 1;
    header.m_metaLength = GetParam().meta_length;
    header.m_payloadLength = GetParam().payload_length;
    char raw[12];
    header.WriteTo(raw);
    ASSERT_TRUE(node.Send(std::string(raw, 12) + std::string(64, '\0')));
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_FAILED));
    EXPECT_TRUE(log.Has("msg parse fail,Message length is abnormal"));
    EXPECT_TRUE(log.Has("Close datafeed socket"));
    EXPECT_EQ(rig->handle.Count("NodeFailed 4 127.0.0.1:" + std::to_string(node.Port())), 1u);
    EXPECT_TRUE(WaitUntil([&] { return node.PeerClosed(); }));
    EXPECT_EQ(node.Accepted(), 1);  // no other node, no new attempt
    EXPECT_TRUE(rig->Drain().empty());
}

INSTANTIATE_TEST_SUITE_P(Lengths, AbnormalLengthTest,
                         ::testing::Values(AbnormalCase{"meta65536", 65536, 0},
                                           AbnormalCase{"payload65536", 0, 65536},
                                           AbnormalCase{"negativePayload", 2, -1},
                                           AbnormalCase{"negativeMeta", INT32_MIN, 0}),
                         [](const auto& case_info) { return std::string(case_info.param.name); });

TEST_F(ReaderTest, ForeignTraceIdIsRejected) {
    ASSERT_TRUE(node.Send(MarketFrame("good") + MarketFrame("foreign", 1, 1, 0, "sdk_login_1")));
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_FAILED));
    EXPECT_TRUE(log.Has("Read datafeed response meta data failed!"));
    EXPECT_EQ(rig->handle.Count("NodeFailed"), 1u);
    auto records = rig->Drain();
    ASSERT_EQ(records.size(), 1u);  // the frame before it was taken
    EXPECT_EQ(records[0].second, "good");
    EXPECT_TRUE(WaitUntil([&] { return node.PeerClosed(); }));
}

TEST_F(ReaderTest, UnparsableMetaRecordIsRejected) {
    MessageHeader header;
    header.m_metaLength = 8;
    header.m_payloadLength = 0;
    char raw[12];
    header.WriteTo(raw);
    ASSERT_TRUE(node.Send(std::string(raw, 12) + std::string(8, '\xff') + std::string(4, '\0')));
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_FAILED));
    EXPECT_TRUE(log.Has("meta data ParseFromArray failed!"));
    EXPECT_TRUE(log.Has("Read datafeed response meta data failed!"));
}

TEST_F(ReaderTest, SubscribeAcceptedAndRefused) {
    model::SubscribeRequest request;
    ASSERT_EQ(rig->connection->SendSubscribeMsg(&request), 0);
    EXPECT_TRUE(rig->connection->isStillSubscibing());
    EXPECT_FALSE(rig->connection->isNotSubscribed());
    ASSERT_TRUE(WaitUntil([&] { return node.CountOf(model::SUBSCRIBE_REQUEST) == 1; }));
    std::string trace = node.LastTrace(model::SUBSCRIBE_REQUEST);
    EXPECT_EQ(trace.rfind("sdk_subscribe_", 0), 0u);

    model::SubscribeResponse accepted;
    accepted.set_issuccess(true);
    accepted.mutable_errorcontext()->set_message("fine");
    ASSERT_TRUE(node.Send(Response(model::SUBSCRIBE_RESPONSE, trace, accepted)));
    ASSERT_TRUE(WaitUntil([&] { return rig->connection->isSubscribeSuccess(); }));
    EXPECT_EQ(rig->connection->getSubscribeRsp().errorcontext().message(), "fine");
    EXPECT_FALSE(rig->connection->isNotSubscribed());

    ASSERT_EQ(rig->connection->SendSubscribeMsg(&request), 0);
    ASSERT_TRUE(WaitUntil([&] { return node.CountOf(model::SUBSCRIBE_REQUEST) == 2; }));
    model::SubscribeResponse refused;
    refused.mutable_errorcontext()->set_errorcode(403);
    refused.mutable_errorcontext()->set_message("data type not permitted");
    ASSERT_TRUE(node.Send(Response(model::SUBSCRIBE_RESPONSE, "", refused)));  // empty trace id passes
    ASSERT_TRUE(WaitUntil([&] { return rig->connection->isSubscribeRefused(); }));
    EXPECT_TRUE(log.Has("Receive subscribe response, subscribe failed"));
    EXPECT_TRUE(log.Has("refused the subscription: error code 403, data type not permitted"));
    // A refusal costs only that request: the site keeps what it had
    // accepted before, its socket and its login.
    EXPECT_TRUE(rig->connection->isSubscribeSuccess());
    EXPECT_TRUE(rig->connection->isLoginSuccess());
    EXPECT_FALSE(node.PeerClosed());
    ASSERT_EQ(rig->connection->SendSubscribeMsg(&request), 0);
    EXPECT_FALSE(rig->connection->isSubscribeRefused());
    ASSERT_TRUE(WaitUntil([&] { return node.CountOf(model::SUBSCRIBE_REQUEST) == 3; }));
}

TEST_F(ReaderTest, ResponseBodyLengthOutsidePayloadIsADecodeFailure) {
    model::SubscribeRequest request;
    ASSERT_EQ(rig->connection->SendSubscribeMsg(&request), 0);
    // Body length prefix 1000 in a 6-byte payload.
    std::string payload = std::string("\xe8\x03\x00\x00", 4) + "\x08\x01";
    ASSERT_TRUE(node.Send(Frame(0, Meta(model::SUBSCRIBE_RESPONSE), payload)));
    ASSERT_TRUE(
        WaitUntil([&] { return rig->connection->getSubscribeState() == State::CONNECT_STATE_FAILED; }));
    EXPECT_TRUE(log.Has("Datafeed subscribe response body len: 1000"));
    EXPECT_TRUE(log.Has("Decode datafeed subscribe response body failed! Try to resubscribe"));
    EXPECT_TRUE(WaitUntil([&] { return node.PeerClosed(); }));
}

TEST_F(ReaderTest, LoginResponseAfterSubscribeIsForeign) {
    model::SubscribeRequest request;
    std::string login_trace = node.LastTrace(model::LOGIN_REQUEST);
    ASSERT_EQ(rig->connection->SendSubscribeMsg(&request), 0);
    ASSERT_TRUE(node.Send(LoginAnswer(true, login_trace)));
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_FAILED));
    EXPECT_TRUE(log.Has("Read datafeed response meta data failed!"));
}

TEST_F(ReaderTest, ResetByPeerIsAnErrorThatCostsTheNode) {
    ASSERT_TRUE(node.Send(MarketFrame(std::string(60000, 'r'))));
    node.ResetConnection();
    // The only node is gone: the walk ends past it.
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_FAILED));
    std::string host = "127.0.0.1:" + std::to_string(node.Port());
    EXPECT_EQ(rig->handle.Count("Disconnected 4 " + host), 1u);
    EXPECT_EQ(log.Count("Connected to datafeed service error, errno: 104"), 1u);
    EXPECT_EQ(log.Count("Connect to datafeed service failed, try to reconnect other node"), 1u);
}

TEST(ReaderNoSocket, SubscribeWithoutSocketFails) {
    LogRecorder log;
    SiteNodeMap nodes;
    nodes.emplace(1, ServerHost("127.0.0.1", 1, false));
    ConnectionRig rig(nodes);
    model::SubscribeRequest request;
    EXPECT_TRUE(rig.connection->isNotSubscribed());
    EXPECT_EQ(rig.connection->SendSubscribeMsg(&request), -2405);
    EXPECT_EQ(rig.connection->getSubscribeState(), State::CONNECT_STATE_FAILED);
    EXPECT_TRUE(rig.connection->isNotSubscribed());
    EXPECT_FALSE(rig.connection->isStillSubscibing());
    EXPECT_TRUE(log.Has("Not connect, cannt send subscribe msg to this datafeed node"));
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing

namespace com::mivo::kmr::client::testing {
namespace {

// A consumer slower than the feed: over budget the reader stops reading, so
// TCP pushes back on the node; nothing is dropped, each stall is logged once
// and counted, reading resumes once half the budget is free, and the link
// stays up.
class ReaderFlow : public ::testing::Test {
protected:
    // A logged-in connection whose site may hold budget bytes.
    ConnectionRig& Connect(int64_t budget) {
        BaseConfig::GetInstance().SetUseSSL(false);
        SiteNodeMap nodes;
        nodes.emplace(1, node.Host());
        m_rig = std::make_unique<ConnectionRig>(nodes, 1, nullptr, budget);
        m_rig->connection->TryConnect();
        EXPECT_TRUE(m_rig->WaitState(SocketConnectThread::CONNECT_STATE_SUCCESS));
        return *m_rig;
    }

    LogRecorder log;
    ScriptedNode node;
    std::unique_ptr<ConnectionRig> m_rig;
};

TEST_F(ReaderFlow, OverBudgetTheReaderWaitsAndLosesNothing) {
    ConnectionRig& rig = Connect(1 << 20);

    const int64_t total = 2000;
    std::string bytes;
    for (int64_t i = 0; i < total; ++i) {
        bytes += MarketFrame(std::string(6000, 'x'), 1, i);  // 8 KiB buffers: 128 fill the budget
    }
    std::thread sender([&] { node.Send(bytes); });
    ASSERT_TRUE(WaitUntil([&] { return rig.flow->IsHeldBack(); }));
    // Held back means held: the budget is taken and nothing more is admitted.
    const uint64_t frames = rig.flow->Counters().frames.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(rig.flow->Counters().frames.load(), frames);
    EXPECT_GE(rig.flow->HeldBytes(), rig.flow->Budget());
    EXPECT_LE(rig.flow->HeldBytes(), rig.flow->Budget() + 8192);
    int64_t expected = 0;
    bool in_order = true;
    WaitUntil(
        [&] {
            for (auto& record : rig.Drain(16)) {
                in_order = in_order && record.first.m_channel_index == expected;
                ++expected;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return expected >= total;
        },
        std::chrono::seconds(120));
    sender.join();
    EXPECT_EQ(expected, total);
    EXPECT_TRUE(in_order);
    EXPECT_LE(rig.flow->PeakHeldBytes(), rig.flow->Budget() + 8192);
    const uint64_t stalls = rig.flow->Counters().stalls.load();
    EXPECT_GE(stalls, 2u);
    EXPECT_EQ(log.Matching("reading paused until callbacks catch up").size(), stalls);
    EXPECT_TRUE(WaitUntil([&] { return log.Matching("reading resumed after").size() == stalls; }));
    EXPECT_EQ(rig.flow->Counters().frames.load(), static_cast<uint64_t>(total) + 1);  // and the login answer
    EXPECT_TRUE(rig.connection->isLoginSuccess());
}

// A budget smaller than one frame still lets one frame through at a time.
TEST_F(ReaderFlow, BudgetSmallerThanAFrameStillMakesProgress) {
    ConnectionRig& rig = Connect(100);
    std::string bytes;
    for (int64_t i = 0; i < 20; ++i) {
        bytes += MarketFrame(std::string(500, 'y'), 1, i);
    }
    ASSERT_TRUE(node.Send(bytes));
    int64_t expected = 0;
    WaitUntil([&] {
        for (auto& record : rig.Drain()) {
            EXPECT_EQ(record.first.m_channel_index, expected);
            ++expected;
        }
        return expected == 20;
    });
    EXPECT_EQ(expected, 20);
    // One frame at a time: never more than one buffer held.
    EXPECT_LE(rig.flow->PeakHeldBytes(), static_cast<int64_t>(SiteFlow::kSmallestBuffer));
    EXPECT_EQ(rig.flow->OutstandingBuffers(), 0);
}

// The node's login answer carries the session token; the log shows the mask.
TEST(ReaderSecrets, TokenInTheLoginAnswerIsMasked) {
    BaseConfig::GetInstance().SetUseSSL(false);
    LogRecorder log;
    ScriptedNode node;
    node.SetLogin(ScriptedNode::Login::kIgnore);
    SiteNodeMap nodes;
    nodes.emplace(9, node.Host());
    ConnectionRig rig(nodes, 4);
    rig.connection->TryConnect();
    ASSERT_TRUE(WaitUntil([&] { return node.CountOf(model::LOGIN_REQUEST) == 1; }));

    model::LoginResponse answer;
    answer.set_issuccess(true);
    answer.set_token("node-token-5521");
    ASSERT_TRUE(node.Send(Response(model::LOGIN_RESPONSE, node.LastTrace(model::LOGIN_REQUEST), answer)));
    ASSERT_TRUE(rig.WaitState(State::CONNECT_STATE_SUCCESS));

    EXPECT_EQ(log.Count("node-token-5521"), 0u);
    EXPECT_EQ(log.Count(rig.token), 0u);
    auto lines = log.Matching("Datafeed login response: ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"token\":\"******\""), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
