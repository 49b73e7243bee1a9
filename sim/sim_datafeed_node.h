#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "sim/sim_options.h"
#include "sim/sim_server.h"

struct event;
struct evbuffer;

namespace com::mivo::kmr::client {

class SimRecordFactory;
class SimFeedSession;

// A datafeed node: token login, heartbeat answers, subscriptions kept per connection, and market data pushed
// to every logged-in connection with a non-empty subscription (at the feed's rate, or as fast as the socket
// drains in firehose mode).
class SimDatafeedNode : public SimServer {
public:
    SimDatafeedNode(SimNodeSpec desc, SimContext* context);
    ~SimDatafeedNode() override;

    // The node as discovery publishes it (port resolved once started).
    SimNodeSpec Describe() const;
    // Applies to every connection from now on (rate, batching, compression, record limit).
    void SetFeedOptions(const SimFeedOptions& options);
    SimFeedOptions FeedOptions() const;

protected:
    void OnConnectionOpened(SimConnection& connection) override;
    void OnFrame(SimConnection& connection, const SimFrame& frame) override;
    void OnConnectionClosing(SimConnection& connection) override;
    void OnWritable(SimConnection& connection) override;
    int IdleTimeoutMs() const override;

private:
    void HandleLogin(SimConnection& connection, SimFeedSession& session, const SimFrame& frame);
    void HandleHeartbeat(SimConnection& connection, const SimFrame& frame);
    void HandleSubscribe(SimConnection& connection, SimFeedSession& session, const SimFrame& frame);
    // Restarts pushing after a subscription change.
    void Restart(SimConnection& connection, SimFeedSession& session);
    // Produces what is due: in firehose mode until the output is comfortably full, else what the rate allows.
    void Pump(SimConnection& connection, SimFeedSession& session);
    static void RateTick(int fd, short what, void* arg);

    SimNodeSpec m_spec;
    mutable std::mutex m_feed_mutex;
    SimFeedOptions m_feed;                        // guarded by m_feed_mutex
    std::unique_ptr<SimRecordFactory> m_factory;  // loop thread
    EvBufferOwner m_scratch;                      // loop thread, for pushes that cannot go straight out
};

}  // namespace com::mivo::kmr::client
