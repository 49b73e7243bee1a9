#pragma once

#include <memory>
#include <string>
#include <vector>

#include "client/client_interface.h"
#include "client/message_handle.h"
#include "common/result_codes.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

class CallbackGate;
class NuvexiaTcpSession;
class SiteStatisticsBoard;
class SubscriptionLedger;

// The one client of a process, made by ClientFactory or by the host itself:
// discovery login, token login on one datafeed node per site type,
// subscriptions, and a supervision thread that reconnects lost sites and
// replays every accepted subscription in order. A second login replaces the
// first; destroying the client while another thread is inside a login or
// subscribe ends that call with a failure code.
//
// Deleting the client is safe anywhere, inside its own callbacks and the log
// sink too. On a host thread outside them the destructor returns when every
// thread, socket and byte of the client is gone. Inside one, it returns once
// no further callback can start (the one it is called from goes on, and
// callbacks running on other threads are waited for up to 5 s); the rest is
// freed on a thread of the library's own as soon as that callback returns.
class ZEL_API NuvexiaTcpClient : public ClientInterface {
public:
    explicit NuvexiaTcpClient(MessageHandle* message_handle);
    ~NuvexiaTcpClient() override;

    NuvexiaTcpClient(const NuvexiaTcpClient&) = delete;
    NuvexiaTcpClient& operator=(const NuvexiaTcpClient&) = delete;

    // RESULT_OK, RESULT_DISCOVERY_RETRY / RESULT_DISCOVERY_STOPPED for
    // discovery, RESULT_DATAFEED_LOGIN_FAILED for datafeed login.
    // A malformed backup text throws before anything connects.
    int LoginByServiceDiscovery(const std::string& user_name, const std::string& password,
                                const std::string& main_ip, int main_port,
                                std::vector<std::string> backup_servers) override;

    // 0 when every logged-in site accepted (also before any login: the
    // request is kept and sent by the first daemon pass),
    // RESULT_SUBSCRIBE_REJECTED otherwise.
    int SubscribeByDatatype(com::mivo::zel::model::ESubscribeActionType action,
                            com::mivo::zel::model::SubscribeByDataType request) override;
    int SubscribeById(com::mivo::zel::model::ESubscribeActionType action,
                      com::mivo::zel::model::SubscribeById request) override;

    // Prepares the TLS client context from the configured CA file; 0 on
    // success (or when prepared already), RESULT_TLS_FAILED on failure.
    int SslEnvInit();

    // The running counts of every site, for the statistics snapshot; lives as
    // long as the client (longer while a snapshot holds it).
    std::shared_ptr<SiteStatisticsBoard> GetStatisticsBoard() const;
    // The registry's entries with their latest results, for the host.
    std::shared_ptr<SubscriptionLedger> GetSubscriptionLedger() const;

    // For a teardown asked for where it cannot be waited for (inside a
    // callback or the log sink; the destructor then runs on another thread):
    // calls return at once from now on and waits end. The caller closes the
    // returned gate so that no callback starts after it returns; the gate
    // outlives the client while the caller holds it.
    std::shared_ptr<CallbackGate> BeginClose();

private:
    friend class NuvexiaTcpClientTestPeer;

    // Shared only to travel to the reaper in a copyable job.
    std::shared_ptr<NuvexiaTcpSession> m_session;
};

}  // namespace com::mivo::kmr::client
