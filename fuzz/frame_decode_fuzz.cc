// Feeds arbitrary bytes through the frame decoders the way a reader would:
// header, then meta record and payload as far as the bytes reach.

#include <cstddef>
#include <cstdint>

#include <google/protobuf/stubs/logging.h>

#include "common/client_config.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"

using namespace com::mivo::kmr::client;
using namespace com::mivo::zel::model;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every bad frame logs an error line; keep them off the disk and console.
    ClientConfig::CloseFileLog();
    ClientConfig::CloseCoutLog();
    // protobuf reports malformed UTF-8 on stderr; that is expected input here.
    google::protobuf::SetLogHandler(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < static_cast<size_t>(MessageHeader::SIZE) || size > static_cast<size_t>(INT32_MAX)) {
        return 0;
    }
    MessageHeader header;
    NuvexiaMessage::DecodeMsgHeader(data, header);
    (void)header.ToString();

    const char* rest = reinterpret_cast<const char*>(data) + MessageHeader::SIZE;
    const int available = static_cast<int>(size) - MessageHeader::SIZE;

    // The header's lengths are untrusted: clamp them to what is really there.
    int meta_length = header.m_metaLength;
    if (meta_length < 0 || meta_length > available) {
        meta_length = available;
    }
    MetaData meta;
    NuvexiaMessage::DecodeMsgMeatData(rest, meta_length, meta);

    const char* payload = rest + meta_length;
    const int payload_length = available - meta_length;
    LoginResponse login;
    SubscribeResponse subscribe;
    LoginRequest login_request;
    SubscribeRequest subscribe_request;
    SysHeartbeat heartbeat;
    NuvexiaMessage::DecodeResponsePayload(payload, payload_length, login);
    NuvexiaMessage::DecodeResponsePayload(payload, payload_length, subscribe);
    NuvexiaMessage::DecodeRequestPayload(payload, payload_length, login_request);
    NuvexiaMessage::DecodeRequestPayload(payload, payload_length, subscribe_request);
    NuvexiaMessage::DecodeRequestPayload(payload, payload_length, heartbeat);
    NuvexiaMessage::DecodeMsgBody(payload, payload_length, login);
    (void)ServiceContract::IsFrameLengthAcceptable(header.m_metaLength, header.m_payloadLength);
    return 0;
}
