#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <google/protobuf/repeated_field.h>

#include "SysLogin.pb.h"
#include "client/event_owners.h"
#include "client/message_handle.h"
#include "client/node_map.h"
#include "client/server_host.h"
#include "client/ssl_owners.h"
#include "common/result_codes.h"
#include "common/zel_export.h"
#include "protocol/frame_cutter.h"

namespace com::mivo::kmr::client {

class DiscoveryClient;

// Read and event callbacks of the discovery socket; the context is the
// DiscoveryClient that runs the attempt.
ZEL_API void DiscoveryReadCb(struct bufferevent* bev, void* ctx);
ZEL_API void DiscoveryEventCb(struct bufferevent* bev, short events, void* ctx);

// Logs in to the discovery service with user name and password and keeps what
// the answer brings: the session token and the table of datafeed nodes.
//
// A walk (TryLoginDiscovery) tries the main server, then the backups in order,
// each attempt being one connection with a short event loop on the calling
// thread: connect, send the login request, read the one response, leave.
// Another thread may stop a walk: CloseSocket ends the running attempt, the
// destructor ends the whole walk and waits until it has returned.
class ZEL_API DiscoveryClient {
public:
    explicit DiscoveryClient(MessageHandle* message_handle);
    ~DiscoveryClient();

    DiscoveryClient(const DiscoveryClient&) = delete;
    DiscoveryClient& operator=(const DiscoveryClient&) = delete;

    // The client keeps a reference of its own to the TLS context.
    void RegisterSslCtx(SSL_CTX* ssl_ctx);

    void InitParams(const std::string& user_account, const std::string& passwd, bool use_ssl,
                    ServerHost main_host, std::vector<ServerHost> backup_hosts);

    // RESULT_OK logged in; RESULT_DISCOVERY_RETRY not logged in, a later walk
    // may succeed (also when a walk is already running);
    // RESULT_DISCOVERY_STOPPED stopped for good; RESULT_TLS_FAILED a server's
    // certificate was not verified by the CA (trying again changes nothing).
    //
    // Each attempt has two limits: the connection must be established within
    // a connect limit (5 s), and the whole response must have arrived within
    // nuvexia_config_login_response_wait_time, however the bytes trickle in.
    int TryLoginDiscovery();

    // Ends the running attempt, if any, from any thread.
    void CloseSocket();

    // Also ends a walk running on another thread: after the attempt that
    // CloseSocket breaks, or at once during the pause between servers.
    void StopLoginCauseFailed();
    void StopLoginCauseSuccess();
    void ReLoginCauseFailed();

    // Replaces the node table with the list. A node whose port is not 1..65535
    // is left out with an error line. A table with more than MAX_SITE_TYPES
    // site types or MAX_NODES_PER_SITE nodes in a site is refused whole (error
    // line, false) and the table stays as it was: every site costs threads and
    // memory, so a hostile table must not decide how many.
    bool UpdateDatafeedNodes(
        const google::protobuf::RepeatedPtrField<com::mivo::zel::model::ServerInfo>* servers);
    DatafeedNodeMap& GetDatafeedNodes() { return m_datafeed_nodes; }

    std::string& GetNewTraceId();
    std::string& GetCurTraceId() { return m_cur_trace_id; }

    const std::string GetUserAccount() { return m_user_account; }
    const std::string GetPasswd() { return m_passwd; }
    const std::string GetToken() { return m_token; }
    void StoreToken(const std::string& token) { m_token = token; }

    MessageHandle* GetMessageHandle() { return m_message_handle; }
    ServerHost& GetCurrentUsedHost() { return m_current_used_host; }

    static constexpr size_t MAX_SITE_TYPES = 16;
    static constexpr size_t MAX_NODES_PER_SITE = 16;

    // Older names of the table's codes, kept for host programs that use them.
    static constexpr int RESULT_RETRY = RESULT_DISCOVERY_RETRY;
    static constexpr int RESULT_STOPPED = RESULT_DISCOVERY_STOPPED;
    static constexpr int RESULT_SSL_FAILED = RESULT_TLS_FAILED;

private:
    friend void DiscoveryReadCb(struct bufferevent* bev, void* ctx);
    friend void DiscoveryEventCb(struct bufferevent* bev, short events, void* ctx);

