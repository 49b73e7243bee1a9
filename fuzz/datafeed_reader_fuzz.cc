// The datafeed reader's work on a stream that arrives in pieces of any size:
// frames cut by the frame cutter, meta records decoded, the three responses
// decoded and logged the way the reader logs them, market data payloads
// copied out. Properties: the pieces give exactly the frames the whole stream
// gives at once; the logged login response does not depend on the token.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MetaData.pb.h"
#include "SysHeartbeat.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"
#include "fuzz/fuzz_kit.h"
#include "protocol/frame_cutter.h"
#include "protocol/logged_message.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"

using namespace com::mivo::kmr::client;
namespace model = com::mivo::zel::model;

namespace {

// What a frame amounted to, for comparing two cuts of one stream.
std::string Digest(const FrameView& frame) {
    std::string digest(frame.meta, frame.meta_length);
    digest += '|';
    digest.append(frame.payload, frame.payload_length);
    digest += '|' + std::to_string(frame.header.m_flags);
    return digest;
}

void Dispatch(const FrameView& frame) {
    ZEL_FUZZ_CHECK(frame.frame_length == static_cast<size_t>(ServiceContract::HEADER_LENGTH) +
                                             frame.meta_length + frame.payload_length);
    model::MetaData meta;
    if (NuvexiaMessage::DecodeMsgMeatData(frame.meta, static_cast<int>(frame.meta_length), meta) != 0) {
        return;
    }
    const int payload_length = static_cast<int>(frame.payload_length);
    switch (meta.sysmessagetype()) {
        case model::LOGIN_RESPONSE: {
            model::LoginResponse response;
            if (NuvexiaMessage::DecodeResponsePayload(frame.payload, payload_length, response) == 0) {
                // What is logged does not depend on the token's value: the
                // line is the same for another token of the same length. (A
                // search for the token in the line would also find tokens
                // that happen to spell the line's own keys or punctuation.)
                if (!response.token().empty()) {
                    model::LoginResponse other(response);
                    other.set_token(zel_fuzz::OtherOfSameLength(response.token()));
                    ZEL_FUZZ_CHECK(LoggedMessage::LoginResponseJson(response) ==
                                   LoggedMessage::LoginResponseJson(other));
                }
            }
            break;
        }
        case model::SUBSCRIBE_RESPONSE: {
            model::SubscribeResponse response;
            if (NuvexiaMessage::DecodeResponsePayload(frame.payload, payload_length, response) == 0) {
                (void)LoggedMessage::Json(response);
            }
            break;
        }
        case model::HEARTBEAT_RESPONSE: {
            model::SysHeartbeat heartbeat;
            (void)NuvexiaMessage::DecodeResponsePayload(frame.payload, payload_length, heartbeat);
            break;
        }
        default:
            if (ServiceContract::IsMarketDataType(meta.sysmessagetype())) {
                // The reader hands the pipeline its own copy of the payload.
                std::vector<char> copy(frame.payload, frame.payload + frame.payload_length);
                (void)ServiceContract::IsCompressed(frame.header.m_flags);
            }
            break;
    }
}

// Takes every complete frame; false once the stream is poisoned (the reader
// then drops the connection).
bool Drain(FrameCutter& cutter, std::vector<std::string>* digests, bool dispatch) {
    FrameView frame;
    for (;;) {
        switch (cutter.Take(frame)) {
            case FrameCutter::Result::NEED_MORE:
                return true;
            case FrameCutter::Result::BAD_LENGTH:
                return false;
            case FrameCutter::Result::FRAME:
                digests->push_back(Digest(frame));
                if (dispatch) {
                    Dispatch(frame);
                }
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel_fuzz::QuietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zel_fuzz::Pieces pieces(data, size);

    FrameCutter whole_cutter;
    std::vector<std::string> whole;
    whole_cutter.Feed(pieces.Whole(), pieces.WholeSize());
    const bool whole_ok = Drain(whole_cutter, &whole, false);

    FrameCutter cutter;
    std::vector<std::string> cut;
    bool ok = true;
    const char* piece;
    size_t length;
    while (ok && pieces.Next(&piece, &length)) {
        // Half the pieces arrive as a socket read into the cutter's own room.
        if (pieces.Index() % 2 == 0) {
            size_t room = 0;
            char* into = cutter.Reserve(length, &room);
            ZEL_FUZZ_CHECK(into != nullptr && room >= length);
            std::memcpy(into, piece, length);
            cutter.Commit(length);
        } else {
            cutter.Feed(piece, length);
        }
        ok = Drain(cutter, &cut, true);
    }
    ZEL_FUZZ_CHECK(ok == whole_ok);
    ZEL_FUZZ_CHECK(cut == whole);
    ZEL_FUZZ_CHECK(!ok || cutter.Buffered() == whole_cutter.Buffered());
    return 0;
}
