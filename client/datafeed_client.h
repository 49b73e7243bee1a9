#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "SysSubscribe.pb.h"
#include "client/message_handle.h"
#include "client/node_map.h"
#include "client/site_statistics_board.h"
#include "common/result_codes.h"
#include "common/zel_export.h"
#include "pipeline/data_disruptor.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace com::mivo::kmr::client {

class SocketConnectThread;
class StateSignal;

// The datafeed side of a session: one connection per site type of the node
// table, the two queues of each site and the market data pipeline that
// drains them. It has no thread of its own; its operations block the caller
// while the connection threads work. Not safe for concurrent use: callers
// serialise Start, UpdateDatafeedNode and the other operations.
//
// The connections read m_user_account and m_passwd by reference at every
// login, so a new token given by Init is used at the next login of every
// site; the object must not move while connections exist.
class ZEL_API DatafeedClient {
public:
    explicit DatafeedClient(MessageHandle* message_handle);
    // Releases the pipeline first, then the queues and the connections.
    ~DatafeedClient();

    // Copies share the connections, queues and pipeline.
    DatafeedClient(const DatafeedClient& other) = default;
    DatafeedClient& operator=(const DatafeedClient& other) = default;

    // User name, session token and node table for the connections created
    // afterwards; existing connections keep their node lists.
    void Init(const std::string& user_account, const std::string& passwd,
              const DatafeedNodeMap& datafeed_nodes);
    // TLS context for the connections created afterwards; not owned.
    void RegisterSslCtx(SSL_CTX* ssl_ctx);

    // Queues, connections and pipeline for every site of the table.
    // Replaces whatever an earlier Start built.
    void Start();
    // Stops the connections and the decompression threads.
    void Stop();

    // Connects every site not logged in and waits for the outcome, at most
    // nuvexia_config_login_response_wait_time seconds: 0 when every site of
    // the table is logged in, RESULT_DATAFEED_LOGIN_FAILED otherwise (also for an empty table,
    // without callback). Sites still trying when the time is up start over.
    int TryLoginDatafeed();
    // Sends the request to every logged-in site and waits for the answers,
    // at most nuvexia_config_subscribe_response_wait_time seconds: 0 when
    // every site accepted, RESULT_NULL_SUBSCRIBE_REQUEST for a null request,
    // RESULT_SUBSCRIBE_REJECTED otherwise (a site
    // that was skipped or did not answer in time counts as not accepted).
    // *refused (optional) tells whether a node refused the request: that is
    // final, trying again would only be refused again.
    int TrySubscribe(com::mivo::zel::model::SubscribeRequest* request, bool* refused = nullptr);

    // Ends the waits of TryLoginDatafeed and TrySubscribe at once, from any
    // thread, now and until Rearm: for teardown while another thread waits.
    void Abort();
    void Rearm();

    void ResetAll();
    void ResetAllNotConnect();
    void CloseSocket();
    // Back to the first node for sites that have a connection; new sites of
    // the table get queues, a started connection and their own pipeline stage.
    void UpdateDatafeedNode();

    bool isAllConnected();
    // Running counts of a site of the table (null before its first Start);
    // valid for the life of this client.
    const SiteCounters* GetSiteCounters(int site_type) const;
    bool isAllSubscibed();

    // Per site: the running counts and the connection serving it; the
    // counts live as long as the datafeed client (and its copies).
    const std::shared_ptr<SiteStatisticsBoard>& Statistics() const { return m_statistics; }

    const std::string& GetUserAccount() const { return m_user_account; }
    const std::string& GetPasswd() const { return m_passwd; }

private:
    bool isAnyStillLogging();
    bool isAnySubscribeFailed();
    bool isAnyLoginFailed();
    bool isAnyStillSubscibing();

    // Every site type of the table has a connection and it is logged in.
    bool isEveryTableSiteLoggedIn();
    // Queues and a started connection for one site type, replacing the old ones.
    void CreateSite(int site_type, SiteNodeMap& nodes);
    // The table site's connection, or null when the site has none.
    SocketConnectThread* FindConnection(int site_type) const;
    // Some site of the table has a connection that passes the test.
    bool AnyTableConnection(const std::function<bool(const SocketConnectThread&)>& test) const;

    MessageHandle* m_message_handle;
    std::string m_user_account;
    std::string m_passwd;
    DatafeedNodeMap m_datafeed_nodes;
    std::unordered_map<int, std::shared_ptr<SocketConnectThread>> m_connections;
    // Declared before the rings and connections: it outlives the payloads they hold.
    SiteFlowMap m_site_flows;
    RawDataQueueMap m_raw_data_queues;
    SSL_CTX* m_ssl_ctx;
    std::shared_ptr<DataDisruptor> m_data_disruptor;
    std::shared_ptr<StateSignal> m_signal;
    std::shared_ptr<SiteStatisticsBoard> m_statistics{std::make_shared<SiteStatisticsBoard>()};
};

}  // namespace com::mivo::kmr::client
