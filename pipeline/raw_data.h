#pragma once

#include <cstdint>

#include "pipeline/spsc_queue_opt.h"

namespace com::mivo::kmr::client {

// One market data frame on its way from a connection's loop thread to the
// site's decompression thread. All-zero bytes are a valid empty record (the
// queue's slots start that way). m_data is an array-new'ed copy of the whole
// payload, owned by the record until the decompression thread sends the
// pointer back through the return queue.
struct RawData {
    int16_t m_flags;          // frame header flags; 0x4000 = LZ4-compressed payload
    int32_t m_channel_no;     // meta ChannelNo
    int64_t m_channel_index;  // meta ChannelIndex
    int32_t m_data_type;      // meta ZELDataType
    int32_t m_data_len;       // payload bytes in m_data
    int32_t m_msg_num;        // meta ZELSysMessageNum
    char* m_data;
};

// Slot count of every queue between a connection and the pipeline.
constexpr uint32_t kRawDataQueueSize = 524288;

using RawDataQueue = SPSCQueueOpt<RawData, kRawDataQueueSize>;
// Finished payload arrays travelling back to the loop thread for release.
using RawDataBackQueue = SPSCQueueOpt<char*, kRawDataQueueSize>;

}  // namespace com::mivo::kmr::client
