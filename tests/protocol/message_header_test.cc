#include "protocol/message_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "protocol/nuvexia_message_impl.h"
#include "protocol/test_wire_reader.h"

namespace com::mivo::kmr::client {
namespace {

TEST(MessageHeaderTest, DecodesTheDocumentedCompressedHeader) {
    const unsigned char bytes[] = {0x01, 0x01, 0x00, 0x40, 0x0a, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00};
    MessageHeader header;
    ASSERT_EQ(0, NuvexiaMessage::DecodeMsgHeader(bytes, header));
    EXPECT_EQ(1, header.m_version);
    EXPECT_EQ(1, header.m_protocol);
    EXPECT_EQ(0x4000, header.m_flags);
    EXPECT_EQ(10, header.m_metaLength);
    EXPECT_EQ(32, header.m_payloadLength);
}

TEST(MessageHeaderTest, WritesLittleEndianWhateverTheHost) {
    MessageHeader header;
    header.m_version = 1;
    header.m_protocol = 1;
    header.m_flags = 0x1000;
    header.m_metaLength = 0x01020304;
    header.m_payloadLength = 0x0A0B0C0D;
    char out[MessageHeader::SIZE];
    header.WriteTo(out);
    const unsigned char expected[] = {0x01, 0x01, 0x00, 0x10, 0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A};
    EXPECT_EQ(0, std::memcmp(expected, out, sizeof(expected)));
}

// Sign bits must survive: the reader rejects a negative length only if it sees one.
TEST(MessageHeaderTest, NegativeAndHighBitValuesRoundTrip) {
    MessageHeader header;
    header.m_version = -2;
    header.m_protocol = 127;
    header.m_flags = static_cast<int16_t>(0xC000);
    header.m_metaLength = -1;
    header.m_payloadLength = INT32_MIN;
    char out[MessageHeader::SIZE];
    header.WriteTo(out);
    EXPECT_EQ(static_cast<char>(0xFF), out[4]);
    EXPECT_EQ(static_cast<char>(0x80), out[11]);

    MessageHeader back;
    ASSERT_EQ(0, NuvexiaMessage::DecodeMsgHeader(out, back));
    EXPECT_EQ(-2, back.m_version);
    EXPECT_EQ(127, back.m_protocol);
    EXPECT_EQ(static_cast<int16_t>(0xC000), back.m_flags);
    EXPECT_EQ(-1, back.m_metaLength);
    EXPECT_EQ(INT32_MIN, back.m_payloadLength);
}

TEST(MessageHeaderTest, ToStringPrintsSignedDecimals) {
    MessageHeader header;
    header.m_version = 1;
    header.m_protocol = -1;
    header.m_flags = 4096;
    header.m_metaLength = 10;
    header.m_payloadLength = -32;
    EXPECT_EQ(
        "MessageHeader: m_version: 1, m_protocol: -1, m_flags: 4096, m_metaLength: 10, m_payloadLength: -32",
        header.ToString());
}

TEST(MessageHeaderTest, NullBufferIsRefusedWithItsLogLine) {
    zel_test::QuietLogFile();
    zel_test::CapturingSink sink;
    MessageHeader header;
    header.m_metaLength = 7;
    EXPECT_EQ(-1015, NuvexiaMessage::DecodeMsgHeader(static_cast<const char*>(nullptr), header));
    EXPECT_EQ(7, header.m_metaLength);
    EXPECT_TRUE(sink.HasLine(LOG_LEVEL_ERROR, "header ParseFromArray failed!"));
}

}  // namespace
}  // namespace com::mivo::kmr::client
