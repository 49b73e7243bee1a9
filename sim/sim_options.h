#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace com::mivo::kmr::client {

// One user of the simulated service. An empty data type list entitles the user to every data type.
struct SimAccount {
    std::string user;
    std::string password;
    std::vector<int> data_types;
};

// Where a server listens. Port 0 takes a free port at start; the port found is kept across down/up.
struct SimEndpoint {
    std::string ip = "127.0.0.1";
    uint16_t port = 0;
    bool tls = false;
};

struct SimDiscoverySpec {
    std::string name;  // empty: "discovery<N>"
    SimEndpoint endpoint;
};

struct SimNodeSpec {
    std::string name;  // empty: "site<T>-node<N>"
    int site_type = 1;
    int priority = 0;
    SimEndpoint endpoint;
};

enum class SimCompression { kNever, kAlways, kAboveSize };

// How a datafeed node fills a subscribed connection.
struct SimFeedOptions {
    uint64_t seed = 20261209;
    int securities = 3000;
    int channels = 16;
    // A frame closes at whichever limit comes first.
    int batch_records = 64;
    int batch_bytes = 60000;
    SimCompression compression = SimCompression::kNever;
    int compress_above_bytes = 4096;  // kAboveSize only
    // Records per second per connection; 0 pushes as fast as the socket takes them.
    double records_per_second = 1000;
    // A rate-driven connection sends what is due this often, so that records
    // leave close to their due time rather than in bursts.
    int tick_ms = 1;
    // Records per connection after which the node stops pushing; 0 never stops.
    int64_t max_records = 0;
    // Each stream re-renders its record every this many records and in between only restamps it (sequence
    // and send time); rendering is what costs, so this decides how fast a firehose can go.
    int template_reuse = 32;
};

struct SimServiceOptions {
    // Certificate chain and key (PEM) served by every TLS listener.
    std::string cert_file;
    std::string key_file;
    // A connection that sends nothing for this long is closed; 0 keeps it forever.
    int discovery_idle_ms = 30000;
    int datafeed_idle_ms = 90000;
    // Address put into the node table; empty: each node's listening ip.
    std::string advertised_ip;
    SimFeedOptions feed;
};

}  // namespace com::mivo::kmr::client
