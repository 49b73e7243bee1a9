#include "client/nuvexia_tcp_client.h"

#include <chrono>
#include <utility>

#include "client/callback_gate.h"
#include "client/nuvexia_tcp_session.h"
#include "common/base_log.h"
#include "common/host_call.h"
#include "common/reaper.h"

namespace com::mivo::kmr::client {

namespace {

// The longest a delete inside a callback waits for the callbacks of other
// threads to end; one of them may wait for the caller.
constexpr std::chrono::milliseconds kCallbackDrainLimit{5000};

}  // namespace

NuvexiaTcpClient::NuvexiaTcpClient(MessageHandle* message_handle)
    : m_session(std::make_shared<NuvexiaTcpSession>(message_handle)) {}

NuvexiaTcpClient::~NuvexiaTcpClient() {
    if (!m_session) {
        return;
    }
    if (!HostCall::Inside()) {
        m_session.reset();
        return;
    }
    // The calling thread may be one the session has to join, or be inside
    // one of its calls or locks: the session finishes on the reaper once
    // this callback has returned.
    std::shared_ptr<CallbackGate> gate = m_session->BeginClose();
    Reaper::Hand([session = std::move(m_session)]() mutable { session.reset(); });
    if (!gate->Close(kCallbackDrainLimit)) {
        WarnPrint("Client deleted inside a callback: callbacks of other threads still run");
    }
}

int NuvexiaTcpClient::LoginByServiceDiscovery(const std::string& user_name, const std::string& password,
                                              const std::string& main_ip, int main_port,
                                              std::vector<std::string> backup_servers) {
    return m_session->LoginByServiceDiscovery(user_name, password, main_ip, main_port,
                                              std::move(backup_servers));
}

int NuvexiaTcpClient::SubscribeByDatatype(com::mivo::zel::model::ESubscribeActionType action,
                                          com::mivo::zel::model::SubscribeByDataType request) {
    return m_session->SubscribeByDatatype(action, std::move(request));
}

int NuvexiaTcpClient::SubscribeById(com::mivo::zel::model::ESubscribeActionType action,
                                    com::mivo::zel::model::SubscribeById request) {
    return m_session->SubscribeById(action, std::move(request));
}

int NuvexiaTcpClient::SslEnvInit() {
    return m_session->SslEnvInit();
}

std::shared_ptr<SiteStatisticsBoard> NuvexiaTcpClient::GetStatisticsBoard() const {
    return m_session->GetStatisticsBoard();
}

std::shared_ptr<SubscriptionLedger> NuvexiaTcpClient::GetSubscriptionLedger() const {
    return m_session->GetSubscriptionLedger();
}

std::shared_ptr<CallbackGate> NuvexiaTcpClient::BeginClose() {
    return m_session->BeginClose();
}

}  // namespace com::mivo::kmr::client
