#include "client/datafeed_client.h"

#include <chrono>
#include <exception>
#include <functional>
#include <vector>

#include "client/socket_connect_thread.h"
#include "client/state_signal.h"
#include "common/base_config.h"
#include "common/base_log.h"

namespace com::mivo::kmr::client {

namespace {

// A wait limit from the configuration; an unusable or non-positive value
// keeps the built-in 30 seconds.
std::chrono::steady_clock::time_point DeadlineFrom(const char* key) {
    int seconds = 30;
    try {
        seconds = BaseConfig::GetInstance().GetIntValue(key);
    } catch (const std::exception&) {
        seconds = 30;
    }
    if (seconds <= 0) {
        seconds = 30;
    }
    return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

}  // namespace

DatafeedClient::DatafeedClient(MessageHandle* message_handle)
    : m_message_handle(message_handle), m_ssl_ctx(nullptr), m_signal(std::make_shared<StateSignal>()) {}

DatafeedClient::~DatafeedClient() {
    // The pipeline stops consuming before the connections stop producing; the
    // last owner of each queue releases the payload buffers left in it.
    m_data_disruptor.reset();
    m_statistics->DetachAll();
    m_raw_data_queues.clear();
    m_connections.clear();
}

void DatafeedClient::Init(const std::string& user_account, const std::string& passwd,
                          const DatafeedNodeMap& datafeed_nodes) {
    m_user_account = user_account;
    m_passwd = passwd;
    m_datafeed_nodes = datafeed_nodes;
}

void DatafeedClient::RegisterSslCtx(SSL_CTX* ssl_ctx) {
    m_ssl_ctx = ssl_ctx;
}

void DatafeedClient::Start() {
    InfoPrint("Start datafeed client");
    m_statistics->DetachAll();
    m_connections.clear();
    for (auto& site : m_datafeed_nodes) {
        CreateSite(site.first, site.second);
    }
    m_data_disruptor = std::make_shared<DataDisruptor>(m_message_handle, m_raw_data_queues, m_site_flows);
    m_data_disruptor->Start();
}

void DatafeedClient::Stop() {
    InfoPrint("Stop datafeed client");
    for (auto& connection : m_connections) {
        connection.second->Stop();
    }
    if (m_data_disruptor) {
        m_data_disruptor->Stop();
    }
}

void DatafeedClient::CreateSite(int site_type, SiteNodeMap& nodes) {
    const uint32_t key = static_cast<uint32_t>(site_type);
    // A site keeps its flow (budget, payload pool, counters) for the life of the client.
    std::shared_ptr<SiteFlow>& flow = m_site_flows[key];
    if (!flow) {
        flow = std::make_shared<SiteFlow>(key, SiteFlow::ConfiguredBudgetBytes());
    }
    auto raw_data_queue = DataDisruptor::CreateRawDataQueue(flow);
    m_raw_data_queues[key] = raw_data_queue;
    auto connection = std::make_shared<SocketConnectThread>(m_message_handle, nodes, raw_data_queue, flow,
                                                            m_user_account, m_passwd, key, m_ssl_ctx);
    std::weak_ptr<StateSignal> signal = m_signal;
    connection->SetStateListener([signal] {
        if (auto alive = signal.lock()) {
            alive->Notify();
        }
    });
    m_statistics->Attach(site_type, flow, connection);
    m_connections[site_type] = connection;
    connection->Start();
}

int DatafeedClient::TryLoginDatafeed() {
    if (m_datafeed_nodes.empty()) {
        return RESULT_DATAFEED_LOGIN_FAILED;
    }
    const auto deadline = DeadlineFrom("nuvexia_config_login_response_wait_time");
    for (auto& connection : m_connections) {
        if (!connection.second->isLoginSuccess()) {
            connection.second->Reset();
            connection.second->TryConnect();
        }
    }
    if (!m_signal->WaitUntil([this] { return !isAnyStillLogging(); }, deadline) && isAnyStillLogging()) {
        if (m_signal->IsAborted()) {
            InfoPrint("Datafeed login given up: the client is closing");
        } else {
            ErrorPrint("Datafeed login not answered in time, sites still trying start over");
        }
        for (auto& connection : m_connections) {
            if (connection.second->isStillLogging()) {
                connection.second->Reset();
            }
        }
    }
    if (isEveryTableSiteLoggedIn()) {
        if (m_message_handle != nullptr) {
            m_message_handle->OnLoginDataServiceSuccess();
        }
        return 0;
    }
    if (m_message_handle != nullptr) {
        m_message_handle->OnLoginDataServiceFailed();
    }
    return RESULT_DATAFEED_LOGIN_FAILED;
}

int DatafeedClient::TrySubscribe(com::mivo::zel::model::SubscribeRequest* request, bool* refused) {
    if (refused != nullptr) {
        *refused = false;
    }
    if (request == nullptr) {
        return RESULT_NULL_SUBSCRIBE_REQUEST;
    }
    const auto deadline = DeadlineFrom("nuvexia_config_subscribe_response_wait_time");
    std::vector<SocketConnectThread*> sent;
    int result = 0;
    for (auto& connection : m_connections) {
        if (connection.second->isLoginSuccess() && connection.second->SendSubscribeMsg(request) == 0) {
            sent.push_back(connection.second.get());
        } else {
            WarnPrint("Datafeed node not connect, dont send subscribe request to this service ");
            result = RESULT_SUBSCRIBE_REJECTED;
        }
    }
    const auto answered = [&sent] {
        for (SocketConnectThread* connection : sent) {
            if (connection->isStillSubscibing()) {
                return false;
            }
        }
        return true;
    };
    if (!m_signal->WaitUntil(answered, deadline) && !answered()) {
        if (!m_signal->IsAborted()) {
            ErrorPrint("Subscribe request not answered in time");
        }
        for (SocketConnectThread* connection : sent) {
            connection->AbandonSubscribe();
        }
    }
    for (SocketConnectThread* connection : sent) {
        if (connection->isSubscribeRefused()) {
            result = RESULT_SUBSCRIBE_REJECTED;
            if (refused != nullptr) {
                *refused = true;
            }
        } else if (connection->isSubscribeSuccess()) {
            if (m_message_handle != nullptr) {
                m_message_handle->OnSubscribeResponse(connection->getSubscribeRsp());
            }
        } else {
            result = RESULT_SUBSCRIBE_REJECTED;
        }
    }
    return result;
}

void DatafeedClient::Abort() {
    m_signal->Abort();
}

void DatafeedClient::Rearm() {
    m_signal->Rearm();
}

void DatafeedClient::ResetAll() {
    for (auto& connection : m_connections) {
        connection.second->Reset();
    }
}

void DatafeedClient::ResetAllNotConnect() {
    for (auto& connection : m_connections) {
        if (!connection.second->isLoginSuccess()) {
            connection.second->Reset();
        }
    }
}

void DatafeedClient::CloseSocket() {
    for (auto& connection : m_connections) {
        connection.second->CloseSocket();
    }
}

void DatafeedClient::UpdateDatafeedNode() {
    for (auto& site : m_datafeed_nodes) {
        auto connection = m_connections.find(site.first);
        const bool has_queue = m_raw_data_queues.count(static_cast<uint32_t>(site.first)) != 0;
        if (connection != m_connections.end() && has_queue) {
            connection->second->UpdateNodeList(site.second);
            continue;
        }
        // The old connection (if any) stops producing before its queues go.
        if (connection != m_connections.end()) {
            m_statistics->DetachConnection(site.first);
            m_connections.erase(connection);
        }
        CreateSite(site.first, site.second);
        if (m_data_disruptor) {
            m_data_disruptor->AttachSite(static_cast<uint32_t>(site.first));
        }
    }
}

SocketConnectThread* DatafeedClient::FindConnection(int site_type) const {
    auto it = m_connections.find(site_type);
    return it == m_connections.end() ? nullptr : it->second.get();
}

const SiteCounters* DatafeedClient::GetSiteCounters(int site_type) const {
    auto found = m_site_flows.find(static_cast<uint32_t>(site_type));
    return found == m_site_flows.end() ? nullptr : &found->second->Counters();
}

bool DatafeedClient::isAllConnected() {
    for (auto& connection : m_connections) {
        if (!connection.second->isLoginSuccess()) {
            return false;
        }
    }
    return true;
}

bool DatafeedClient::isAllSubscibed() {
    for (auto& connection : m_connections) {
        if (!connection.second->isSubscribeSuccess()) {
            return false;
        }
    }
    return true;
}

bool DatafeedClient::isAnyStillSubscibing() {
    for (auto& connection : m_connections) {
        if (connection.second->isStillSubscibing()) {
            return true;
        }
    }
    return false;
}

// The predicates over the table's sites skip a site that has no connection:
// it is neither logging nor logged in, and nothing is created for it here.
bool DatafeedClient::AnyTableConnection(const std::function<bool(const SocketConnectThread&)>& test) const {
    for (auto& site : m_datafeed_nodes) {
        SocketConnectThread* connection = FindConnection(site.first);
        if (connection != nullptr && test(*connection)) {
            return true;
        }
    }
    return false;
}

bool DatafeedClient::isAnyStillLogging() {
    return AnyTableConnection([](const SocketConnectThread& c) { return c.isStillLogging(); });
}

bool DatafeedClient::isAnySubscribeFailed() {
    return AnyTableConnection([](const SocketConnectThread& c) { return !c.isSubscribeSuccess(); });
}

bool DatafeedClient::isAnyLoginFailed() {
    return AnyTableConnection([](const SocketConnectThread& c) { return c.isLoginFailed(); });
}

bool DatafeedClient::isEveryTableSiteLoggedIn() {
    for (auto& site : m_datafeed_nodes) {
        SocketConnectThread* connection = FindConnection(site.first);
        if (connection == nullptr || !connection->isLoginSuccess()) {
            return false;
        }
    }
    return true;
}

}  // namespace com::mivo::kmr::client
