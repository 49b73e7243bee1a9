#pragma once

#include <string>
#include <vector>

namespace com::mivo::kmr::client {

class SimServer;
class SimService;

// Text commands that steer a running service: what zel-sim reads from standard input and runs on schedule.
//
//   down NAME | up NAME                    take a server off the network and back (NAME: a server name or
//   "all") close NAME [reset]                     close its connections (FIN, or RST with "reset") mute NAME
//   on|off                       stop/resume answering heartbeats refuse-login NAME on|off refuse logins
//   (discovery or datafeed) refuse-subscribe NAME on|off wrong-trace NAME on|off                answer with
//   trace ids the client never sent stall NAME on|off                      stop/resume reading from its
//   connections delay NAME MS                          delay responses split NAME BYTES write everything in
//   pieces of BYTES (0: whole) sabotage NAME oversized|negative|garbage|silence|none [COUNT]   replace the
//   next COUNT responses (all: -1) inject NAME oversized|negative|garbage write a broken frame to every open
//   connection now expire-tokens                          every token issued so far stops working
//   token-lifetime MS                      tokens older than MS stop working (0: forever)
//   rate RECORDS_PER_SECOND                0: firehose
//   lz4 never|always|above:BYTES
//   clear NAME                             every fault switch off
//   stats                                  counters of every server
//   help
class SimControl {
public:
    explicit SimControl(SimService& service) : m_service(service) {}

    // Runs one command line; the reply starts with "ok" or "error:". Empty lines and '#' comments reply "".
    std::string Execute(const std::string& line);
    static const char* Help();

private:
    std::vector<SimServer*> Targets(const std::string& name);

    SimService& m_service;
};

}  // namespace com::mivo::kmr::client
