#include "sim/sim_batch_encoder.h"

#include <event2/buffer.h>
#include <lz4.h>

#include <algorithm>

#include "MetaData.pb.h"
#include "protocol/message_header.h"
#include "protocol/service_contract.h"
#include "protocol/wire_order.h"
#include "sim/sim_frame_writer.h"

namespace com::mivo::kmr::client {

SimBatchEncoder::SimBatchEncoder(const SimFeedOptions& options) {
    SetOptions(options);
}

void SimBatchEncoder::SetOptions(const SimFeedOptions& options) {
    m_options = options;
    m_options.batch_records = std::max(1, m_options.batch_records);
    m_options.batch_bytes = static_cast<int>(
        std::min<size_t>(MaxPayloadBytes(), static_cast<size_t>(std::max(64, m_options.batch_bytes))));
    m_payload.reserve(static_cast<size_t>(m_options.batch_bytes) + 1024);
}

size_t SimBatchEncoder::MaxPayloadBytes() {
    // LZ4's worst case grows the input by 1/255 + 16 bytes, plus the 4-byte size prefix.
    return static_cast<size_t>(ServiceContract::MAX_PAYLOAD_LENGTH) * 255 / 256 - 32;
}

bool SimBatchEncoder::Fits(size_t record_length) const {
    if (m_records == 0) {
        return true;
    }
    return m_records < m_options.batch_records &&
           m_payload.size() + 4 + record_length <= static_cast<size_t>(m_options.batch_bytes);
}

void SimBatchEncoder::Add(const std::string& record, const std::string& stamp, int channel, int data_type,
                          SimRecordStamp::TimeSpot spot) {
    if (m_records == 0) {
        m_first_channel = channel;
        m_first_data_type = data_type;
    }
    char prefix[4];
    WireOrder::WriteInt32(prefix, static_cast<int32_t>(record.size() + stamp.size()));
    m_payload.append(prefix, sizeof(prefix));
    m_payload.append(record);
    m_payload.append(stamp);
    if (spot.width > 0 && spot.width <= stamp.size()) {
        m_time_spots.emplace_back(m_payload.size() - spot.width, spot);
    }
    ++m_records;
}

bool SimBatchEncoder::ShouldCompress() const {
    switch (m_options.compression) {
        case SimCompression::kAlways:
            return true;
        case SimCompression::kAboveSize:
            return m_payload.size() > static_cast<size_t>(std::max(0, m_options.compress_above_bytes));
        case SimCompression::kNever:
            return false;
    }
    return false;
}

bool SimBatchEncoder::Flush(evbuffer* out, const std::string& trace_id, int64_t frame_index) {
    if (m_records == 0) {
        return false;
    }
    const int64_t now = SimFrameWriter::NowUnixNanos();
    for (const auto& [offset, spot] : m_time_spots) {
        SimRecordStamp::Rewrite(&m_payload[offset], spot, now);
    }
    m_time_spots.clear();
    com::mivo::zel::model::MetaData meta;
    meta.set_zeldatatype(m_first_data_type);
    meta.set_channelno(m_first_channel);
    meta.set_channelindex(frame_index);
    meta.set_sysmessagetype(com::mivo::zel::model::PUSH_MARKET_DATA);
    meta.set_zelsysmessagenum(m_records);
    meta.set_traceid(trace_id);
    meta.set_sendtime(now);
    m_meta.clear();
    meta.AppendToString(&m_meta);

    const std::string* payload = &m_payload;
    int16_t flags = ServiceContract::CLIENT_FRAME_FLAGS;
    bool compressed = false;
    if (ShouldCompress()) {
        const int plain = static_cast<int>(m_payload.size());
        m_compressed.resize(4 + static_cast<size_t>(LZ4_compressBound(plain)));
        int packed =
            LZ4_compress_default(m_payload.data(), &m_compressed[4], plain, LZ4_compressBound(plain));
        if (packed > 0 && 4 + packed <= ServiceContract::MAX_PAYLOAD_LENGTH) {
            WireOrder::WriteInt32(&m_compressed[0], plain);
            m_compressed.resize(4 + static_cast<size_t>(packed));
            payload = &m_compressed;
            flags = ServiceContract::FLAG_COMPRESSED;
            compressed = true;
        }
    }
    char head[MessageHeader::SIZE];
    SimFrameWriter::WriteHeader(head, flags, static_cast<int32_t>(m_meta.size()),
                                static_cast<int32_t>(payload->size()));
    evbuffer_add(out, head, sizeof(head));
    evbuffer_add(out, m_meta.data(), m_meta.size());
    evbuffer_add(out, payload->data(), payload->size());
    m_payload.clear();
    m_records = 0;
    return compressed;
}

}  // namespace com::mivo::kmr::client
