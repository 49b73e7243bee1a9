#include "client/nuvexia_tcp_client.h"

#include <utility>

#include "client/nuvexia_tcp_session.h"

namespace com::mivo::kmr::client {

NuvexiaTcpClient::NuvexiaTcpClient(MessageHandle* message_handle)
    : m_session(std::make_shared<NuvexiaTcpSession>(message_handle)) {}

NuvexiaTcpClient::~NuvexiaTcpClient() = default;

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
