// Connecting, login on connect, failover and closing.
#include <arpa/inet.h>
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/bufferevent_ssl.h>
#include <event2/event.h>
#include <event2/util.h>
#include <netinet/in.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "SysLogin.pb.h"
#include "client/socket_connect_thread.h"
#include "client/tls_peer_check.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/platform.h"
#include "protocol/frame_buffer.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"

namespace com::mivo::kmr::client {

namespace {

// Zero in the configuration means no timeout, not an immediate one.
const struct timeval* TimeoutOrNull(unsigned seconds, struct timeval& tv) {
    if (seconds == 0) {
        return nullptr;
    }
    tv.tv_sec = static_cast<time_t>(seconds);
    tv.tv_usec = 0;
    return &tv;
}

constexpr size_t kMaxSingleRead = size_t{256} * 1024;

}  // namespace

void SocketConnectThread::DoTryConnect() {
    InfoPrint("Try to connect datafeed node, site type: %d, server index: %d, current host: %s",
              static_cast<int>(m_site_type), static_cast<int>(m_server_index.load()),
              getCurrentHostStr().c_str());
    if (m_login_state == CONNECT_STATE_SUCCESS) {
        InfoPrint("Is already connected");
        return;
    }
    int32_t index = m_server_index.load();
    if (index < 0 || static_cast<size_t>(index) >= m_server_hosts.size()) {
        WarnPrint("Try to connect to all datafeed node for site type: %d, but still failed",
                  static_cast<int>(m_site_type));
        SetLoginState(CONNECT_STATE_FAILED);
        return;
    }
    const ServerHost& host = m_server_hosts[static_cast<size_t>(index)];
    const std::string& ip = host.GetServerIp();
    int port = host.GetServerPort();
    if (!m_base) {
        ErrorPrint("event base is nullptr, pls check");
        return;
    }
    if (!TlsPeerCheck::MayReach(static_cast<int>(m_site_type), host)) {
        DoReConnnect();
        return;
    }
    // A socket left from an attempt that never got going goes first.
    FreeSocket();

    // Thread-safe so that libevent's own locks guard the buffers.
    int options = BEV_OPT_CLOSE_ON_FREE | BEV_OPT_THREADSAFE;
    if (BaseConfig::GetInstance().IsUseSSL() && host.IsSsl()) {
        SslOwner ssl = NewTlsSession();
        if (!ssl || !TlsPeerCheck::BindToAddress(ssl.get(), ip)) {
            ErrorPrint("Please init ssl env before login datafeed service!");
            SetLoginState(CONNECT_STATE_NONE);
            return;
        }
        // The socket owns the session from here on, also when it could not be made.
        m_bev.reset(bufferevent_openssl_socket_new(
            m_base.get(), -1, ssl.release(), BUFFEREVENT_SSL_CONNECTING, options | BEV_OPT_DEFER_CALLBACKS));
        if (!m_bev) {
            ErrorPrint("Create ssl bufferevent failed for %s:%d", ip.c_str(), port);
            SetLoginState(CONNECT_STATE_NONE);
            return;
        }
        bufferevent_openssl_set_allow_dirty_shutdown(m_bev.get(), 1);
    } else {
        m_bev.reset(bufferevent_socket_new(m_base.get(), -1, options));
        if (!m_bev) {
            ErrorPrint("Create bufferevent failed for %s:%d", ip.c_str(), port);
            SetLoginState(CONNECT_STATE_NONE);
            return;
        }
    }
    bufferevent_setcb(m_bev.get(), &SocketConnectThread::ReadCallback, nullptr,
                      &SocketConnectThread::EventCallback, this);
    // libevent reads 16 KiB per turn by default: a busy feed would cost a
    // poll, a size query and a read per few frames.
    bufferevent_set_max_single_read(m_bev.get(), kMaxSingleRead);
    bufferevent_enable(m_bev.get(), EV_READ | EV_WRITE | EV_TIMEOUT | EV_PERSIST);
    struct timeval read_tv, write_tv;
    const BaseConfig& config = BaseConfig::GetInstance();
    bufferevent_set_timeouts(m_bev.get(), TimeoutOrNull(config.GetReadTimeout(), read_tv),
                             TimeoutOrNull(config.GetSendTimeout(), write_tv));

    struct sockaddr_in addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (evutil_inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) <= 0) {
        ErrorPrint("Call inet_pton for %s:%d", ip.c_str(), port);
        SetLoginState(CONNECT_STATE_NONE);
        return;
    }
    if (bufferevent_socket_connect(m_bev.get(), reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) <
        0) {
        ErrorPrint("Call bufferevent_socket_connect to %s:%d faild", ip.c_str(), port);
        SetLoginState(CONNECT_STATE_NONE);
        return;
    }
    m_link_host = host.ToString();
    SetLoginState(CONNECT_STATE_ONGOING);
}

SslOwner SocketConnectThread::NewTlsSession() {
    if (!m_ssl_ctx) {
        ErrorPrint("Create ssl failed!, m_ssl_ctx is nullptr");
        return SslOwner();
    }
    SslOwner ssl(SSL_new(m_ssl_ctx.get()));
    if (!ssl) {
        ErrorPrint("Create ssl failed!");
    }
    return ssl;
}

void SocketConnectThread::SetLoginState(ConnectState state) {
    m_login_state = state;
    if (m_state_listener) {
        m_state_listener();
    }
}

void SocketConnectThread::SetSubscribeState(ConnectState state) {
    m_subscribe_state = state;
    if (m_state_listener) {
        m_state_listener();
    }
}

void SocketConnectThread::AbandonSubscribe() {
    ConnectState ongoing = CONNECT_STATE_ONGOING;
    if (m_subscribe_state.compare_exchange_strong(ongoing, CONNECT_STATE_FAILED) && m_state_listener) {
        m_state_listener();
    }
}

