#include "common/result_codes.h"

namespace com::mivo::kmr::client {

const char* ResultCodeText(int code) {
    switch (code) {
        case RESULT_OK:
            return "success";
        case RESULT_FRAME_BUFFER_NOT_ALLOCATABLE:
            return "frame buffer not allocatable";
        case RESULT_META_NOT_SERIALISABLE:
            return "meta record not serialisable";
        case RESULT_BODY_NOT_SERIALISABLE:
            return "message body not serialisable";
        case RESULT_NULL_ARGUMENT:
            return "null argument given to the codec";
        case RESULT_NULL_HEADER_BUFFER:
            return "null header buffer given to the codec";
        case RESULT_META_NOT_PARSABLE:
            return "meta record not parsable";
        case RESULT_BODY_NOT_PARSABLE:
            return "message body not parsable";
        case RESULT_NULL_SUBSCRIBE_REQUEST:
            return "null subscribe request";
        case RESULT_BAD_PARAMETERS:
            return "parameters unusable";
        case RESULT_DISCOVERY_RETRY:
            return "discovery login not achieved, retry may succeed";
        case RESULT_DISCOVERY_STOPPED:
            return "discovery login stopped for good";
        case RESULT_DATAFEED_LOGIN_FAILED:
            return "datafeed login failed";
        case RESULT_SUBSCRIBE_REJECTED:
            return "subscription not accepted";
        case RESULT_INTERRUPTED:
            return "interrupted";
        case RESULT_TLS_FAILED:
            return "TLS set-up or server verification failed";
        case RESULT_NOT_CONNECTED:
            return "not connected";
        case RESULT_HEARTBEAT_TIMER_FAILED:
            return "heartbeat timer not creatable";
        case RESULT_PY_LOGIN_PARAMETERS_INCOMPLETE:
            return "login parameters incomplete";
        case RESULT_PY_NO_CLIENT:
            return "no client obtainable";
        default:
            return "unknown result code";
    }
}

}  // namespace com::mivo::kmr::client
