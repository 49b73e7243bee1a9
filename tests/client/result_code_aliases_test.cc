#include <gtest/gtest.h>

#include "client/discovery_client.h"
#include "client/socket_connect_thread.h"
#include "common/result_codes.h"
#include "protocol/nuvexia_message_impl.h"

using namespace com::mivo::kmr::client;

namespace {

// Host programs written against the older class constants keep getting the
// same numbers.
TEST(ResultCodes, OlderClassConstantsAreTheTableNumbers) {
    EXPECT_EQ(NuvexiaMessage::CODE_OUT_OF_MEMORY, RESULT_FRAME_BUFFER_NOT_ALLOCATABLE);
    EXPECT_EQ(NuvexiaMessage::CODE_BODY_NOT_PARSABLE, RESULT_BODY_NOT_PARSABLE);
    EXPECT_EQ(DiscoveryClient::RESULT_RETRY, -1030);
    EXPECT_EQ(DiscoveryClient::RESULT_STOPPED, -1031);
    EXPECT_EQ(DiscoveryClient::RESULT_SSL_FAILED, SocketConnectThread::CODE_SSL_FAILED);
    EXPECT_EQ(SocketConnectThread::CODE_SSL_FAILED, -2402);
    EXPECT_EQ(SocketConnectThread::CODE_NOT_CONNECTED, -2405);
    EXPECT_EQ(SocketConnectThread::CODE_HEARTBEAT_TIMER_FAILED, -3001);
}

}  // namespace
