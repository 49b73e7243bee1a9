#include "client/nuvexia_tcp_client.h"

#include <google/protobuf/util/json_util.h>

#include <chrono>
#include <thread>

#include "client/datafeed_client.h"
#include "client/discovery_client.h"
#include "client/server_host.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/test_seam.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::ESubscribeActionType;
using com::mivo::zel::model::SubscribeRequest;

namespace {

std::string ToJson(const google::protobuf::Message& message) {
    std::string json;
    (void)google::protobuf::util::MessageToJsonString(message, &json);
    return json;
}

int64_t WallClockSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Waits after a successful login so that the daemon's first pass (which
// replays subscriptions made before the login) is done when the caller
// gets control back.
constexpr std::chrono::milliseconds kAfterLoginPause{5000};

}  // namespace

NuvexiaTcpClient::NuvexiaTcpClient(MessageHandle* message_handle)
    : m_message_handle(message_handle), m_wall_clock(WallClockSeconds) {
    m_discovery_client = std::make_unique<DiscoveryClient>(message_handle);
    m_datafeed_client = std::make_unique<DatafeedClient>(message_handle);
}

NuvexiaTcpClient::~NuvexiaTcpClient() {
    StopDaemonThread();
    m_datafeed_client.reset();
    m_discovery_client.reset();
    m_ssl_enabled = false;
    FreeSslCtx();
    std::lock_guard<std::mutex> lock(m_subscribe_mutex);
    m_subscribe_requests.clear();
}

int NuvexiaTcpClient::LoginByServiceDiscovery(const std::string& user_name, const std::string& password,
                                              const std::string& main_ip, int main_port,
                                              std::vector<std::string> backup_servers) {
    // A malformed entry throws here, before anything connects.
    std::vector<ServerHost> backups;
    backups.reserve(backup_servers.size());
    for (const auto& text : backup_servers) {
        backups.emplace_back(text);
    }

    std::lock_guard<std::mutex> login_lock(m_login_mutex);
    if (m_daemon_thread || m_datafeed_started) {
        InfoPrint("Login again: the running session is stopped first");
        StopDaemonThread();
        std::lock_guard<std::mutex> session(m_session_mutex);
        m_datafeed_client->Stop();
        m_datafeed_started = false;
    }

    m_discovery_client->RegisterSslCtx(m_ssl_ctx);
    m_discovery_client->InitParams(user_name, password, m_ssl_enabled, ServerHost(main_ip, main_port, false),
                                   backups);

    const unsigned int try_count = BaseConfig::GetInstance().GetLoginTryCount();
    bool discovered = try_count == 0;
    for (unsigned int j = 1; j <= try_count; ++j) {
        InfoPrint("=== try to login discovery service [%d/%d] ... ===", j, try_count);
        const int ret = m_discovery_client->TryLoginDiscovery();
        if (ret == 0) {
            discovered = true;
            break;
        }
        if (ret == RESULT_DISCOVERY_STOPPED) {
            return RESULT_DISCOVERY_STOPPED;
        }
        std::this_thread::sleep_for(std::chrono::seconds(BaseConfig::GetInstance().GetLoginTryInterval()));
    }
    if (!discovered) {
        m_discovery_client->CloseSocket();
        return RESULT_DISCOVERY_RETRY;
    }

    int ret = 0;
    {
        std::lock_guard<std::mutex> session(m_session_mutex);
        const std::string user = m_discovery_client->GetUserAccount();
        const std::string token = m_discovery_client->GetToken();
        m_datafeed_client->Init(user, token, m_discovery_client->GetDatafeedNodes());
        m_datafeed_client->RegisterSslCtx(m_ssl_ctx);
        m_datafeed_client->Start();
        m_datafeed_started = true;
    }
    bool logged_in = try_count == 0;
    for (unsigned int j = 1; j <= try_count; ++j) {
        InfoPrint("Try to login datafeed service [%d/%d]", j, try_count);
        {
            std::lock_guard<std::mutex> session(m_session_mutex);
            ret = m_datafeed_client->TryLoginDatafeed();
        }
        if (ret == 0) {
            logged_in = true;
            break;
        }
        ErrorPrint("Login datafeed service failed, ret=%d", ret);
        std::this_thread::sleep_for(std::chrono::seconds(BaseConfig::GetInstance().GetLoginTryInterval()));
    }
    if (!logged_in) {
        m_discovery_client->CloseSocket();
        std::lock_guard<std::mutex> session(m_session_mutex);
        m_datafeed_client->CloseSocket();
        return ret;
    }

    StartDaemonThread();
    TestSeam::Sleep(kAfterLoginPause);
    return 0;
}

int NuvexiaTcpClient::SubscribeByDatatype(ESubscribeActionType action,
                                          com::mivo::zel::model::SubscribeByDataType request) {
    auto subscribe = std::make_unique<SubscribeRequest>();
    subscribe->set_subscribeactiontype(action);
    *subscribe->mutable_subscribebydatatype() = std::move(request);
    InfoPrint("SubscribeByDatatype, request: %s", ToJson(*subscribe).c_str());
    return SubscribeWithRetries(std::move(subscribe), "SubscribeByDatatype");
}

int NuvexiaTcpClient::SubscribeById(ESubscribeActionType action,
                                    com::mivo::zel::model::SubscribeById request) {
    auto subscribe = std::make_unique<SubscribeRequest>();
    subscribe->set_subscribeactiontype(action);
    *subscribe->mutable_subscribebyid() = std::move(request);
    InfoPrint("SubscribeById, request: %s", ToJson(*subscribe).c_str());
    return SubscribeWithRetries(std::move(subscribe), "SubscribeById");
}

int NuvexiaTcpClient::SubscribeWithRetries(SubscribeRequestPtr request, const char* operation) {
    const unsigned int try_count = BaseConfig::GetInstance().GetSubscribeTryCount();
    for (unsigned int i = 1; i <= try_count; ++i) {
        const int ret = Subscribe(request, false);
        if (ret == 0) {
            InfoPrint("%s success", operation);
            return 0;
        }
        InfoPrint("%s failed, ret=%d, try again[%d/%d]", operation, ret, i, try_count);
        std::this_thread::sleep_for(
            std::chrono::seconds(BaseConfig::GetInstance().GetSubscirbeTryInterval()));
    }
    WarnPrint("%s failed", operation);
    return RESULT_SUBSCRIBE_REJECTED;
}

int NuvexiaTcpClient::Subscribe(SubscribeRequestPtr& request, bool redo) {
    if (!request) {
        return RESULT_NULL_SUBSCRIBE_REQUEST;
    }
    // Held until the request is in the registry, so that a replay running
    // next sees it in the order the sites received it.
    std::lock_guard<std::mutex> session(m_session_mutex);
    const int ret = m_datafeed_client->TrySubscribe(request.get());
    if (ret == 0 && !redo) {
        AddSubscribeRequest(std::move(request));
    }
    return ret;
}

void NuvexiaTcpClient::AddSubscribeRequest(SubscribeRequestPtr request) {
    std::lock_guard<std::mutex> lock(m_subscribe_mutex);
    m_subscribe_requests.push_back(std::move(request));
}

bool NuvexiaTcpClient::HasSubscribeRequests() {
    std::lock_guard<std::mutex> lock(m_subscribe_mutex);
    return !m_subscribe_requests.empty();
}

}  // namespace com::mivo::kmr::client
