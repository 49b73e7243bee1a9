#pragma once

#include <cstdint>
#include <string>

#include "ESysMessageType.pb.h"
#include "common/zel_export.h"
#include "protocol/message_header.h"

namespace com::mivo::kmr::client {

// What the client and the market data service promise each other beyond the
// frame layout. The client's readers and the simulated service both hold to
// these numbers, so they live in one place.
class ZEL_API ServiceContract {
public:
    // Frame limits: a longer meta record or payload ends the connection.
    static constexpr int HEADER_LENGTH = MessageHeader::SIZE;
    static constexpr int MAX_META_LENGTH = 65535;
    static constexpr int MAX_PAYLOAD_LENGTH = 65535;
    static constexpr int MAX_FRAME_LENGTH = HEADER_LENGTH + MAX_META_LENGTH + MAX_PAYLOAD_LENGTH;
    // The int32 in front of every request and response body.
    static constexpr int PAYLOAD_PREFIX_LENGTH = 4;
    // What log lines show in place of a password or token.
    static constexpr const char* MASKED_SECRET = "******";
    // A discovery login response body is never longer than this.
    static constexpr int MAX_DISCOVERY_RESPONSE_BODY = 1024;

    // Header values of the client's own frames.
    static constexpr int8_t CLIENT_FRAME_VERSION = 1;
    static constexpr int8_t CLIENT_FRAME_PROTOCOL = 1;
    static constexpr int16_t CLIENT_FRAME_FLAGS = 0x1000;
    // Set in a market data frame whose payload is an LZ4 block.
    static constexpr int16_t FLAG_COMPRESSED = 0x4000;

    // Heartbeat: one request per interval after the login; the node is given
    // up when this many heartbeats in a row went unanswered.
    static constexpr int HEARTBEAT_INTERVAL_SECONDS = 10;
    static constexpr int HEARTBEAT_MAX_COUNT = 6;

    // Every request carries ZELSysMessageNum 1.
    static constexpr int REQUEST_MESSAGE_NUM = 1;

    static constexpr const char* LOGIN_TRACE_PREFIX = "sdk_login_";
    static constexpr const char* SUBSCRIBE_TRACE_PREFIX = "sdk_subscribe_";

    // Lengths are compared as unsigned 32-bit numbers: a negative one is abnormal too.
    static bool IsFrameLengthAcceptable(int32_t meta_length, int32_t payload_length);

    static bool IsCompressed(int16_t flags) { return (flags & FLAG_COMPRESSED) != 0; }

    // Types the client sends: LOGIN_REQUEST, SUBSCRIBE_REQUEST, HEARTBEAT_REQUEST.
    static bool IsClientMessageType(int type);
    // Types the client handles from the service: the three responses and market data.
    static bool IsServiceMessageType(int type);
    static bool IsMarketDataType(int type);

    // The answer the service sends to a request type; UNKNOWN_MESSAGE_TYPE for anything else.
    static com::mivo::zel::model::ESysMessageType ResponseTypeOf(int request_type);

    // A received trace id is accepted when it is empty or the request's own.
    static bool IsTraceIdAccepted(const std::string& received, const std::string& expected) {
        return received.empty() || received == expected;
    }

    // prefix followed by the current Unix time in microseconds, e.g. "sdk_login_1700000000123456".
    static std::string MakeTraceId(const char* prefix);
};

}  // namespace com::mivo::kmr::client
