#include "sim/sim_feed_cursor.h"

#include <algorithm>

#include <event2/buffer.h>

#include "sim/sim_frame_writer.h"
#include "sim/sim_record_factory.h"
#include "sim/sim_record_stamp.h"
#include "sim/sim_universe.h"

namespace com::mivo::kmr::client {

SimFeedCursor::SimFeedCursor(const SimUniverse& universe, SimRecordFactory& factory,
                             const SimFeedOptions& options)
    : m_universe(universe),
      m_factory(factory),
      m_options(options),
      m_encoder(options),
      m_emitted(universe.Streams().size(), 0),
      m_rendered(universe.Streams().size()),
      m_channel_sequence(static_cast<size_t>(universe.Channels()), 0) {}

void SimFeedCursor::SetOptions(const SimFeedOptions& options) {
    m_options = options;
    m_encoder.SetOptions(options);
}

void SimFeedCursor::SetStreams(std::vector<int> streams) {
    m_streams = std::move(streams);
    m_next = 0;
}

bool SimFeedCursor::Exhausted() const {
    return m_streams.empty() || (m_options.max_records > 0 && m_produced >= m_options.max_records);
}

SimFeedCursor::Output SimFeedCursor::Produce(evbuffer* out, int64_t max_records, size_t max_bytes,
                                             const std::string& trace_id) {
    Output result;
    if (m_options.max_records > 0) {
        max_records = std::min(max_records, m_options.max_records - m_produced);
    }
    const uint32_t reuse = static_cast<uint32_t>(std::max(1, m_options.template_reuse));
    // Records are stamped with a provisional time as they are gathered; the
    // encoder sets the real one when it writes the frame out.
    int64_t now = 0;
    const size_t start_length = evbuffer_get_length(out);
    while (result.records < max_records && !m_streams.empty() &&
           evbuffer_get_length(out) - start_length < max_bytes) {
        const int stream = m_streams[m_next];
        m_next = (m_next + 1) % m_streams.size();
        const SimStream& s = m_universe.Streams()[static_cast<size_t>(stream)];
        const int channel = m_universe.Securities()[static_cast<size_t>(s.security)].channel;

        uint32_t& emitted = m_emitted[static_cast<size_t>(stream)];
        std::string& rendered = m_rendered[static_cast<size_t>(stream)];
        if (emitted % reuse == 0 || rendered.empty()) {
            rendered.clear();
            m_factory.Render(stream, emitted / reuse, &rendered);
        }
        ++emitted;

        const bool sequenced = SimRecordStamp::IsSequenced(s.data_type);
        const int64_t sequence = sequenced ? ++m_channel_sequence[static_cast<size_t>(channel)] : 0;
        SimRecordStamp::TimeSpot spot;
        auto stamp = [&] {
            m_stamp.clear();
            if (sequenced) {
                spot = SimRecordStamp::Append(m_stamp, s.data_type, sequence, now);
            }
        };
        if (m_encoder.Empty()) {
            now = SimFrameWriter::NowUnixNanos();
        }
        stamp();
        if (!m_encoder.Fits(rendered.size() + m_stamp.size())) {
            result.compressed_frames += m_encoder.Flush(out, trace_id, ++m_frames) ? 1 : 0;
            ++result.frames;
            now = SimFrameWriter::NowUnixNanos();
            stamp();
        }
        m_encoder.Add(rendered, m_stamp, channel, s.data_type, spot);
        ++result.records;
        ++m_produced;
    }
    if (!m_encoder.Empty()) {
        result.compressed_frames += m_encoder.Flush(out, trace_id, ++m_frames) ? 1 : 0;
        ++result.frames;
    }
    result.bytes = static_cast<int64_t>(evbuffer_get_length(out) - start_length);
    return result;
}

}  // namespace com::mivo::kmr::client
