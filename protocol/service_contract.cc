#include "protocol/service_contract.h"

#include "common/standard_lib_kits.h"

namespace com::mivo::kmr::client {

using namespace com::mivo::zel::model;

bool ServiceContract::IsFrameLengthAcceptable(int32_t meta_length, int32_t payload_length) {
    return static_cast<uint32_t>(meta_length) <= static_cast<uint32_t>(MAX_META_LENGTH) &&
           static_cast<uint32_t>(payload_length) <= static_cast<uint32_t>(MAX_PAYLOAD_LENGTH);
}

bool ServiceContract::IsClientMessageType(int type) {
    return type == LOGIN_REQUEST || type == SUBSCRIBE_REQUEST || type == HEARTBEAT_REQUEST;
}

bool ServiceContract::IsMarketDataType(int type) {
    return type == PUSH_MARKET_DATA || type == PUSH_MARKET_DATA_STREAM;
}

bool ServiceContract::IsServiceMessageType(int type) {
    return type == LOGIN_RESPONSE || type == SUBSCRIBE_RESPONSE || type == HEARTBEAT_RESPONSE ||
           IsMarketDataType(type);
}

ESysMessageType ServiceContract::ResponseTypeOf(int request_type) {
    switch (request_type) {
        case LOGIN_REQUEST:
            return LOGIN_RESPONSE;
        case SUBSCRIBE_REQUEST:
            return SUBSCRIBE_RESPONSE;
        case HEARTBEAT_REQUEST:
            return HEARTBEAT_RESPONSE;
        default:
            return UNKNOWN_MESSAGE_TYPE;
    }
}

std::string ServiceContract::MakeTraceId(const char* prefix) {
    StandardLibKits* kits = StandardLibKits::GetInstance();
    const int64_t micros = kits != nullptr ? kits->GetCurrentUnixTimestampMicros() : 0;
    return std::string(prefix != nullptr ? prefix : "") + std::to_string(micros);
}

}  // namespace com::mivo::kmr::client
