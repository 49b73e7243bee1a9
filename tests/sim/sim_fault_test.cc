// Every fault the service can be asked for, observed on the wire by a raw client; and clients that misbehave
// lose only their own connection.
#include <gtest/gtest.h>

#include "protocol/nuvexia_message_impl.h"
#include "sim_test_fixture.h"

namespace com::mivo::kmr::client::testing {
namespace {

using Result = RawFrameClient::ReadResult;

class SimFaultTest : public SimServiceTest {
protected:
    void SetUp() override {
        SimServiceTest::SetUp();
        SimServiceOptions options;
        options.feed.securities = 20;
        options.feed.records_per_second = 1e-9;  // responses only
        StartService(options);
    }

    // Sends a heartbeat and reads what comes back.
    Result Heartbeat(RawFrameClient& client, RawFrame* frame,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        EXPECT_TRUE(client.SendHeartbeat());
        return client.ReadFrame(frame, timeout);
    }

    static std::string Header(int8_t version, int32_t meta, int32_t payload) {
        MessageHeader header;
        header.m_version = version;
        header.m_protocol = 1;
        header.m_flags = 0x1000;
        header.m_metaLength = meta;
        header.m_payloadLength = payload;
        std::string bytes(MessageHeader::SIZE, '\0');
        header.WriteTo(&bytes[0]);
        return bytes;
    }
};

TEST_F(SimFaultTest, CloseConnectionsCleanlyOrWithReset) {
    RawFrameClient clean;
    ASSERT_TRUE(LoginAtNode(clean));
    m_service->Node(0).CloseConnections(SimCloseMode::kClean);
    EXPECT_EQ(clean.WaitForClose(), Result::kClosed);

    RawFrameClient reset;
    ASSERT_TRUE(LoginAtNode(reset));
    m_service->Node(0).CloseConnections(SimCloseMode::kReset);
    EXPECT_EQ(reset.WaitForClose(), Result::kReset);
    EXPECT_EQ(m_service->Node(0).OpenConnections(), 0);
}

TEST_F(SimFaultTest, NodeDownClosesItsPortAndUpReopensTheSamePort) {
    RawFrameClient before;
    ASSERT_TRUE(LoginAtNode(before));
    const int port = NodePort();
    m_service->Node(0).Down();
    EXPECT_FALSE(m_service->Node(0).IsUp());
    EXPECT_EQ(before.WaitForClose(), Result::kClosed);
    RawFrameClient refused;
    EXPECT_FALSE(refused.Connect("127.0.0.1", port));

    std::string error;
    ASSERT_TRUE(m_service->Node(0).Up(&error)) << error;
    EXPECT_EQ(NodePort(), port);
    RawFrameClient after;
    EXPECT_TRUE(LoginAtNode(after));
}

TEST_F(SimFaultTest, WrongTraceIdOnResponses) {
    m_service->Node(0).Faults().wrong_trace_id = true;
    RawFrameClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", NodePort()));
    ASSERT_TRUE(client.SendDatafeedLogin(kUser, Token()));
    RawFrame frame;
    ASSERT_EQ(client.ReadFrame(&frame), Result::kFrame);
    EXPECT_FALSE(frame.meta.traceid().empty());
    EXPECT_NE(frame.meta.traceid(), client.LastTraceId());
    ASSERT_EQ(Heartbeat(client, &frame), Result::kFrame);
    EXPECT_FALSE(frame.meta.traceid().empty()) << "even heartbeats carry a foreign trace id";

    m_service->Discovery(0).Faults().wrong_trace_id = true;
    RawFrameClient discovery;
    ASSERT_TRUE(discovery.Connect("127.0.0.1", DiscoveryPort()));
    ASSERT_TRUE(discovery.SendDiscoveryLogin(kUser, kPassword));
    ASSERT_EQ(discovery.ReadFrame(&frame), Result::kFrame);
    EXPECT_NE(frame.meta.traceid(), discovery.LastTraceId());
}

TEST_F(SimFaultTest, SabotagedResponsesBreakTheFrameRules) {
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    SimFaults& faults = m_service->Node(0).Faults();
    RawFrame frame;

    faults.sabotage_count = 1;
    faults.sabotage = SimSabotage::kOversizedLength;
    ASSERT_EQ(Heartbeat(client, &frame), Result::kAbnormalLength);
    EXPECT_EQ(frame.header.m_payloadLength, 65536);
    client.ReadBytes(16);

    faults.sabotage_count = 1;
    faults.sabotage = SimSabotage::kNegativeLength;
    ASSERT_EQ(Heartbeat(client, &frame), Result::kAbnormalLength);
    EXPECT_EQ(frame.header.m_payloadLength, -1);
    client.ReadBytes(16);

    faults.sabotage_count = 1;
    faults.sabotage = SimSabotage::kGarbage;
    ASSERT_EQ(Heartbeat(client, &frame), Result::kFrame);
    EXPECT_FALSE(frame.meta_parsed);

    faults.sabotage_count = 1;
    faults.sabotage = SimSabotage::kSilence;
    EXPECT_EQ(Heartbeat(client, &frame, std::chrono::milliseconds(200)), Result::kTimeout);

    // The count ran out: answers are well-formed again.
    ASSERT_EQ(Heartbeat(client, &frame), Result::kFrame);
    EXPECT_EQ(frame.meta.sysmessagetype(), com::mivo::zel::model::HEARTBEAT_RESPONSE);
}

TEST_F(SimFaultTest, SabotagedDiscoveryAnswer) {
    m_service->Discovery(0).Faults().sabotage = SimSabotage::kOversizedLength;
    RawFrameClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", DiscoveryPort()));
    ASSERT_TRUE(client.SendDiscoveryLogin(kUser, kPassword));
    RawFrame frame;
    EXPECT_EQ(client.ReadFrame(&frame), Result::kAbnormalLength);
}

TEST_F(SimFaultTest, InjectReachesEveryOpenConnection) {
    RawFrameClient first;
    RawFrameClient second;
    ASSERT_TRUE(LoginAtNode(first));
    ASSERT_TRUE(LoginAtNode(second));
    m_service->Node(0).Inject(SimSabotage::kNegativeLength);
    RawFrame frame;
    EXPECT_EQ(first.ReadFrame(&frame), Result::kAbnormalLength);
    EXPECT_EQ(second.ReadFrame(&frame), Result::kAbnormalLength);
}

TEST_F(SimFaultTest, SplitWritesArriveInPieces) {
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    m_service->Node(0).Faults().split_write_bytes = 2;
    const int64_t reads_before = client.ReadCalls();
    RawFrame frame;
    ASSERT_EQ(Heartbeat(client, &frame), Result::kFrame);
    EXPECT_EQ(frame.meta.sysmessagetype(), com::mivo::zel::model::HEARTBEAT_RESPONSE);
    EXPECT_GE(client.ReadCalls() - reads_before, 2);
}

TEST_F(SimFaultTest, DelayedResponsesComeLate) {
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    m_service->Node(0).Faults().response_delay_ms = 1500;
    RawFrame frame;
    EXPECT_EQ(Heartbeat(client, &frame, std::chrono::milliseconds(100)), Result::kTimeout);
    ASSERT_EQ(client.ReadFrame(&frame), Result::kFrame);
    EXPECT_EQ(frame.meta.sysmessagetype(), com::mivo::zel::model::HEARTBEAT_RESPONSE);
}

TEST_F(SimFaultTest, StalledReadingAnswersNothingUntilResumed) {
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    m_service->Node(0).SetStallReading(true);
    RawFrame frame;
    EXPECT_EQ(Heartbeat(client, &frame, std::chrono::milliseconds(200)), Result::kTimeout);
    m_service->Node(0).SetStallReading(false);
    ASSERT_EQ(client.ReadFrame(&frame), Result::kFrame);
    EXPECT_EQ(frame.meta.sysmessagetype(), com::mivo::zel::model::HEARTBEAT_RESPONSE);
}

TEST_F(SimFaultTest, MisbehavingClientsLoseOnlyTheirOwnConnection) {
    RawFrameClient good;
    ASSERT_TRUE(LoginAtNode(good));

    RawFrameClient garbage;
    ASSERT_TRUE(garbage.Connect("127.0.0.1", NodePort()));
    ASSERT_TRUE(garbage.SendBytes(std::string(64, 'G')));
    EXPECT_EQ(garbage.WaitForClose(), Result::kClosed);

    RawFrameClient oversized;
    ASSERT_TRUE(oversized.Connect("127.0.0.1", NodePort()));
    ASSERT_TRUE(oversized.SendBytes(Header(1, 10, 70000)));
    EXPECT_EQ(oversized.WaitForClose(), Result::kClosed);

    RawFrameClient negative;
    ASSERT_TRUE(negative.Connect("127.0.0.1", NodePort()));
    ASSERT_TRUE(negative.SendBytes(Header(1, -4, 4)));
    EXPECT_EQ(negative.WaitForClose(), Result::kClosed);

    RawFrameClient bad_meta;
    ASSERT_TRUE(bad_meta.Connect("127.0.0.1", NodePort()));
    ASSERT_TRUE(bad_meta.SendBytes(Header(1, 4, 0) + std::string(4, '\xFF')));
    EXPECT_EQ(bad_meta.WaitForClose(), Result::kClosed);

    RawFrame frame;
    ASSERT_EQ(Heartbeat(good, &frame), Result::kFrame);
    EXPECT_EQ(frame.meta.sysmessagetype(), com::mivo::zel::model::HEARTBEAT_RESPONSE);
    EXPECT_EQ(m_service->Node(0).CounterValues().bad_frames, 4);
    auto requests = m_service->Requests().OfType(-1);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].text.rfind("bad frame", 0), 0u);
}