void SocketConnectThread::LoseLink() {
    if (m_link_host.empty()) {
        return;
    }
    const std::string host = std::move(m_link_host);
    m_link_host.clear();
    if (m_message_handle != nullptr) {
        m_message_handle->OnDisconnected(static_cast<int>(m_site_type), host);
    }
}

void SocketConnectThread::FreeSocket() {
    m_link_host.clear();
    if (m_bev == nullptr) {
        return;
    }
    DebugPrint("Close datafeed socket");
    // Without its socket a site is neither logged in nor subscribed: a
    // waiting subscribe ends, and the supervision sees the site as down
    // instead of counting a stale success.
    if (m_login_state == CONNECT_STATE_SUCCESS) {
        SetLoginState(CONNECT_STATE_NONE);
    }
    if (m_subscribe_state != CONNECT_STATE_NONE) {
        SetSubscribeState(CONNECT_STATE_NONE);
    }
    // A TLS socket frees its session with it (close-on-free).
    m_bev.reset();
    // Bytes of the old stream mean nothing on the next one.
    m_cutter.Release();
}

void SocketConnectThread::EventCallback(struct bufferevent* bev, short events, void* context) {
    (void)bev;
    int err = platform::LastError();
    auto* self = static_cast<SocketConnectThread*>(context);
    int site = static_cast<int>(self->m_site_type);
    std::string host = self->getCurrentHostStr();
    if (events & BEV_EVENT_CONNECTED) {
        InfoPrint("Connected to datafeed service successfully, site type: %d, service host: %s.", site,
                  host.c_str());
        self->SendLoginRequest();
        return;
    }
    if ((events & BEV_EVENT_READING) && (events & BEV_EVENT_TIMEOUT)) {
        ErrorPrint("Datafeed Read IDLE, site type: %d, service host: %s. Try to reconnect...", site,
                   host.c_str());
    } else if ((events & BEV_EVENT_WRITING) && (events & BEV_EVENT_TIMEOUT)) {
        ErrorPrint("Datafeed Write IDLE, site type: %d, service host: %s. Try to reconnect...", site,
                   host.c_str());
    } else if (events & BEV_EVENT_EOF) {
        ErrorPrint("Connected to datafeed service closed by peer, site type: %d, service host: %s.", site,
                   host.c_str());
    } else if (events & BEV_EVENT_ERROR) {
        ErrorPrint(
            "Connected to datafeed service error, errno: %d, error msg: %s, site type: %d, service host: %s.",
            err, platform::ErrorText(err).c_str(), site, host.c_str());
    }
    // Every way a link ends other than our own close: one notice each.
    self->LoseLink();
    self->DoReConnnect();
}

void SocketConnectThread::SendLoginRequest() {
    m_trace_id = ServiceContract::MakeTraceId(ServiceContract::LOGIN_TRACE_PREFIX);
    m_heartbeat_count = 0;
    int32_t index = m_server_index.load();
    const ServerHost& host = m_server_hosts[static_cast<size_t>(index)];
    FrameBuffer frame;
    int length = NuvexiaMessage::PrepareLoginRequest(
        frame.Slot(), com::mivo::zel::model::NUVEXIA_LOGIN_FOR_DATAFEED, host.GetServerIp(),
        host.GetServerPort(), m_user_account, m_token, true, m_trace_id);
    if (length < 1) {
        DoReConnnect();
        return;
    }
    InfoPrint("Send login request to datafeed service");
    bufferevent_write(m_bev.get(), frame.Get(), static_cast<size_t>(length));
}

void SocketConnectThread::DoReConnnect() {
    m_heartbeat_count = 0;
    FreeSocket();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    SetLoginState(CONNECT_STATE_ONGOING);
    SetSubscribeState(CONNECT_STATE_NONE);
    m_server_index.fetch_add(1);
    InfoPrint("Connect to datafeed service failed, try to reconnect other node");
    DoTryConnect();
}

void SocketConnectThread::DoReset() {
    DebugPrint("Reset connect thread");
    m_heartbeat_count = 0;
    FreeSocket();
    SetLoginState(CONNECT_STATE_NONE);
    SetSubscribeState(CONNECT_STATE_NONE);
    m_server_index = 0;
}

void SocketConnectThread::DoCloseSocket() {
    m_heartbeat_count = 0;
    FreeSocket();
}

int SocketConnectThread::DoSendSubscribeMsg(com::mivo::zel::model::SubscribeRequest* request) {
    if (m_bev == nullptr) {
        ErrorPrint("Not connect, cannt send subscribe msg to this datafeed node");
        SetSubscribeState(CONNECT_STATE_FAILED);
        return RESULT_NOT_CONNECTED;
    }
    m_trace_id = ServiceContract::MakeTraceId(ServiceContract::SUBSCRIBE_TRACE_PREFIX);
    FrameBuffer frame;
    int length = NuvexiaMessage::PrepareSubscribeRequest(frame.Slot(), request, m_trace_id);
    if (length < 1) {
        // Nothing was sent: the caller must not wait for an answer.
        SetSubscribeState(CONNECT_STATE_FAILED);
        return length < 0 ? length : RESULT_BODY_NOT_SERIALISABLE;
    }
    {
        std::lock_guard<std::mutex> lock(m_send_mutex);
        bufferevent_write(m_bev.get(), frame.Get(), static_cast<size_t>(length));
        m_subscribe_refused = false;
        ConnectState before = m_subscribe_state.load();
        m_subscribe_state_before = before == CONNECT_STATE_ONGOING ? CONNECT_STATE_NONE : before;
        SetSubscribeState(CONNECT_STATE_ONGOING);
    }
    return 0;
}

}  // namespace com::mivo::kmr::client
