#include "sim/sim_counters.h"

#include <sstream>

namespace com::mivo::kmr::client {

std::string SimCounterValues::ToString() const {
    std::ostringstream out;
    out << "connections=" << connections_accepted << " open=" << connections_open
        << " bad_frames=" << bad_frames << " requests=" << requests << " logins=" << logins_accepted
        << " refused=" << logins_refused << " heartbeats=" << heartbeats_received
        << " answered=" << heartbeats_answered
        << " subscribe(coverage/add/decrease/cancel/refused)=" << subscribe_coverage << "/" << subscribe_add
        << "/" << subscribe_decrease << "/" << subscribe_cancel << "/" << subscribe_refused
        << " frames=" << frames_sent << " lz4_frames=" << compressed_frames_sent
        << " records=" << records_sent << " bytes=" << bytes_sent;
    return out.str();
}

SimCounterValues SimCounters::Snapshot() const {
    SimCounterValues v;
    v.connections_accepted = connections_accepted.load();
    v.connections_open = connections_open.load();
    v.bad_frames = bad_frames.load();
    v.requests = requests.load();
    v.logins_accepted = logins_accepted.load();
    v.logins_refused = logins_refused.load();
    v.heartbeats_received = heartbeats_received.load();
    v.heartbeats_answered = heartbeats_answered.load();
    v.subscribe_coverage = subscribe_coverage.load();
    v.subscribe_add = subscribe_add.load();
    v.subscribe_decrease = subscribe_decrease.load();
    v.subscribe_cancel = subscribe_cancel.load();
    v.subscribe_refused = subscribe_refused.load();
    v.frames_sent = frames_sent.load();
    v.compressed_frames_sent = compressed_frames_sent.load();
    v.records_sent = records_sent.load();
    v.bytes_sent = bytes_sent.load();
    return v;
}

}  // namespace com::mivo::kmr::client
