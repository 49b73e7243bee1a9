#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_options.h"
#include "sim/sim_record_stamp.h"

struct evbuffer;

namespace com::mivo::kmr::client {

// Collects length-prefixed MarketData encodings into one push frame payload and frames it, LZ4-compressing
// the payload ([int32 decompressed size][raw LZ4 block], flag 0x4000) when the options ask for it.
class SimBatchEncoder {
public:
    explicit SimBatchEncoder(const SimFeedOptions& options);

    void SetOptions(const SimFeedOptions& options);
    bool Empty() const { return m_records == 0; }
    int Records() const { return m_records; }
    // Whether a record of this many bytes still fits this batch.
    bool Fits(size_t record_length) const;
    // Adds one record made of two pieces (a rendered record and its stamp, whose send time lies at spot).
    void Add(const std::string& record, const std::string& stamp, int channel, int data_type,
             SimRecordStamp::TimeSpot spot = {});
    // Appends the finished frame to out and starts a new batch; returns true when it went out compressed.
    // Every record's send time is set to the moment of flushing, so that it says when the frame left.
    bool Flush(evbuffer* out, const std::string& trace_id, int64_t frame_index);

    // Largest plain payload a frame may carry so that even its compressed form stays within the frame limit.
    static size_t MaxPayloadBytes();

private:
    bool ShouldCompress() const;

    SimFeedOptions m_options;
    std::string m_payload;
    // Where each record's send time lies in m_payload.
    std::vector<std::pair<size_t, SimRecordStamp::TimeSpot>> m_time_spots;
    std::string m_compressed;
    std::string m_meta;
    int m_records = 0;
    int m_first_channel = 0;
    int m_first_data_type = 0;
};

}  // namespace com::mivo::kmr::client
