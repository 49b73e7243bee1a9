#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/result_codes.h"

using namespace com::mivo::kmr::client;

namespace {

const int kNamedCodes[] = {
    RESULT_OK,
    RESULT_FRAME_BUFFER_NOT_ALLOCATABLE,
    RESULT_META_NOT_SERIALISABLE,
    RESULT_BODY_NOT_SERIALISABLE,
    RESULT_NULL_ARGUMENT,
    RESULT_NULL_HEADER_BUFFER,
    RESULT_META_NOT_PARSABLE,
    RESULT_BODY_NOT_PARSABLE,
    RESULT_NULL_SUBSCRIBE_REQUEST,
    RESULT_BAD_PARAMETERS,
    RESULT_DISCOVERY_RETRY,
    RESULT_DISCOVERY_STOPPED,
    RESULT_DATAFEED_LOGIN_FAILED,
    RESULT_SUBSCRIBE_REJECTED,
    RESULT_INTERRUPTED,
    RESULT_TLS_FAILED,
    RESULT_NOT_CONNECTED,
    RESULT_HEARTBEAT_TIMER_FAILED,
    RESULT_PY_LOGIN_PARAMETERS_INCOMPLETE,
    RESULT_PY_NO_CLIENT,
};

TEST(ResultCodes, EveryNamedCodeHasItsOwnNumberAndText) {
    std::set<int> numbers;
    std::set<std::string> texts;
    const std::string unknown = ResultCodeText(-999999);
    for (int code : kNamedCodes) {
        EXPECT_TRUE(numbers.insert(code).second) << "number used twice: " << code;
        const std::string text = ResultCodeText(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_NE(text, unknown) << code;
        EXPECT_TRUE(texts.insert(text).second) << "text used twice: " << text;
    }
}

TEST(ResultCodes, UnknownCodesSaySo) {
    for (int code : {-999999, -1011, -2403, 2, 1031, -1018}) {
        EXPECT_EQ(std::string(ResultCodeText(code)), "unknown result code") << code;
    }
}

}  // namespace
