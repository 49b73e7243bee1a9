// Feeds arbitrary bytes, split at arbitrary points, through the frame cutter
// the readers use, and every frame it takes through the decoders.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <google/protobuf/stubs/logging.h>

#include "common/client_config.h"
#include "protocol/frame_cutter.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"

using namespace com::mivo::kmr::client;
using namespace com::mivo::zel::model;

namespace {

void DecodeFrame(const FrameView& frame) {
    (void)frame.header.ToString();
    MetaData meta;
    NuvexiaMessage::DecodeMsgMeatData(frame.meta, static_cast<int>(frame.meta_length), meta);
    const int payload_length = static_cast<int>(frame.payload_length);
    LoginResponse login;
    SubscribeResponse subscribe;
    LoginRequest login_request;
    SubscribeRequest subscribe_request;
    SysHeartbeat heartbeat;
    NuvexiaMessage::DecodeResponsePayload(frame.payload, payload_length, login);
    NuvexiaMessage::DecodeResponsePayload(frame.payload, payload_length, subscribe);
    NuvexiaMessage::DecodeRequestPayload(frame.payload, payload_length, login_request);
    NuvexiaMessage::DecodeRequestPayload(frame.payload, payload_length, subscribe_request);
    NuvexiaMessage::DecodeRequestPayload(frame.payload, payload_length, heartbeat);
    NuvexiaMessage::DecodeMsgBody(frame.payload, payload_length, login);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every bad frame logs an error line; keep them off the disk and console.
    ClientConfig::CloseFileLog();
    ClientConfig::CloseCoutLog();
    // protobuf reports malformed UTF-8 on stderr; that is expected input here.
    google::protobuf::SetLogHandler(nullptr);
    return 0;
}

// The first byte chooses the piece sizes and whether the pieces are fed or
// written in place; the rest is the stream. Small limits let the fuzzer reach
// the length checks with short inputs as well.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t control = data[0];
    const char* stream = reinterpret_cast<const char*>(data) + 1;
    const size_t length = size - 1;
    const bool small_limits = (control & 0x80) != 0;
    FrameCutter cutter(small_limits ? FrameCutter::Limits{64, 4 + 1024}
                                    : FrameCutter::Limits{ServiceContract::MAX_META_LENGTH,
                                                          ServiceContract::MAX_PAYLOAD_LENGTH});
    const size_t piece = 1 + (control & 0x3F);
    size_t taken_bytes = 0;
    for (size_t at = 0; at < length;) {
        const size_t n = length - at < piece ? length - at : piece;
        if ((control & 0x40) != 0) {
            size_t room = 0;
            char* into = cutter.Reserve(n, &room);
            std::memcpy(into, stream + at, n);
            cutter.Commit(n);
        } else {
            cutter.Feed(stream + at, n);
        }
        at += n;
        FrameView frame;
        FrameCutter::Result result;
        while ((result = cutter.Take(frame)) == FrameCutter::Result::FRAME) {
            DecodeFrame(frame);
            taken_bytes += frame.frame_length;
        }
        if (result == FrameCutter::Result::BAD_LENGTH) {
            break;
        }
        // Frames and buffered bytes account for every byte fed.
        if (taken_bytes + cutter.Buffered() != at) {
            __builtin_trap();
        }
    }
    return 0;
}