TEST_F(SimFaultTest, HalfAFrameWaitsForTheRest) {
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    char* buffer = nullptr;
    int length = NuvexiaMessage::PrepareHeartBeat(buffer, 1, 1);
    ASSERT_GT(length, 12);
    std::string bytes(buffer, static_cast<size_t>(length));
    NuvexiaMessage::ReleaseBuffer(buffer);
    ASSERT_TRUE(client.SendBytes(bytes.substr(0, 7)));
    RawFrame frame;
    EXPECT_EQ(client.ReadFrame(&frame, std::chrono::milliseconds(100)), Result::kTimeout);
    ASSERT_TRUE(client.SendBytes(bytes.substr(7)));
    ASSERT_EQ(client.ReadFrame(&frame), Result::kFrame);
    EXPECT_EQ(frame.meta.sysmessagetype(), com::mivo::zel::model::HEARTBEAT_RESPONSE);
}

TEST(SimIdleTest, SilentClientsAreDisconnected) {
    SimServiceOptions options;
    options.datafeed_idle_ms = 150;
    SimService service(options);
    service.AddDatafeedNode(SimNodeSpec());
    ASSERT_TRUE(service.Start());
    RawFrameClient silent;
    ASSERT_TRUE(silent.Connect("127.0.0.1", service.Node(0).Port()));
    EXPECT_EQ(silent.WaitForClose(), Result::kClosed);
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
