#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SysSubscribe.pb.h"
#include "client/message_handle.h"
#include "client/ssl_owners.h"

namespace com::mivo::kmr::client {

class CallbackGate;
class DatafeedClient;
class DiscoveryClient;
class SiteStatisticsBoard;
class SubscriptionLedger;

// Everything a client is and runs, behind the public NuvexiaTcpClient:
// discovery login, token login on one datafeed node per site type,
// subscriptions, and a daemon thread that reconnects lost sites and replays
// every accepted subscription in order. The library's threads and callbacks
// reach only this object, never the public one, so that the host may delete
// its client inside a callback: the session then finishes on the reaper once
// that callback has returned (see NuvexiaTcpClient).
//
// Threading rules:
// - Subscribe calls and the daemon's reconnect and replay never use the
//   datafeed client at the same time: each subscribe try, each datafeed
//   login attempt and a whole replay run under one session mutex. A
//   subscribe call made while a site is being logged in again therefore
//   waits for that attempt (or replay) to end, then sees its outcome.
// - A second LoginByServiceDiscovery replaces the first login: it stops
//   the running daemon thread and the datafeed client, then logs in anew
//   with the new parameters; the registry is kept and replayed by the new
//   daemon thread. At most one daemon thread ever exists. If the new login
//   fails, the client is left without a session (and without daemon).
// - Destruction asks the daemon thread to stop and waits for it. A
//   reconnect in progress ends at its next step: between two discovery
//   walks, between datafeed login attempts, and inside every pause.
// - With TLS on and no CA file configured the peer is NOT verified; the
//   TLS set-up logs one warning saying so.
// - A replay that fails in a daemon pass resets every site, as a failed
//   replay after a reconnect does: a site whose subscription was refused
//   has lost its socket while still counting as logged in, and would
//   otherwise never be connected again.
class NuvexiaTcpSession {
public:
    explicit NuvexiaTcpSession(MessageHandle* message_handle);
    // Waits for everything the session runs; never called on one of its own
    // threads or inside its callbacks (the reaper takes it from there).
    ~NuvexiaTcpSession();

    NuvexiaTcpSession(const NuvexiaTcpSession&) = delete;
    NuvexiaTcpSession& operator=(const NuvexiaTcpSession&) = delete;

    // RESULT_OK, RESULT_DISCOVERY_RETRY / RESULT_DISCOVERY_STOPPED for
    // discovery, RESULT_DATAFEED_LOGIN_FAILED for datafeed login.
    // A malformed backup text throws before anything connects.
    int LoginByServiceDiscovery(const std::string& user_name, const std::string& password,
                                const std::string& main_ip, int main_port,
                                std::vector<std::string> backup_servers);

    // 0 when every logged-in site accepted (also before any login: the
    // request is kept and sent by the first daemon pass),
    // RESULT_SUBSCRIBE_REJECTED otherwise.
    int SubscribeByDatatype(com::mivo::zel::model::ESubscribeActionType action,
                            com::mivo::zel::model::SubscribeByDataType request);
    int SubscribeById(com::mivo::zel::model::ESubscribeActionType action,
                      com::mivo::zel::model::SubscribeById request);

    // Prepares the TLS client context from the configured CA file; 0 on
    // success (or when prepared already), RESULT_TLS_FAILED on failure.
    int SslEnvInit();

    // The running counts of every site, for the statistics snapshot; lives as
    // long as the session (longer while a snapshot holds it).
    std::shared_ptr<SiteStatisticsBoard> GetStatisticsBoard() const;
    // The registry's entries with their latest results, for the host.
    std::shared_ptr<SubscriptionLedger> GetSubscriptionLedger() const { return m_subscriptions; }

    // For a teardown asked for where it cannot be waited for (inside a
    // callback or the log sink; the destructor then runs on another thread):
    // calls return at once from now on and waits end. The caller closes the
    // returned gate so that no callback starts after it returns; the gate
    // outlives the session while the caller holds it.
    std::shared_ptr<CallbackGate> BeginClose();

private:
    friend class NuvexiaTcpClientTestPeer;

    using SubscribeRequestPtr = std::unique_ptr<com::mivo::zel::model::SubscribeRequest>;

    bool LoadCustomCertificate(const std::string& path);
    void FreeSslCtx();

    // One try under the session mutex; on success (and redo false) the
    // registry takes the request. *refused: a node refused it (final).
    int Subscribe(SubscribeRequestPtr& request, bool redo, bool* refused);
    int SubscribeWithRetries(SubscribeRequestPtr request, const char* operation);
    void AddSubscribeRequest(SubscribeRequestPtr request);
    bool HasSubscribeRequests();

    void StartDaemonThread();
    void StopDaemonThread();
    void DaemonThreadWorkFunc();
    void Reconnect();
    // Caller holds m_session_mutex.
    int RedoSubscribe();
    // After a successful datafeed login in Reconnect; caller holds
    // m_session_mutex.
    void ReplayAfterReconnect();

    // Sleeps unless a stop request comes first; false when stopped.
    bool PauseUnlessStopped(std::chrono::milliseconds pause);
    // Sleeps unless teardown begins first; false when closing.
    bool PauseUnlessClosing(std::chrono::milliseconds pause);
    // Ends the waits of whatever runs on other threads: discovery walks,
    // datafeed logins and subscribes (teardown only).
    void WakeWaiters();
    // Counts the public calls inside the object so that teardown waits for
    // them to leave; false (and not counted) once teardown has begun.
    bool EnterCall();
    void LeaveCall();
    // The pause after the n-th failed discovery login of a reconnect: grows
    // from the login try interval to the check interval, with jitter.
    std::chrono::milliseconds DiscoveryBackoff(int failures) const;

    std::atomic<bool> m_stop{false};
    // Teardown has begun: calls return at once, waits end.
    std::atomic<bool> m_closing{false};
    // Guarded by m_stop_mutex.
    int m_active_calls = 0;
    bool m_first_pass_done = false;
    bool m_daemon_done = false;
    std::unique_ptr<std::thread> m_daemon_thread;
    std::mutex m_subscribe_mutex;
    std::vector<SubscribeRequestPtr> m_subscribe_requests;
    std::shared_ptr<SubscriptionLedger> m_subscriptions;
    // Between the library and m_message_handle; handed to every component.
    std::shared_ptr<CallbackGate> m_gate;
    MessageHandle* m_message_handle;
    bool m_ssl_enabled = false;
    SslCtxOwner m_ssl_ctx;
    std::unique_ptr<DatafeedClient> m_datafeed_client;
    std::unique_ptr<DiscoveryClient> m_discovery_client;

    // Serialises the datafeed client's users: subscribe tries, login
    // attempts and replays.
    std::mutex m_session_mutex;
    // Serialises whole logins (a second one replaces the first).
    std::mutex m_login_mutex;
    bool m_datafeed_started = false;
    std::mutex m_stop_mutex;
    std::condition_variable m_stop_cv;
    // The daemon's wall clock in whole seconds; replaceable by tests.
    std::function<int64_t()> m_wall_clock;
};

}  // namespace com::mivo::kmr::client
