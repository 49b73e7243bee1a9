#include "protocol/service_contract.h"

#include <gtest/gtest.h>

#include "protocol/nuvexia_message_impl.h"

namespace com::mivo::kmr::client {
namespace {

using namespace com::mivo::zel::model;

TEST(ServiceContractTest, FrameLimitsTreatLengthsAsUnsigned) {
    EXPECT_TRUE(ServiceContract::IsFrameLengthAcceptable(0, 0));
    EXPECT_TRUE(ServiceContract::IsFrameLengthAcceptable(65535, 65535));
    EXPECT_FALSE(ServiceContract::IsFrameLengthAcceptable(65536, 0));
    EXPECT_FALSE(ServiceContract::IsFrameLengthAcceptable(0, 65536));
    EXPECT_FALSE(ServiceContract::IsFrameLengthAcceptable(-1, 10));
    EXPECT_FALSE(ServiceContract::IsFrameLengthAcceptable(10, INT32_MIN));
    EXPECT_EQ(12 + 65535 + 65535, ServiceContract::MAX_FRAME_LENGTH);
}

TEST(ServiceContractTest, EachSideSendsItsOwnTypes) {
    for (int type : {LOGIN_REQUEST, SUBSCRIBE_REQUEST, HEARTBEAT_REQUEST}) {
        EXPECT_TRUE(ServiceContract::IsClientMessageType(type)) << type;
        EXPECT_FALSE(ServiceContract::IsServiceMessageType(type)) << type;
        EXPECT_TRUE(ServiceContract::IsServiceMessageType(ServiceContract::ResponseTypeOf(type))) << type;
    }
    EXPECT_EQ(LOGIN_RESPONSE, ServiceContract::ResponseTypeOf(LOGIN_REQUEST));
    EXPECT_EQ(SUBSCRIBE_RESPONSE, ServiceContract::ResponseTypeOf(SUBSCRIBE_REQUEST));
    EXPECT_EQ(HEARTBEAT_RESPONSE, ServiceContract::ResponseTypeOf(HEARTBEAT_REQUEST));
    EXPECT_EQ(UNKNOWN_MESSAGE_TYPE, ServiceContract::ResponseTypeOf(PUSH_MARKET_DATA));

    EXPECT_TRUE(ServiceContract::IsMarketDataType(PUSH_MARKET_DATA));
    EXPECT_TRUE(ServiceContract::IsMarketDataType(PUSH_MARKET_DATA_STREAM));
    for (int type : {0, 10, 11 + 5, 26, 99, -1}) {
        EXPECT_FALSE(ServiceContract::IsServiceMessageType(type)) << type;
        EXPECT_FALSE(ServiceContract::IsClientMessageType(type)) << type;
    }
}

TEST(ServiceContractTest, CompressionFlagAndTraceIds) {
    EXPECT_TRUE(ServiceContract::IsCompressed(0x4000));
    EXPECT_TRUE(ServiceContract::IsCompressed(static_cast<int16_t>(0xC001)));
    EXPECT_FALSE(ServiceContract::IsCompressed(ServiceContract::CLIENT_FRAME_FLAGS));

    EXPECT_TRUE(ServiceContract::IsTraceIdAccepted("", "sdk_login_1"));
    EXPECT_TRUE(ServiceContract::IsTraceIdAccepted("sdk_login_1", "sdk_login_1"));
    EXPECT_FALSE(ServiceContract::IsTraceIdAccepted("sdk_login_2", "sdk_login_1"));

    const std::string id = ServiceContract::MakeTraceId(ServiceContract::SUBSCRIBE_TRACE_PREFIX);
    ASSERT_EQ(0u, id.rfind("sdk_subscribe_", 0));
    const std::string digits = id.substr(14);
    EXPECT_EQ(16u, digits.size()) << "microseconds since 1970 have 16 digits until 2286";
    EXPECT_EQ(std::string::npos, digits.find_first_not_of("0123456789"));
}

}  // namespace
}  // namespace com::mivo::kmr::client
