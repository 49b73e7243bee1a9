#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "protocol/nuvexia_message_impl.h"
#include "protocol/test_wire_reader.h"

namespace com::mivo::kmr::client {
namespace {

using namespace com::mivo::zel::model;

// Bytes in their own heap block of exactly their length, so that a read past
// the end shows up under the address sanitizer.
std::unique_ptr<char[]> Exact(const std::string& bytes) {
    std::unique_ptr<char[]> out(new char[bytes.size() + (bytes.empty() ? 1 : 0)]);
    std::memcpy(out.get(), bytes.data(), bytes.size());
    return out;
}

class FrameDecodeTest : public ::testing::Test {
protected:
    void SetUp() override { zel_test::QuietLogFile(); }
    zel_test::CapturingSink m_sink;
    char* m_buf = nullptr;
    void TearDown() override { NuvexiaMessage::ReleaseBuffer(m_buf); }
};

TEST_F(FrameDecodeTest, NullArgumentsOfTheBuilders) {
    MetaData meta;
    SysHeartbeat body;
    m_buf = new char[8];
    EXPECT_EQ(-1014, NuvexiaMessage::Encode(&meta, nullptr, m_buf));
    EXPECT_EQ(nullptr, m_buf) << "the old frame is released even when nothing is built";
    EXPECT_EQ(-1014, NuvexiaMessage::Encode(nullptr, &body, m_buf));
    EXPECT_EQ(nullptr, m_buf);
    m_buf = new char[8];
    EXPECT_EQ(-1014, NuvexiaMessage::PrepareSubscribeRequest(m_buf, nullptr, "sdk_subscribe_1"));
    EXPECT_EQ(nullptr, m_buf);
    EXPECT_EQ(-1014, NuvexiaMessage::EncodeResponse(nullptr, &body, m_buf));
    EXPECT_EQ(-1014, NuvexiaMessage::EncodeRawPayload(0, &meta, nullptr, 4, m_buf));
    EXPECT_EQ(-1014, NuvexiaMessage::EncodeRawPayload(0, &meta, "abcd", -1, m_buf));
    EXPECT_EQ(nullptr, m_buf);
}

TEST_F(FrameDecodeTest, NullArgumentsOfTheDecoders) {
    MetaData meta;
    LoginResponse response;
    MessageHeader header;
    const char* none = nullptr;
    EXPECT_EQ(-1015, NuvexiaMessage::DecodeMsgHeader(none, header));
    EXPECT_EQ(-1014, NuvexiaMessage::DecodeMsgMeatData(none, 10, meta));
    EXPECT_EQ(-1014, NuvexiaMessage::DecodeMsgBody(none, 10, response));
    EXPECT_EQ(-1014, NuvexiaMessage::DecodeResponsePayload(none, 10, response));
    EXPECT_EQ(-1014, NuvexiaMessage::DecodeRequestPayload(none, 10, response));
    EXPECT_TRUE(m_sink.HasLine(LOG_LEVEL_ERROR, "header ParseFromArray failed!"));
    EXPECT_TRUE(m_sink.HasLine(LOG_LEVEL_ERROR, "DecodeMsgBody failed, msg is nullptr!"));
}

TEST_F(FrameDecodeTest, UnparsableMetaRecords) {
    MetaData meta;
    // wire type 7 does not exist; a string that claims more bytes than given;
    // a varint cut off by the end.
    for (const std::string& bad : {std::string("\x0f", 1),
                                   std::string("\x3a\x10"
                                               "abc",
                                               5),
                                   std::string("\x40\xff\xff", 3)}) {
        auto bytes = Exact(bad);
        EXPECT_EQ(-1016, NuvexiaMessage::DecodeMsgMeatData(bytes.get(), static_cast<int>(bad.size()), meta));
    }
    auto bytes = Exact(std::string("\x28\x0b", 2));
    EXPECT_EQ(-1016, NuvexiaMessage::DecodeMsgMeatData(bytes.get(), -1, meta));
    EXPECT_TRUE(m_sink.HasLine(LOG_LEVEL_ERROR, "meta data ParseFromArray failed!"));
}

TEST_F(FrameDecodeTest, MetaParsingStopsAtTheGivenLength) {
    // The trace id runs on past the length the caller gives: the record is
    // cut and must be refused, not completed from the bytes behind it.
    const std::string record("\x28\x0c\x3a\x05hello", 9);
    MetaData meta;
    EXPECT_EQ(-1016, NuvexiaMessage::DecodeMsgMeatData(record.data(), 6, meta));
    ASSERT_EQ(0, NuvexiaMessage::DecodeMsgMeatData(record.data(), 2, meta));
    EXPECT_EQ(LOGIN_RESPONSE, meta.sysmessagetype());
    EXPECT_TRUE(meta.traceid().empty());
}

TEST_F(FrameDecodeTest, UnparsableBodiesAndStaleContent) {
    LoginResponse response;
    response.set_token("stale");
    auto bytes =
        Exact(std::string("\x1a\x20"
                          "short",
                          7));
    EXPECT_EQ(-1017, NuvexiaMessage::DecodeMsgBody(bytes.get(), 7, response));
    EXPECT_TRUE(m_sink.HasLine(LOG_LEVEL_ERROR, "ParseFromArray failed!"));
    EXPECT_EQ(-1017, NuvexiaMessage::DecodeMsgBody(bytes.get(), -5, response));

    // An empty body is a valid message with every field at its default.
    response.set_token("stale");
    ASSERT_EQ(0, NuvexiaMessage::DecodeMsgBody(bytes.get(), 0, response));
    EXPECT_TRUE(response.token().empty());
}

TEST_F(FrameDecodeTest, ResponsePayloadPrefixMustFitThePayload) {
    SubscribeResponse good;
    good.set_issuccess(true);
    good.add_permitteddatatypes(5);
    const std::string body = good.SerializeAsString();
    const auto payload_with = [&](int32_t prefix) {
        std::string p(4, '\0');
        for (int i = 0; i < 4; ++i) {
            p[i] = static_cast<char>((static_cast<uint32_t>(prefix) >> (8 * i)) & 0xFF);
        }
        return p + body;
    };
    const int size = static_cast<int>(body.size());
    SubscribeResponse out;

    std::string p = payload_with(size);
    auto bytes = Exact(p);
    ASSERT_EQ(0, NuvexiaMessage::DecodeResponsePayload(bytes.get(), size + 4, out));
    EXPECT_TRUE(out.issuccess());

    for (int32_t prefix : {size + 1, -1, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE(prefix);
        p = payload_with(prefix);
        bytes = Exact(p);
        EXPECT_EQ(-1017, NuvexiaMessage::DecodeResponsePayload(bytes.get(), size + 4, out));
        EXPECT_FALSE(out.issuccess()) << "no half-decoded answer is left behind";
    }
    // Shorter than its own prefix.
    bytes = Exact(std::string("\x00\x00", 2));
    EXPECT_EQ(-1017, NuvexiaMessage::DecodeResponsePayload(bytes.get(), 2, out));

    // A request's prefix counts itself and must equal the payload length.
    p = payload_with(size + 4);
    bytes = Exact(p);
    EXPECT_EQ(0, NuvexiaMessage::DecodeRequestPayload(bytes.get(), size + 4, out));
    EXPECT_EQ(-1017, NuvexiaMessage::DecodeRequestPayload(bytes.get(), size + 3, out));
    p = payload_with(size);
    bytes = Exact(p);
    EXPECT_EQ(-1017, NuvexiaMessage::DecodeRequestPayload(bytes.get(), size + 4, out));
}

}  // namespace
}  // namespace com::mivo::kmr::client
