#include "sim/sim_frame_writer.h"

#include <chrono>

#include "MetaData.pb.h"
#include "protocol/message_header.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::MetaData;

std::string SimFrameWriter::Response(com::mivo::zel::model::ESysMessageType type, const std::string& trace_id,
                                     const google::protobuf::Message& body) {
    MetaData meta;
    meta.set_sysmessagetype(type);
    meta.set_zelsysmessagenum(ServiceContract::REQUEST_MESSAGE_NUM);
    meta.set_traceid(trace_id);
    meta.set_sendtime(NowUnixNanos());
    char* buf = nullptr;
    int length = NuvexiaMessage::EncodeResponse(&meta, &body, buf);
    std::string frame;
    if (length > 0) {
        frame.assign(buf, static_cast<size_t>(length));
    }
    NuvexiaMessage::ReleaseBuffer(buf);
    return frame;
}

std::string SimFrameWriter::Sabotage(SimSabotage kind) {
    std::string frame;
    switch (kind) {
        case SimSabotage::kOversizedLength:
            // The header alone is enough: a reader must give up on it before waiting for 64 KiB.
            AppendHeader(frame, 0x1000, 0, ServiceContract::MAX_PAYLOAD_LENGTH + 1);
            frame.append(16, '\0');
            break;
        case SimSabotage::kNegativeLength:
            AppendHeader(frame, 0x1000, 0, -1);
            frame.append(16, '\0');
            break;
        case SimSabotage::kGarbage:
            // Lengths a reader accepts, then bytes no protobuf parser does (0xFF starts an invalid tag).
            AppendHeader(frame, 0x1000, 16, 16);
            frame.append(32, static_cast<char>(0xFF));
            break;
        case SimSabotage::kNone:
        case SimSabotage::kSilence:
            break;
    }
    return frame;
}

void SimFrameWriter::WriteHeader(char* out, int16_t flags, int32_t meta_length, int32_t payload_length) {
    MessageHeader header;
    header.m_version = ServiceContract::CLIENT_FRAME_VERSION;
    header.m_protocol = ServiceContract::CLIENT_FRAME_PROTOCOL;
    header.m_flags = flags;
    header.m_metaLength = meta_length;
    header.m_payloadLength = payload_length;
    header.WriteTo(out);
}

void SimFrameWriter::AppendHeader(std::string& out, int16_t flags, int32_t meta_length,
                                  int32_t payload_length) {
    char bytes[MessageHeader::SIZE];
    WriteHeader(bytes, flags, meta_length, payload_length);
    out.append(bytes, sizeof(bytes));
}

int64_t SimFrameWriter::NowUnixNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace com::mivo::kmr::client
