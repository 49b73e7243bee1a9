#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <event2/buffer.h>

#include "protocol/frame_cutter.h"
#include "protocol/wire_order.h"
#include "sim/sim_data_types.h"
#include "sim/sim_feed_cursor.h"
#include "sim/sim_record_factory.h"
#include "sim/sim_universe.h"

namespace com::mivo::kmr::client::pipeline_bench {

// Record encodings as the node sends them (same generator and seed), cut from plain frames.
inline std::vector<std::string> SampleRecords(size_t count) {
    SimFeedOptions feed;
    SimUniverse universe(feed.seed, feed.securities, feed.channels);
    SimRecordFactory factory(universe);
    SimFeedCursor cursor(universe, factory, feed);
    cursor.SetStreams(universe.StreamsOfType(SimDataTypes::kMdStock));
    evbuffer* out = evbuffer_new();
    FrameCutter cutter;
    std::vector<std::string> records;
    while (records.size() < count) {
        cursor.Produce(out, 4096, 1 << 20, "");
        size_t length = evbuffer_get_length(out);
        cutter.Feed(reinterpret_cast<const char*>(evbuffer_pullup(out, -1)), length);
        evbuffer_drain(out, length);
        FrameView frame;
        while (cutter.Take(frame) == FrameCutter::Result::FRAME) {
            const char* at = frame.payload;
            size_t left = frame.payload_length;
            while (left >= 4) {
                const size_t len = static_cast<size_t>(WireOrder::ReadInt32(at));
                if (len + 4 > left) {
                    break;
                }
                records.emplace_back(at + 4, len);
                at += len + 4;
                left -= len + 4;
            }
        }
    }
    evbuffer_free(out);
    return records;
}

}  // namespace com::mivo::kmr::client::pipeline_bench
