#include "client/nuvexia_tcp_session.h"

#include <google/protobuf/util/json_util.h>

#include <chrono>
#include <thread>

#include "client/callback_gate.h"
#include "client/datafeed_client.h"
#include "client/discovery_client.h"
#include "client/server_host.h"
#include "client/subscription_ledger.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/result_codes.h"
#include "common/standard_lib_kits.h"
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

// The longest wait after a successful login for the daemon's first pass
// (which replays subscriptions made before the login), so that it is done
// when the caller gets control back.
constexpr std::chrono::milliseconds kAfterLoginPause{5000};

// A public call counted while it runs (see EnterCall).
class CallScope {
public:
    CallScope(bool entered, std::function<void()> leave) : m_entered(entered), m_leave(std::move(leave)) {}
    ~CallScope() {
        if (m_entered) {
            m_leave();
        }
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
    bool Entered() const { return m_entered; }

private:
    bool m_entered;
    std::function<void()> m_leave;
};

}  // namespace

NuvexiaTcpSession::NuvexiaTcpSession(MessageHandle* message_handle)
    : m_subscriptions(std::make_shared<SubscriptionLedger>()),
      m_gate(std::make_shared<CallbackGate>(message_handle)),
      m_message_handle(message_handle),
      m_wall_clock(WallClockSeconds) {
    // Without a handler the components see none (and say so).
    MessageHandle* handle = message_handle != nullptr ? m_gate.get() : nullptr;
    m_discovery_client = std::make_unique<DiscoveryClient>(handle);
    m_datafeed_client = std::make_unique<DatafeedClient>(handle);
}

std::shared_ptr<SiteStatisticsBoard> NuvexiaTcpSession::GetStatisticsBoard() const {
    return m_datafeed_client->Statistics();
}

NuvexiaTcpSession::~NuvexiaTcpSession() {
    // Calls running on other threads (a login, a subscribe) end their waits
    // and leave before anything they use goes away.
    {
        std::lock_guard<std::mutex> lock(m_stop_mutex);
        m_closing = true;
        m_stop = true;
    }
    m_stop_cv.notify_all();
    std::unique_lock<std::mutex> lock(m_stop_mutex);
    while (m_active_calls > 0) {
        lock.unlock();
        WakeWaiters();
        lock.lock();
        // Repeated: a walk that starts right after a wake resets its stop flag.
        m_stop_cv.wait_for(lock, std::chrono::milliseconds(10), [this] { return m_active_calls == 0; });
    }
    lock.unlock();
    StopDaemonThread();
    m_datafeed_client.reset();
    m_discovery_client.reset();
    m_ssl_enabled = false;
    FreeSslCtx();
    std::lock_guard<std::mutex> registry(m_subscribe_mutex);
    m_subscribe_requests.clear();
}

std::shared_ptr<CallbackGate> NuvexiaTcpSession::BeginClose() {
    {
        std::lock_guard<std::mutex> lock(m_stop_mutex);
        m_closing = true;
        m_stop = true;
    }
    m_stop_cv.notify_all();
    return m_gate;
}

void NuvexiaTcpSession::WakeWaiters() {
    m_discovery_client->StopLoginCauseFailed();
    m_discovery_client->CloseSocket();
    if (m_closing) {
        m_datafeed_client->Abort();
    }
}

bool NuvexiaTcpSession::EnterCall() {
    std::lock_guard<std::mutex> lock(m_stop_mutex);
    if (m_closing) {
        return false;
    }
    ++m_active_calls;
    return true;
}

void NuvexiaTcpSession::LeaveCall() {
    // Notified under the lock: once the count reads zero the destructor may
    // free the condition variable, so nothing here may touch it afterwards.
    std::lock_guard<std::mutex> lock(m_stop_mutex);
    --m_active_calls;
    m_stop_cv.notify_all();
}

bool NuvexiaTcpSession::PauseUnlessClosing(std::chrono::milliseconds pause) {
    std::unique_lock<std::mutex> lock(m_stop_mutex);
    m_stop_cv.wait_for(lock, pause, [this] { return m_closing.load(); });
    return !m_closing;
}

