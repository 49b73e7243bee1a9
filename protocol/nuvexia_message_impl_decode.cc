#include "common/base_log.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/wire_order.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::MetaData;

int NuvexiaMessage::DecodeMsgHeader(const char* data, MessageHeader& header) {
    if (data == nullptr) {
        ErrorPrint("header ParseFromArray failed!");
        return RESULT_NULL_HEADER_BUFFER;
    }
    header.ReadFrom(data);
    return 0;
}

int NuvexiaMessage::DecodeMsgHeader(const uint8_t* data, MessageHeader& header) {
    return DecodeMsgHeader(reinterpret_cast<const char*>(data), header);
}

int NuvexiaMessage::DecodeMsgMeatData(const char* data, int length, MetaData& meta) {
    if (data == nullptr) {
        return RESULT_NULL_ARGUMENT;
    }
    if (length < 0 || !meta.ParseFromArray(data, length)) {
        ErrorPrint("meta data ParseFromArray failed!");
        return RESULT_META_NOT_PARSABLE;
    }
    return 0;
}

int NuvexiaMessage::DecodeMsgMeatData(const uint8_t* data, int length, MetaData& meta) {
    return DecodeMsgMeatData(reinterpret_cast<const char*>(data), length, meta);
}

int NuvexiaMessage::DecodeMsgBody(const char* data, int length, google::protobuf::MessageLite& message) {
    if (data == nullptr) {
        ErrorPrint("DecodeMsgBody failed, msg is nullptr!");
        return RESULT_NULL_ARGUMENT;
    }
    message.Clear();
    if (length < 0 || !message.ParseFromArray(data, length)) {
        ErrorPrint("ParseFromArray failed!");
        return RESULT_BODY_NOT_PARSABLE;
    }
    return 0;
}

int NuvexiaMessage::DecodeMsgBody(const uint8_t* data, int length, google::protobuf::MessageLite& message) {
    return DecodeMsgBody(reinterpret_cast<const char*>(data), length, message);
}

namespace {

// Checks a payload's prefix and finds its body; false when the body would not
// lie wholly inside the payload.
bool LocateBody(const char* payload, int payload_length, bool prefix_counts_itself, int* body_length) {
    constexpr int kPrefixLength = 4;
    if (payload_length < kPrefixLength) {
        return false;
    }
    const int32_t prefix = WireOrder::ReadInt32(payload);
    if (prefix_counts_itself) {
        *body_length = payload_length - kPrefixLength;
        return prefix == payload_length;
    }
    *body_length = prefix;
    return prefix >= 0 && prefix <= payload_length - kPrefixLength;
}

int DecodePayload(const char* payload, int payload_length, bool prefix_counts_itself,
                  google::protobuf::MessageLite& message) {
    if (payload == nullptr) {
        return NuvexiaMessage::DecodeMsgBody(payload, 0, message);
    }
    int body_length = 0;
    if (!LocateBody(payload, payload_length, prefix_counts_itself, &body_length)) {
        message.Clear();
        ErrorPrint("ParseFromArray failed!");
        return RESULT_BODY_NOT_PARSABLE;
    }
    return NuvexiaMessage::DecodeMsgBody(payload + 4, body_length, message);
}

}  // namespace

int NuvexiaMessage::DecodeResponsePayload(const char* payload, int payload_length,
                                          google::protobuf::MessageLite& message) {
    return DecodePayload(payload, payload_length, false, message);
}

int NuvexiaMessage::DecodeRequestPayload(const char* payload, int payload_length,
                                         google::protobuf::MessageLite& message) {
    return DecodePayload(payload, payload_length, true, message);
}

}  // namespace com::mivo::kmr::client
