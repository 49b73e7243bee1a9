#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_batch_encoder.h"
#include "sim/sim_options.h"

struct evbuffer;

namespace com::mivo::kmr::client {

class SimRecordFactory;
class SimUniverse;

// The market data of one subscribed connection: walks its streams round-robin, stamps each record with the
// next sequence number of its channel and the send time, and packs the records into push frames.
class SimFeedCursor {
public:
    struct Output {
        int64_t records = 0;
        int64_t frames = 0;
        int64_t compressed_frames = 0;
        int64_t bytes = 0;
    };

    SimFeedCursor(const SimUniverse& universe, SimRecordFactory& factory, const SimFeedOptions& options);

    void SetOptions(const SimFeedOptions& options);
    // The streams to walk (universe stream indexes). Sequence numbers carry on across changes.
    void SetStreams(std::vector<int> streams);
    bool HasStreams() const { return !m_streams.empty(); }
    // Nothing (more) to send: no streams, or the record limit reached.
    bool Exhausted() const;
    int64_t Produced() const { return m_produced; }

    // Appends whole frames with up to max_records records to out, stopping early once max_bytes were added;
    // the last batch is flushed too, so nothing produced stays behind.
    Output Produce(evbuffer* out, int64_t max_records, size_t max_bytes, const std::string& trace_id);

private:
    const SimUniverse& m_universe;
    SimRecordFactory& m_factory;
    SimFeedOptions m_options;
    SimBatchEncoder m_encoder;
    std::vector<int> m_streams;
    size_t m_next = 0;
    std::vector<uint32_t> m_emitted;      // per universe stream
    std::vector<std::string> m_rendered;  // per universe stream, the record at version m_emitted / reuse
    std::vector<int64_t> m_channel_sequence;
    std::string m_stamp;
    int64_t m_produced = 0;
    int64_t m_frames = 0;
};

}  // namespace com::mivo::kmr::client
