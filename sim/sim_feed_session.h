#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "client/event_owners.h"
#include "sim/sim_connection.h"
#include "sim/sim_feed_cursor.h"
#include "sim/sim_subscription.h"

namespace com::mivo::kmr::client {

class SimDatafeedNode;

// What a datafeed node keeps per connection: who logged in, what is subscribed, and where the feed stands.
class SimFeedSession : public SimConnectionState {
public:
    SimFeedSession(SimDatafeedNode* node, SimConnection* connection)
        : m_node(node), m_connection(connection) {}
    // Frees the rate timer; the connection is about to go.
    void StopTimer() { m_rate_timer.reset(); }

    SimDatafeedNode* m_node;
    SimConnection* m_connection;
    bool m_logged_in = false;
    std::string m_user;
    SimSubscription m_subscription;
    std::unique_ptr<SimFeedCursor> m_cursor;
    EventOwner m_rate_timer;
    std::chrono::steady_clock::time_point m_rate_start;
    int64_t m_rate_base = 0;  // records produced when m_rate_start was taken
};

}  // namespace com::mivo::kmr::client
