#pragma once

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Every result code the library returns, one name each. 0 is success; the
// codec's builders return positive frame lengths. Compare against these
// names, never against bare numbers.
enum ResultCode : int {
    RESULT_OK = 0,
    // Frame codec.
    RESULT_FRAME_BUFFER_NOT_ALLOCATABLE = -1010,  // no memory for a frame buffer
    RESULT_META_NOT_SERIALISABLE = -1012,         // meta record does not fit or cannot be written
    RESULT_BODY_NOT_SERIALISABLE = -1013,         // body does not fit, or the host identity is unavailable
    RESULT_NULL_ARGUMENT = -1014,                 // the codec was given a null message or buffer
    RESULT_NULL_HEADER_BUFFER = -1015,            // the codec was given a null header buffer
    RESULT_META_NOT_PARSABLE = -1016,             // a received meta record does not parse
    RESULT_BODY_NOT_PARSABLE = -1017,             // a received body does not parse
    // Subscriptions and parameters.
    RESULT_NULL_SUBSCRIBE_REQUEST = -1026,  // subscribe called without a request
    RESULT_BAD_PARAMETERS = -1027,          // bad parameters: not JSON, unknown/missing key, long password
    // Discovery and datafeed login.
    RESULT_DISCOVERY_RETRY = -1030,        // discovery login not achieved yet; a later attempt may succeed
    RESULT_DISCOVERY_STOPPED = -1031,      // discovery login stopped for good
    RESULT_DATAFEED_LOGIN_FAILED = -1033,  // a site did not log in, or the node table was empty
    RESULT_SUBSCRIBE_REJECTED = -1040,     // the subscription was not accepted (refused or unanswered)
    RESULT_INTERRUPTED = -1050,            // a blocking call was interrupted by the host (Ctrl-C in Python)
    // TLS and sockets.
    RESULT_TLS_FAILED = -2402,  // TLS context or session not creatable, CA file unusable, server not trusted
    RESULT_NOT_CONNECTED = -2405,           // request made on a connection without a socket
    RESULT_HEARTBEAT_TIMER_FAILED = -3001,  // the heartbeat timer could not be created
    // Python login parameters.
    RESULT_PY_LOGIN_PARAMETERS_INCOMPLETE = 1,  // login JSON lacks a required key or is not JSON
    RESULT_PY_NO_CLIENT = -1,                   // no client could be made
};

// A short English text for a result code ("unknown result code" for others).
ZEL_API const char* ResultCodeText(int code);

}  // namespace com::mivo::kmr::client
