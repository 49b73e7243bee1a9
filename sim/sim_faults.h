#pragma once

#include <atomic>

namespace com::mivo::kmr::client {

// What a server sends instead of a well-formed frame when sabotaged.
enum class SimSabotage {
    kNone = 0,
    kOversizedLength,  // a header whose payload length is 65536
    kNegativeLength,   // a header whose payload length is -1
    kGarbage,          // a frame-shaped run of 0xFF bytes: plausible lengths, an unparsable meta record
    kSilence,          // nothing at all: the request goes unanswered
};

// Switches that make one server break its promises. Any thread may flip them; the server reads them at the
// moment it answers, so a change applies to the next response.
struct SimFaults {
    // Logins are answered with isSuccess false and an errorContext message.
    std::atomic<bool> refuse_login{false};
    std::atomic<bool> refuse_subscribe{false};
    // The next this many subscribe requests are refused, later ones are served.
    std::atomic<int> refuse_subscribe_count{0};
    // Heartbeat requests are counted but never answered.
    std::atomic<bool> mute_heartbeat{false};
    // Responses and pushes carry a trace id the client never sent.
    std::atomic<bool> wrong_trace_id{false};
    // Responses (not pushes) wait this long before they are written.
    std::atomic<int> response_delay_ms{0};
    // Every outgoing byte run is cut into pieces of this size written one event loop turn apart; 0 writes
    // whole.
    std::atomic<int> split_write_bytes{0};
    // The next responses are replaced by this sabotage; sabotage_count of them (-1: all until cleared).
    std::atomic<SimSabotage> sabotage{SimSabotage::kNone};
    std::atomic<int> sabotage_count{-1};

    // True while refuse_subscribe_count still owes a refusal; takes one.
    bool TakeSubscribeRefusal() {
        int left = refuse_subscribe_count.load();
        while (left > 0 && !refuse_subscribe_count.compare_exchange_weak(left, left - 1)) {
        }
        return left > 0;
    }

    void Clear() {
        refuse_login = false;
        refuse_subscribe = false;
        refuse_subscribe_count = 0;
        mute_heartbeat = false;
        wrong_trace_id = false;
        response_delay_ms = 0;
        split_write_bytes = 0;
        sabotage = SimSabotage::kNone;
        sabotage_count = -1;
    }
};

}  // namespace com::mivo::kmr::client
