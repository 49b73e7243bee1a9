#pragma once

#include <cstdint>

#include "pipeline/payload_buffer.h"
#include "pipeline/spsc_queue_opt.h"

namespace com::mivo::kmr::client {

// One market data frame on its way from a connection's loop thread to the
// site's decompression thread. All-zero bytes are a valid empty record (the
// queue's slots start that way). m_payload holds the frame's payload (its
// m_length bytes) with one reference, owned by the record until the
// decompression thread takes it.
struct RawData {
    int16_t m_flags;          // frame header flags; 0x4000 = LZ4-compressed payload
    int32_t m_channel_no;     // meta ChannelNo
    int64_t m_channel_index;  // meta ChannelIndex
    int32_t m_data_type;      // meta ZELDataType
    int32_t m_msg_num;        // meta ZELSysMessageNum
    PayloadBuffer* m_payload;
};

// Slot count of every queue between a connection and the pipeline.
constexpr uint32_t kRawDataQueueSize = 524288;

using RawDataQueue = SPSCQueueOpt<RawData, kRawDataQueueSize>;

}  // namespace com::mivo::kmr::client
