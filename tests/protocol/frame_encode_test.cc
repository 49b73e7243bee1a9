#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/standard_lib_kits.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/test_wire_reader.h"

namespace com::mivo::kmr::client {
namespace {

using namespace com::mivo::zel::model;
using zel_test::FindField;
using zel_test::ParsedFrame;
using zel_test::ReadFields;
using zel_test::SplitFrame;
using zel_test::Varint;
using zel_test::WireField;

int64_t NowNanos() {
    return StandardLibKits::GetInstance()->GetCurrentUnixTimestampNanos();
}

// The meta record a request must carry, byte for byte, given the send time
// the frame reports: 5 type, 6 number 1, 7 trace id (absent when empty), 8 time.
std::string ExpectedMeta(int type, const std::string& trace_id, int64_t send_time) {
    std::string meta;
    meta += '\x28' + Varint(type);
    meta += '\x30' + Varint(1);
    if (!trace_id.empty()) {
        meta += '\x3a' + Varint(trace_id.size()) + trace_id;
    }
    meta += '\x40' + Varint(static_cast<uint64_t>(send_time));
    return meta;
}

std::string Header(int meta_length, int payload_length) {
    std::string header = {'\x01', '\x01', '\x00', '\x10'};
    for (int value : {meta_length, payload_length}) {
        for (int i = 0; i < 4; ++i) {
            header.push_back(static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF));
        }
    }
    return header;
}

// Builds the whole expected frame from the hand-made parts and compares it
// with the codec's output; the send time is the only value taken from the
// frame and must lie within the call.
void ExpectFrame(const char* buf, int length, int type, const std::string& trace_id, const std::string& body,
                 int64_t before, int64_t after) {
    ParsedFrame frame;
    ASSERT_TRUE(SplitFrame(buf, length, &frame));
    std::vector<WireField> fields;
    ASSERT_TRUE(ReadFields(frame.meta, &fields));
    const WireField* time = FindField(fields, 8);
    ASSERT_NE(nullptr, time);
    const int64_t send_time = static_cast<int64_t>(time->varint);
    EXPECT_GE(send_time, before);
    EXPECT_LE(send_time, after);
    EXPECT_EQ(0, send_time % 100);

    const std::string meta = ExpectedMeta(type, trace_id, send_time);
    const int payload = static_cast<int>(body.size()) + 4;
    std::string expected = Header(static_cast<int>(meta.size()), payload) + meta;
    for (int i = 0; i < 4; ++i) {
        expected.push_back(static_cast<char>((payload >> (8 * i)) & 0xFF));
    }
    expected += body;
    EXPECT_EQ(expected, std::string(buf, length));
    EXPECT_EQ(static_cast<int>(16 + meta.size() + body.size()), length);
}

class FrameEncodeTest : public ::testing::Test {
protected:
    void SetUp() override { zel_test::QuietLogFile(); }
    void TearDown() override { NuvexiaMessage::ReleaseBuffer(m_buf); }
    char* m_buf = nullptr;
};

TEST_F(FrameEncodeTest, IdleHeartbeatHasAnEmptyBodyAndPrefixFour) {
    const int64_t before = NowNanos();
    const int length = NuvexiaMessage::PrepareHeartBeat(m_buf, 0, 0);
    const int64_t after = NowNanos();
    ASSERT_GT(length, 0);
    ExpectFrame(m_buf, length, HEARTBEAT_REQUEST, "", "", before, after);
    ParsedFrame frame;
    ASSERT_TRUE(SplitFrame(m_buf, length, &frame));
    EXPECT_EQ(4, frame.payload_length);
    EXPECT_EQ(4, frame.prefix);
    EXPECT_TRUE(frame.body.empty());
}

TEST_F(FrameEncodeTest, HeartbeatCarriesTrafficAndRate) {
    const int64_t before = NowNanos();
    int length = NuvexiaMessage::PrepareHeartBeat(m_buf, 2, 5);
    int64_t after = NowNanos();
    ASSERT_GT(length, 0);
    ExpectFrame(m_buf, length, HEARTBEAT_REQUEST, "", std::string("\x08\x02\x10\x05", 4), before, after);

    // A negative int32 is a ten-byte varint; the frame must grow with it.
    length = NuvexiaMessage::PrepareHeartBeat(m_buf, -1, 300);
    after = NowNanos();
    ASSERT_GT(length, 0);
    const std::string body = std::string("\x08", 1) + Varint(UINT64_MAX) + "\x10" + Varint(300);
    ExpectFrame(m_buf, length, HEARTBEAT_REQUEST, "", body, before, after);
}

TEST_F(FrameEncodeTest, SubscribeRequestWithAndWithoutTraceId) {
    SubscribeRequest request;
    request.set_subscribeactiontype(ADD);
    request.mutable_subscribebydatatype()->add_zeldatatypes(1);
    request.mutable_subscribebydatatype()->add_zeldatatypes(300);
    // 1 action ADD; 2 { 1 packed [1, 300] }
    const std::string body("\x08\x01\x12\x05\x0a\x03\x01\xac\x02", 9);

    for (const char* id : {"sdk_subscribe_1700000000123456", ""}) {
        const std::string trace_id = id;
        SCOPED_TRACE(trace_id);
        const int64_t before = NowNanos();
        const int length = NuvexiaMessage::PrepareSubscribeRequest(m_buf, &request, trace_id);
        const int64_t after = NowNanos();
        ASSERT_GT(length, 0);
        ExpectFrame(m_buf, length, SUBSCRIBE_REQUEST, trace_id, body, before, after);
    }
}

TEST_F(FrameEncodeTest, EncodeFramesAnyBodyAndReplacesTheSlot) {
    m_buf = new char[3];  // a stale frame in the slot is released, not leaked
    MetaData meta;
    meta.set_sysmessagetype(GENERAL_ERROR_MESSAGE);
    ErrorContext body;
    body.set_errorcode(7);
    const int length = NuvexiaMessage::Encode(&meta, &body, m_buf);
    ASSERT_EQ(16 + 2 + 2, length);
    const std::string expected = Header(2, 6) + std::string("\x28\x0a\x06\x00\x00\x00\x08\x07", 8);
    EXPECT_EQ(expected, std::string(m_buf, length));
}

TEST_F(FrameEncodeTest, ServiceSideFramesRoundTripThroughTheDecoders) {
    MetaData meta;
    meta.set_sysmessagetype(LOGIN_RESPONSE);
    meta.set_traceid("sdk_login_1");
    LoginResponse response;
    response.set_issuccess(true);
    response.set_token("tok");
    const int length = NuvexiaMessage::EncodeResponse(&meta, &response, m_buf);
    ASSERT_GT(length, 0);

    MessageHeader header;
    ASSERT_EQ(0, NuvexiaMessage::DecodeMsgHeader(m_buf, header));
    ASSERT_EQ(length, 12 + header.m_metaLength + header.m_payloadLength);
    EXPECT_EQ(static_cast<int>(response.ByteSizeLong()),
              zel_test::LittleEndian32(std::string(m_buf, length), 12 + header.m_metaLength));
    MetaData meta_back;
    ASSERT_EQ(0, NuvexiaMessage::DecodeMsgMeatData(m_buf + 12, header.m_metaLength, meta_back));
    EXPECT_EQ("sdk_login_1", meta_back.traceid());
    LoginResponse back;
    ASSERT_EQ(0, NuvexiaMessage::DecodeResponsePayload(m_buf + 12 + header.m_metaLength,
                                                       header.m_payloadLength, back));
    EXPECT_TRUE(back.issuccess());
    EXPECT_EQ("tok", back.token());

    const std::string batch("\x05\x00\x00\x00hello", 9);
    meta.set_sysmessagetype(PUSH_MARKET_DATA);
    const int raw = NuvexiaMessage::EncodeRawPayload(0x4000, &meta, batch.data(), 9, m_buf);
    ASSERT_GT(raw, 0);
    ASSERT_EQ(0, NuvexiaMessage::DecodeMsgHeader(m_buf, header));
    EXPECT_EQ(0x4000, header.m_flags);
    EXPECT_EQ(9, header.m_payloadLength);
    EXPECT_EQ(batch, std::string(m_buf + raw - 9, 9));
}

TEST_F(FrameEncodeTest, RequestPayloadOfTheCodecDecodesOnTheServiceSide) {
    const int length = NuvexiaMessage::PrepareHeartBeat(m_buf, 12, 34);
    ASSERT_GT(length, 0);
    MessageHeader header;
    ASSERT_EQ(0, NuvexiaMessage::DecodeMsgHeader(m_buf, header));
    SysHeartbeat heartbeat;
    ASSERT_EQ(0, NuvexiaMessage::DecodeRequestPayload(m_buf + 12 + header.m_metaLength,
                                                      header.m_payloadLength, heartbeat));
    EXPECT_EQ(12, heartbeat.trafficlog());
    EXPECT_EQ(34, heartbeat.tpslog());
}

}  // namespace
}  // namespace com::mivo::kmr::client