    void TryConnect(const std::string& ip, int port);
    // A new TLS session of the registered context; empty (error line) without one.
    SslOwner NewTlsSession();
    void FreeBaseEvent();

    // Creates the buffered socket of an attempt; false when that failed (the
    // walk is then given up).
    bool CreateBufferEvent();
    // Breaks the current loop, if any, also one that has not started yet.
    void BreakLoop();
    static void WakeCb(int fd, short events, void* ctx);
    // The attempt's limit expired: the connect limit before the connection
    // is established, the response limit after.
    static void DeadlineCb(int fd, short events, void* ctx);
    // Arms the attempt's deadline event for the given time.
    void ArmDeadline(std::chrono::milliseconds limit);
    // Called once the connection is established: read and write timeouts and
    // the response limit replace the connect limit.
    void OnConnected();
    // Logs what a failed TLS connection says; true when the server's
    // certificate was not verified (the walk then ends with -2402).
    bool ReportTlsErrors(struct bufferevent* bev);
    // Names a likely TLS mismatch with what was seen.
    void ReportTlsMismatch(const char* what);
    // A plain connection ended before any byte of the answer came.
    bool IsPlainLinkEndedUnanswered() const;
    // Ends the attempt: sets the walk flags and leaves the loop.
    void EndAttempt(bool login_success, bool keep_trying);
    // The pause after a failed server; cut short when the walk is stopped.
    void PauseBeforeNextServer();
    bool WalkMayGoOn() const { return m_keep_trying && !m_stop_requested && !m_closing; }
    // Moves the socket's bytes to the cutter and reads the response once it is
    // whole. at_end: no more bytes will come, so whatever is missing now is
    // missing for good.
    void HandleResponse(bool at_end);
    // Fails the attempt on a response frame that cannot be read whole.
    void FailIncompleteResponse();
    void HandleLoginResponse(const com::mivo::zel::model::LoginResponse& response);

    MessageHandle* m_message_handle;
    std::string m_user_account;
    std::string m_passwd;
    std::string m_token;
    std::string m_cur_trace_id;
    std::vector<ServerHost> m_hosts;
    DatafeedNodeMap m_datafeed_nodes;
    ServerHost m_current_used_host;
    bool m_use_ssl;
    SslCtxOwner m_ssl_ctx;
    std::atomic<bool> m_login_success;
    std::atomic<bool> m_running;
    std::atomic<bool> m_keep_trying;
    // The attempt's loop and socket. The loop is declared first: its owner
    // goes last, and runs what the freed socket left queued.
    EventBaseOwner m_base;
    BufferEventOwner m_bev;

    // Lets another thread reach the loop of the running attempt: m_base and
    // m_wake_event are created and freed under m_loop_mutex, and the wake
    // event, once activated, breaks the loop even if it has not started yet.
    std::mutex m_loop_mutex;
    EventOwner m_wake_event;
    // Set by the destructor (under m_loop_mutex); ends the walk and the pause
    // between servers.
    std::atomic<bool> m_closing;
    // Set by StopLoginCauseFailed for the rest of the walk, so that a stop
    // from another thread is not undone by the attempt's own outcome.
    std::atomic<bool> m_stop_requested;
    // Number of TryLoginDiscovery calls still inside this object, so that the
    // destructor can wait for them.
    int m_active_walks;
    std::condition_variable m_walk_cv;
    // State of the current attempt, touched only on the loop thread: whether
    // its outcome is settled and whether the response header was logged.
    bool m_attempt_over;
    bool m_header_logged;
    // The attempt's connection was established (TCP, and TLS when on).
    bool m_connected = false;
    // Some attempt of the walk failed the certificate check.
    std::atomic<bool> m_tls_failed{false};
    EventOwner m_deadline_event;
    // The response frame as it arrives; a body longer than the service ever
    // sends is refused before it is buffered.
    FrameCutter m_cutter;
};

}  // namespace com::mivo::kmr::client