int NuvexiaTcpSession::LoginByServiceDiscovery(const std::string& user_name, const std::string& password,
                                               const std::string& main_ip, int main_port,
                                               std::vector<std::string> backup_servers) {
    if (password.size() > StandardLibKits::MAX_CIPHER_TEXT_LENGTH) {
        ErrorPrint("Login refused: the password has %zu bytes, at most %zu can be sent", password.size(),
                   StandardLibKits::MAX_CIPHER_TEXT_LENGTH);
        return RESULT_BAD_PARAMETERS;
    }
    // A malformed entry throws here, before anything connects.
    std::vector<ServerHost> backups;
    backups.reserve(backup_servers.size());
    for (const auto& text : backup_servers) {
        backups.emplace_back(text);
    }

    CallScope call(EnterCall(), [this] { LeaveCall(); });
    if (!call.Entered()) {
        return RESULT_DISCOVERY_STOPPED;
    }
    std::lock_guard<std::mutex> login_lock(m_login_mutex);
    if (m_closing) {
        return RESULT_DISCOVERY_STOPPED;
    }
    if (m_daemon_thread || m_datafeed_started) {
        InfoPrint("Login again: the running session is stopped first");
        StopDaemonThread();
        std::lock_guard<std::mutex> session(m_session_mutex);
        m_datafeed_client->Stop();
        m_datafeed_started = false;
    }

    m_discovery_client->RegisterSslCtx(m_ssl_ctx.get());
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
        if (ret == RESULT_DISCOVERY_STOPPED || m_closing) {
            return RESULT_DISCOVERY_STOPPED;
        }
        if (ret == RESULT_TLS_FAILED) {
            // The server's certificate is not trusted: trying again changes nothing.
            return ret;
        }
        if (j < try_count &&
            !PauseUnlessClosing(std::chrono::seconds(BaseConfig::GetInstance().GetLoginTryInterval()))) {
            return RESULT_DISCOVERY_STOPPED;
        }
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
        m_datafeed_client->RegisterSslCtx(m_ssl_ctx.get());
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
        if (m_closing) {
            break;
        }
        if (j < try_count &&
            !PauseUnlessClosing(std::chrono::seconds(BaseConfig::GetInstance().GetLoginTryInterval()))) {
            break;
        }
    }
    if (!logged_in) {
        m_discovery_client->CloseSocket();
        std::lock_guard<std::mutex> session(m_session_mutex);
        m_datafeed_client->CloseSocket();
        return ret;
    }

    if (m_closing) {
        return RESULT_DISCOVERY_STOPPED;
    }
    StartDaemonThread();
    std::unique_lock<std::mutex> lock(m_stop_mutex);
    m_stop_cv.wait_for(lock, TestSeam::Scaled(kAfterLoginPause),
                       [this] { return m_first_pass_done || m_stop || m_closing; });
    return 0;
}

int NuvexiaTcpSession::SubscribeByDatatype(ESubscribeActionType action,
                                           com::mivo::zel::model::SubscribeByDataType request) {
    auto subscribe = std::make_unique<SubscribeRequest>();
    subscribe->set_subscribeactiontype(action);
    *subscribe->mutable_subscribebydatatype() = std::move(request);
    InfoPrint("SubscribeByDatatype, request: %s", ToJson(*subscribe).c_str());
    return SubscribeWithRetries(std::move(subscribe), "SubscribeByDatatype");
}

int NuvexiaTcpSession::SubscribeById(ESubscribeActionType action,
                                     com::mivo::zel::model::SubscribeById request) {
    auto subscribe = std::make_unique<SubscribeRequest>();
    subscribe->set_subscribeactiontype(action);
    *subscribe->mutable_subscribebyid() = std::move(request);
    InfoPrint("SubscribeById, request: %s", ToJson(*subscribe).c_str());
    return SubscribeWithRetries(std::move(subscribe), "SubscribeById");
}

int NuvexiaTcpSession::SubscribeWithRetries(SubscribeRequestPtr request, const char* operation) {
    CallScope call(EnterCall(), [this] { LeaveCall(); });
    if (!call.Entered()) {
        return RESULT_SUBSCRIBE_REJECTED;
    }
    const unsigned int try_count = BaseConfig::GetInstance().GetSubscribeTryCount();
    for (unsigned int i = 1; i <= try_count; ++i) {
        bool refused = false;
        const int ret = Subscribe(request, false, &refused);
        if (ret == 0) {
            InfoPrint("%s success", operation);
            return 0;
        }
        if (refused) {
            ErrorPrint("%s refused by the service, not tried again", operation);
            return RESULT_SUBSCRIBE_REJECTED;
        }
        InfoPrint("%s failed, ret=%d, try again[%d/%d]", operation, ret, i, try_count);
        if (i < try_count &&
            !PauseUnlessClosing(std::chrono::seconds(BaseConfig::GetInstance().GetSubscirbeTryInterval()))) {
            break;
        }
    }
    WarnPrint("%s failed", operation);
    return RESULT_SUBSCRIBE_REJECTED;
}

int NuvexiaTcpSession::Subscribe(SubscribeRequestPtr& request, bool redo, bool* refused) {
    if (!request) {
        return RESULT_NULL_SUBSCRIBE_REQUEST;
    }
    // Held until the request is in the registry, so that a replay running
    // next sees it in the order the sites received it.
    std::lock_guard<std::mutex> session(m_session_mutex);
    if (m_closing) {
        return RESULT_SUBSCRIBE_REJECTED;
    }
    const int ret = m_datafeed_client->TrySubscribe(request.get(), refused);
    if (!redo) {
        m_subscriptions->Sent(*request, ret);
    }
    if (ret == 0 && !redo) {
        AddSubscribeRequest(std::move(request));
    }
    return ret;
}

void NuvexiaTcpSession::AddSubscribeRequest(SubscribeRequestPtr request) {
    std::lock_guard<std::mutex> lock(m_subscribe_mutex);
    m_subscribe_requests.push_back(std::move(request));
}

bool NuvexiaTcpSession::HasSubscribeRequests() {
    std::lock_guard<std::mutex> lock(m_subscribe_mutex);
    return !m_subscribe_requests.empty();
}

}  // namespace com::mivo::kmr::client
