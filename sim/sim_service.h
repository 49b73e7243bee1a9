#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sim_account_book.h"
#include "sim/sim_context.h"
#include "sim/sim_datafeed_node.h"
#include "sim/sim_discovery_server.h"
#include "sim/sim_options.h"
#include "sim/sim_request_log.h"
#include "sim/sim_tls_context.h"
#include "sim/sim_universe.h"

namespace com::mivo::kmr::client {

// The simulated market data service in one object: discovery servers and datafeed nodes on loopback ports,
// each with its own event loop thread, sharing accounts, tokens, the request log and the synthetic market.
//
// Typical test use:
//
//   SimService service;                                   // default options: 3000 securities, 1000 rec/s
//   service.AddAccount({"user", "secret"});
//   service.AddDiscoveryServer();                         // port 0: a free port
//   service.AddDatafeedNode({"", /*site*/ 1, /*priority*/ 9});
//   ASSERT_TRUE(service.Start());
//   ServerHost main("127.0.0.1", service.Discovery(0).Port(), false);
//   ...
//   service.Node(0).Faults().mute_heartbeat = true;       // faults: SimFaults switches and SimServer actions
//   service.Node(0).Down();  service.Node(0).Up(nullptr);
//   service.Requests().OfType(SUBSCRIBE_REQUEST);         // what the client sent, in order
//   service.Node(0).CounterValues().records_sent;
//
// Sequence numbers and send times travel in the record fields listed in sim/sim_record_stamp.h; data type
// codes are those of sim/sim_data_types.h.
class SimService {
public:
    explicit SimService(SimServiceOptions options = SimServiceOptions());
    ~SimService();
    SimService(const SimService&) = delete;
    SimService& operator=(const SimService&) = delete;

    void AddAccount(const SimAccount& account);
    // Servers may be added before or after Start (afterwards they start at once). The index is returned.
    int AddDiscoveryServer(SimDiscoverySpec desc = SimDiscoverySpec());
    int AddDatafeedNode(SimNodeSpec desc);

    // Starts every server; false with the reason in error (optional) if any cannot listen.
    bool Start(std::string* error = nullptr);
    void Stop();
    bool IsRunning() const;

    int DiscoveryCount() const;
    int NodeCount() const;
    SimDiscoveryServer& Discovery(int index);
    SimDatafeedNode& Node(int index);
    // By name ("discovery0", "site1-node0", ...), null when unknown.
    SimServer* FindServer(const std::string& name);
    std::vector<SimServer*> Servers();
    // The datafeed nodes as discovery publishes them.
    std::vector<SimNodeSpec> NodeTable() const;

    SimAccountBook& Accounts() { return m_accounts; }
    SimRequestLog& Requests() { return m_requests; }
    const SimUniverse& Universe() const { return m_universe; }
    const SimServiceOptions& Options() const { return m_context.options; }
    // Applies to every node, present and future.
    void SetFeedOptions(const SimFeedOptions& options);

    // One line per server: name, address, up/down, counters.
    std::string CountersText();

    // Polls the predicate until it holds or the timeout passes (for tests waiting on the service).
    static bool WaitUntil(const std::function<bool()>& predicate,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    bool StartServer(SimServer& server, std::string* error);

    SimAccountBook m_accounts;
    SimRequestLog m_requests;
    SimTlsContext m_tls;
    SimUniverse m_universe;
    SimContext m_context;
    mutable std::mutex m_mutex;  // guards the two server lists and m_running
    std::vector<std::unique_ptr<SimDiscoveryServer>> m_discovery;
    std::vector<std::unique_ptr<SimDatafeedNode>> m_nodes;
    bool m_running = false;
};

}  // namespace com::mivo::kmr::client
