#pragma once

#include <cstdint>
#include <string>

#include <google/protobuf/message.h>

#include "ESysMessageType.pb.h"
#include "sim/sim_faults.h"

namespace com::mivo::kmr::client {

// Frames the service sends, as byte strings ready for a socket.
class SimFrameWriter {
public:
    // A response frame: meta record (type, ZELSysMessageNum 1, trace id, send time) and [int32 body
    // length][body]. Empty when the codec refuses to build it.
    static std::string Response(com::mivo::zel::model::ESysMessageType type, const std::string& trace_id,
                                const google::protobuf::Message& body);
    // The bytes of a sabotage frame (empty for kNone and kSilence).
    static std::string Sabotage(SimSabotage kind);
    // Appends the 12-byte header the service writes: version 1, protocol 1, the given flags and lengths.
    static void AppendHeader(std::string& out, int16_t flags, int32_t meta_length, int32_t payload_length);
    // Writes the header at out (12 bytes).
    static void WriteHeader(char* out, int16_t flags, int32_t meta_length, int32_t payload_length);
    static int64_t NowUnixNanos();
};

}  // namespace com::mivo::kmr::client
