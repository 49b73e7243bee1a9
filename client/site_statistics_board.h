#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "client/client_statistics.h"
#include "common/zel_export.h"
#include "pipeline/site_flow.h"

namespace com::mivo::kmr::client {

class SocketConnectThread;

// Every site of a datafeed client for the statistics snapshot: its flow,
// whose running counts live as long as the client, and the connection that
// serves it now. Safe for use from any thread.
class ZEL_API SiteStatisticsBoard {
public:
    // The site's flow and the connection that serves it from now on (held
    // weakly: the datafeed client owns it).
    void Attach(int site_type, std::shared_ptr<SiteFlow> flow,
                const std::shared_ptr<SocketConnectThread>& connection);
    // Forget the site's connection / every connection. The owner calls this
    // before it lets a connection go: once it returns no snapshot reads the
    // connection, so a snapshot never ends up destroying one.
    void DetachConnection(int site_type);
    void DetachAll();
    // One entry per site type known to the board, ascending.
    std::vector<SiteStatistics> Collect() const;

    // "idle", "connecting", "up" or "failed" for a login state.
    static const char* LinkStateName(int login_state);

private:
    struct Site {
        std::shared_ptr<SiteFlow> flow;
        std::weak_ptr<SocketConnectThread> connection;
    };

    mutable std::mutex m_mutex;
    std::map<int, Site> m_sites;
};

}  // namespace com::mivo::kmr::client
