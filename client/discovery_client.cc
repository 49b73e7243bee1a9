#include "client/discovery_client.h"

#include <chrono>
#include <utility>

#include <event2/event.h>
#include <event2/thread.h>

#include "common/base_log.h"
#include "common/test_seam.h"
#include "protocol/service_contract.h"

namespace com::mivo::kmr::client {

namespace {

// The pause after a failed server, so that a struggling service is not
// hammered by every client at once.
constexpr std::chrono::milliseconds kPauseAfterFailedServer{5000};

// Breaking a loop from another thread needs libevent's locking, switched on
// before the first event base is made.
void EnableEventThreads() {
    static std::once_flag once;
    std::call_once(once, [] { evthread_use_pthreads(); });
}

}  // namespace

DiscoveryClient::DiscoveryClient(MessageHandle* message_handle)
    : m_message_handle(message_handle),
      m_use_ssl(false),
      m_login_success(false),
      m_running(false),
      m_keep_trying(true),
      m_closing(false),
      m_stop_requested(false),
      m_active_walks(0),
      m_attempt_over(false),
      m_header_logged(false),
      m_cutter(FrameCutter::Limits{
          ServiceContract::MAX_META_LENGTH,
          ServiceContract::PAYLOAD_PREFIX_LENGTH + ServiceContract::MAX_DISCOVERY_RESPONSE_BODY}) {
    EnableEventThreads();
}

DiscoveryClient::~DiscoveryClient() {
    std::unique_lock<std::mutex> lock(m_loop_mutex);
    m_closing = true;
    m_keep_trying = false;
    if (m_wake_event) {
        event_active(m_wake_event.get(), EV_TIMEOUT, 1);
    }
    m_walk_cv.notify_all();
    // A walk on another thread still uses this object; it ends quickly now.
    m_walk_cv.wait(lock, [this] { return m_active_walks == 0; });
    lock.unlock();
    FreeBaseEvent();
}

void DiscoveryClient::RegisterSslCtx(SSL_CTX* ssl_ctx) {
    m_ssl_ctx = ShareSslCtx(ssl_ctx);
}

void DiscoveryClient::InitParams(const std::string& user_account, const std::string& passwd, bool use_ssl,
                                 ServerHost main_host, std::vector<ServerHost> backup_hosts) {
    m_user_account = user_account;
    m_passwd = passwd;
    m_use_ssl = use_ssl;
    m_hosts.clear();
    m_hosts.push_back(std::move(main_host));
    for (auto& host : backup_hosts) {
        m_hosts.push_back(std::move(host));
    }
}

int DiscoveryClient::TryLoginDiscovery() {
    // Counts this call so that the destructor waits until it has left.
    struct WalkGuard {
        explicit WalkGuard(DiscoveryClient* client) : m_client(client) {
            std::lock_guard<std::mutex> lock(m_client->m_loop_mutex);
            ++m_client->m_active_walks;
        }
        ~WalkGuard() {
            std::lock_guard<std::mutex> lock(m_client->m_loop_mutex);
            --m_client->m_active_walks;
            m_client->m_walk_cv.notify_all();
        }
        DiscoveryClient* m_client;
    } guard(this);

    // One walk at a time: two would share the attempt's socket and loop.
    if (m_running.exchange(true)) {
        WarnPrint("Discovery client is running");
        return RESULT_DISCOVERY_RETRY;
    }
    {
        std::lock_guard<std::mutex> lock(m_loop_mutex);
        m_keep_trying = !m_closing;
    }
    // A success of an earlier walk must not pass for one of this walk.
    m_login_success = false;
    m_stop_requested = false;
    m_tls_failed = false;

    for (size_t index = 0; index < m_hosts.size() && WalkMayGoOn(); ++index) {
        m_current_used_host = m_hosts[index];
        const std::string ip = m_current_used_host.GetServerIp();
        TryConnect(ip, m_current_used_host.GetServerPort());

        if (m_login_success) {
            std::vector<int> site_types;
            site_types.reserve(m_datafeed_nodes.size());
            for (const auto& site : m_datafeed_nodes) {
                site_types.push_back(site.first);
            }
            if (m_message_handle != nullptr) {
                m_message_handle->OnLoginDiscoverySuccess(ip, std::move(site_types));
            }
        } else {
            if (m_message_handle != nullptr) {
                m_message_handle->OnLoginDiscoveryFailed(ip);
            }
            WarnPrint("Connect to discovery server: %s failed, will retry after 5 seconds if need",
                      ip.c_str());
        }
        if (!WalkMayGoOn()) {
            break;
        }
        PauseBeforeNextServer();
    }

    InfoPrint("The connection to discovery is over.");
    m_running = false;
    if (m_login_success) {
        return 0;
    }
    if (m_message_handle != nullptr) {
        m_message_handle->OnNoDiscoveryServices();
    }
    if (m_tls_failed) {
        return RESULT_SSL_FAILED;
    }
    return WalkMayGoOn() ? RESULT_DISCOVERY_RETRY : RESULT_DISCOVERY_STOPPED;
}

void DiscoveryClient::PauseBeforeNextServer() {
    const auto pause = TestSeam::Scaled(kPauseAfterFailedServer);
    DebugPrint("Pause %lld ms before the next discovery server", static_cast<long long>(pause.count()));
    std::unique_lock<std::mutex> lock(m_loop_mutex);
    m_walk_cv.wait_for(lock, pause, [this] { return m_closing || m_stop_requested; });
}

void DiscoveryClient::CloseSocket() {
    BreakLoop();
}

void DiscoveryClient::StopLoginCauseFailed() {
    m_login_success = false;
    m_keep_trying = false;
    {
        // Taken so that a pause about to wait cannot miss the notification.
        std::lock_guard<std::mutex> lock(m_loop_mutex);
        m_stop_requested = true;
    }
    m_walk_cv.notify_all();
}

void DiscoveryClient::StopLoginCauseSuccess() {
    m_login_success = true;
    m_keep_trying = false;
}

void DiscoveryClient::ReLoginCauseFailed() {
    m_login_success = false;
    m_keep_trying = true;
}

bool DiscoveryClient::UpdateDatafeedNodes(
    const google::protobuf::RepeatedPtrField<com::mivo::zel::model::ServerInfo>* servers) {
    DatafeedNodeMap nodes;
    if (servers != nullptr) {
        for (const auto& server : *servers) {
            if (server.port() <= 0 || server.port() > 65535) {
                ErrorPrint("Datafeed node %s:%d of site type %d has no valid port, node left out",
                           server.ip().c_str(), server.port(), server.sitetype());
                continue;
            }
            // emplace keeps the host already stored under a repeated priority.
            nodes[server.sitetype()].emplace(server.ippriority(),
                                             ServerHost(server.ip(), server.port(), server.isssl()));
        }
    }
    if (nodes.size() > MAX_SITE_TYPES) {
        ErrorPrint("Datafeed node table refused: %zu site types, at most %zu are served", nodes.size(),
                   MAX_SITE_TYPES);
        return false;
    }
    for (const auto& site : nodes) {
        if (site.second.size() > MAX_NODES_PER_SITE) {
            ErrorPrint("Datafeed node table refused: site type %d has %zu nodes, at most %zu are served",
                       site.first, site.second.size(), MAX_NODES_PER_SITE);
            return false;
        }
    }
    m_datafeed_nodes = std::move(nodes);
    if (m_datafeed_nodes.empty()) {
        return true;
    }
    InfoPrint("Receive datafeed service node info:");
    for (const auto& site : m_datafeed_nodes) {
        for (const auto& node : site.second) {
            InfoPrint("Datafeed service site type: %d, node priority: %d, host: %s", site.first, node.first,
                      node.second.ToString().c_str());
        }
    }
    return true;
}

std::string& DiscoveryClient::GetNewTraceId() {
    m_cur_trace_id = ServiceContract::MakeTraceId(ServiceContract::LOGIN_TRACE_PREFIX);
    return m_cur_trace_id;
}

}  // namespace com::mivo::kmr::client
