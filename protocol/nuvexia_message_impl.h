#pragma once

#include <cstdint>
#include <string>

#include <google/protobuf/message.h>

#include "ESysMessageType.pb.h"
#include "MetaData.pb.h"
#include "SysHeartbeat.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"
#include "common/result_codes.h"
#include "common/zel_export.h"
#include "protocol/message_header.h"

namespace com::mivo::kmr::client {

// Builds the frames the client sends and takes received frames apart.
//
// A frame is a MessageHeader, the MetaData encoding and a payload. The payload
// of a request is a little-endian int32 equal to the payload length (body + 4)
// followed by the body encoding.
//
// Builders take a buffer slot: whatever it holds is released first (delete[]),
// then exactly the frame's length is allocated with new[] into it. The caller
// owns the buffer afterwards, also on a negative result, and releases it with
// delete[] (or ReleaseBuffer) once the bytes are handed to the socket.
//
// Builders return the frame length (> 0) or a negative code; decoders 0 or a
// negative code. Nothing here throws for bad input.
class ZEL_API NuvexiaMessage {
public:
    static const char SDK_VERSION[];
    static const int16_t VER_VERSION;
    static const int SDK_APP_TYPE;
    static const int SDK_LOGIN_TYPE;

    // Older names of the codec's result codes, kept for host programs that use them.
    static constexpr int CODE_OUT_OF_MEMORY = RESULT_FRAME_BUFFER_NOT_ALLOCATABLE;
    static constexpr int CODE_META_NOT_SERIALISABLE = RESULT_META_NOT_SERIALISABLE;
    static constexpr int CODE_BODY_NOT_SERIALISABLE = RESULT_BODY_NOT_SERIALISABLE;
    static constexpr int CODE_NULL_ARGUMENT = RESULT_NULL_ARGUMENT;
    static constexpr int CODE_NULL_HEADER_BUFFER = RESULT_NULL_HEADER_BUFFER;
    static constexpr int CODE_META_NOT_PARSABLE = RESULT_META_NOT_PARSABLE;
    static constexpr int CODE_BODY_NOT_PARSABLE = RESULT_BODY_NOT_PARSABLE;

    // Frames any body under the given meta record.
    static int Encode(const com::mivo::zel::model::MetaData* meta, const google::protobuf::Message* body,
                      char*& buf);

    // secret is the password (token_flag false: sent AES-encrypted in uwp) or
    // the session token (token_flag true: sent in uwt).
    static int PrepareLoginRequest(char*& buf, com::mivo::zel::model::ELoginType login_type,
                                   const std::string& server_ip, int server_port,
                                   const std::string& user_name, const std::string& secret, bool token_flag,
                                   const std::string& trace_id);

    static int PrepareHeartBeat(char*& buf, int traffic, int tps);

    static int PrepareSubscribeRequest(char*& buf, const com::mivo::zel::model::SubscribeRequest* request,
                                       const std::string& trace_id);

    // Reads MessageHeader::SIZE bytes; no field is validated here.
    static int DecodeMsgHeader(const char* data, MessageHeader& header);
    static int DecodeMsgHeader(const uint8_t* data, MessageHeader& header);

    // Parses exactly length bytes; a negative length is unparsable.
    static int DecodeMsgMeatData(const char* data, int length, com::mivo::zel::model::MetaData& meta);
    static int DecodeMsgMeatData(const uint8_t* data, int length, com::mivo::zel::model::MetaData& meta);

    // Clears message, then parses exactly length bytes into it.
    static int DecodeMsgBody(const char* data, int length, google::protobuf::MessageLite& message);
    static int DecodeMsgBody(const uint8_t* data, int length, google::protobuf::MessageLite& message);

    // Decodes the body of a response payload ([int32 body length][body]) of
    // payload_length bytes. A body length that does not fit inside the payload
    // is reported as unparsable instead of being read past the frame.
    static int DecodeResponsePayload(const char* payload, int payload_length,
                                     google::protobuf::MessageLite& message);

    // Decodes the body of a request payload ([int32 payload length][body]);
    // the prefix must equal payload_length.
    static int DecodeRequestPayload(const char* payload, int payload_length,
                                    google::protobuf::MessageLite& message);

    // The service's side of the exchange: a response frame, whose prefix is
    // the body length, and a frame around payload bytes taken as they are
    // (market data batches) with the given header flags. Same results and
    // buffer ownership as the builders above.
    static int EncodeResponse(const com::mivo::zel::model::MetaData* meta,
                              const google::protobuf::Message* body, char*& buf);
    static int EncodeRawPayload(int16_t flags, const com::mivo::zel::model::MetaData* meta,
                                const char* payload, int payload_length, char*& buf);

    // Releases a buffer built by this class and clears the slot.
    static void ReleaseBuffer(char*& buf);

private:
    static int PrepareMsgHeader(const MessageHeader* header, char* out);
    static int PrepareMsgMeta(com::mivo::zel::model::MetaData& meta,
                              com::mivo::zel::model::ESysMessageType type, int message_num,
                              const std::string& trace_id);
    // Encode without the argument checks: allocation, header, meta, body.
    // A request's prefix counts itself (body + 4), a response's does not.
    static int Frame(const com::mivo::zel::model::MetaData& meta, const google::protobuf::Message& body,
                     bool prefix_counts_itself, char*& buf);
    // Allocates the frame and writes header and meta; the payload is left zeroed.
    static int AllocateFrame(const com::mivo::zel::model::MetaData& meta, int16_t flags, size_t payload_size,
                             char*& buf);
};

}  // namespace com::mivo::kmr::client
