#include "client/datafeed_client.h"

#include <chrono>
#include <functional>
#include <thread>

#include "client/socket_connect_thread.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/test_seam.h"

namespace com::mivo::kmr::client {

DatafeedClient::DatafeedClient(MessageHandle* message_handle)
    : m_message_handle(message_handle), m_ssl_ctx(nullptr) {}

DatafeedClient::~DatafeedClient() {
    // The pipeline stops consuming before the connections stop producing; the
    // last owner of each queue releases the payload buffers left in it.
    m_data_disruptor.reset();
    m_raw_data_queue_backs.clear();
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
    m_connections.clear();
    for (auto& site : m_datafeed_nodes) {
        CreateSite(site.first, site.second);
    }
    m_data_disruptor =
        std::make_shared<DataDisruptor>(m_message_handle, m_raw_data_queues, m_raw_data_queue_backs);
    m_data_disruptor->Start();
    TestSeam::Sleep(std::chrono::milliseconds(5000));
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
    auto raw_data_queue = DataDisruptor::CreateRawDataQueue();
    auto raw_data_queue_back = DataDisruptor::CreateRawDataBackQueue();
    m_raw_data_queues[key] = raw_data_queue;
    m_raw_data_queue_backs[key] = raw_data_queue_back;
    auto connection =
        std::make_shared<SocketConnectThread>(m_message_handle, nodes, raw_data_queue, raw_data_queue_back,
                                              m_user_account, m_passwd, key, m_ssl_ctx);
    m_connections[site_type] = connection;
    connection->Start();
}

int DatafeedClient::TryLoginDatafeed() {
    if (m_datafeed_nodes.empty()) {
        return RESULT_DATAFEED_LOGIN_FAILED;
    }
    for (auto& connection : m_connections) {
        if (!connection.second->isLoginSuccess()) {
            connection.second->Reset();
            connection.second->TryConnect();
        }
    }
    while (isAnyStillLogging()) {
        TestSeam::Sleep(std::chrono::milliseconds(1000));
        InfoPrint("Watting for successful login to all datafeed service");
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

int DatafeedClient::TrySubscribe(com::mivo::zel::model::SubscribeRequest* request) {
    if (request == nullptr) {
        return RESULT_NULL_SUBSCRIBE_REQUEST;
    }
    for (auto& connection : m_connections) {
        if (connection.second->isLoginSuccess()) {
            connection.second->SendSubscribeMsg(request);
        } else {
            WarnPrint("Datafeed node not connect, dont send subscribe request to this service ");
        }
    }
    while (isAnyStillSubscibing()) {
        auto pause = BaseConfig::GetInstance().GetThreadIdleSleepTime();
        if (pause.count() > 0) {
            std::this_thread::sleep_for(pause);
        }
    }
    int result = 0;
    for (auto& connection : m_connections) {
        if (connection.second->isSubscribeSuccess()) {
            if (m_message_handle != nullptr) {
                m_message_handle->OnSubscribeResponse(connection.second->getSubscribeRsp());
            }
        } else {
            result = RESULT_SUBSCRIBE_REJECTED;
        }
    }
    return result;
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
