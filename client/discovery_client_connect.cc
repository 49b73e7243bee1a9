// One discovery attempt: its event loop, its socket and their teardown.
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <exception>

#include <event2/bufferevent.h>
#include <event2/bufferevent_ssl.h>
#include <event2/event.h>
#include <event2/util.h>
#include <openssl/ssl.h>

#include "client/discovery_client.h"
#include "client/tls_peer_check.h"

#include "common/base_config.h"
#include "common/base_log.h"
#include "common/platform.h"

namespace com::mivo::kmr::client {

namespace {

// Dotted IPv4 text only: a name or a malformed text must not turn into a
// connection to 0.0.0.0.
// The time a discovery server has to accept the connection (and finish the
// TLS handshake) before the attempt counts as failed.
constexpr std::chrono::milliseconds kConnectLimit{5000};

bool BuildServerAddress(const std::string& ip, int port, sockaddr_in& address) {
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    if (evutil_inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        ErrorPrint("Discovery server address is not a dotted IPv4 address: %s", ip.c_str());
        return false;
    }
    if (port <= 0 || port > 65535) {
        ErrorPrint("Discovery server port is out of range: %d", port);
        return false;
    }
    address.sin_port = htons(static_cast<uint16_t>(port));
    return true;
}

}  // namespace

void DiscoveryClient::TryConnect(const std::string& ip, int port) {
    // The attempt's loop writes on the caller's thread.
    platform::ScopedBrokenPipeBlock no_sigpipe;
    m_login_success = false;
    m_attempt_over = false;
    m_header_logged = false;
    m_cutter.Reset();
    {
        std::lock_guard<std::mutex> lock(m_loop_mutex);
        if (m_closing) {
            return;
        }
        m_base.reset(event_base_new());
        if (m_base) {
            m_wake_event.reset(event_new(m_base.get(), -1, 0, &DiscoveryClient::WakeCb, this));
            m_deadline_event.reset(evtimer_new(m_base.get(), &DiscoveryClient::DeadlineCb, this));
        }
    }
    m_connected = false;
    if (!m_base || !m_wake_event || !m_deadline_event) {
        ErrorPrint("Create event base for discovery failed!");
        StopLoginCauseFailed();
        FreeBaseEvent();
        return;
    }

    sockaddr_in address;
    if (!CreateBufferEvent()) {
        StopLoginCauseFailed();
    } else if (!BuildServerAddress(ip, port, address)) {
        ReLoginCauseFailed();
    } else {
        bufferevent_setcb(m_bev.get(), DiscoveryReadCb, nullptr, DiscoveryEventCb, this);
        bufferevent_enable(m_bev.get(), EV_READ | EV_WRITE);
        // Until the connection is established only the connect limit runs:
        // an idle read timeout would misname a connection that never opened.
        ArmDeadline(kConnectLimit);

        InfoPrint("Try to connect discovery server: %s:%d", ip.c_str(), port);
        if (bufferevent_socket_connect(m_bev.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) <
            0) {
            ErrorPrint("Launch a connect failed!");
            StopLoginCauseFailed();
        } else {
            event_base_dispatch(m_base.get());
            InfoPrint("Close discovery socket connect to %s", ip.c_str());
        }
    }
    FreeBaseEvent();
}

bool DiscoveryClient::CreateBufferEvent() {
    if (m_use_ssl) {
        SslOwner ssl = NewTlsSession();
        if (!ssl || !TlsPeerCheck::BindToAddress(ssl.get(), m_current_used_host.GetServerIp())) {
            ErrorPrint("Please init ssl env before login!");
            return false;
        }
        // The socket layer owns the session from here on, also when it failed.
        m_bev.reset(bufferevent_openssl_socket_new(m_base.get(), -1, ssl.release(),
                                                   BUFFEREVENT_SSL_CONNECTING,
                                                   BEV_OPT_CLOSE_ON_FREE | BEV_OPT_DEFER_CALLBACKS));
        if (!m_bev) {
            ErrorPrint("Create ssl socket to discovery error!");
            return false;
        }
        bufferevent_openssl_set_allow_dirty_shutdown(m_bev.get(), 1);
        return true;
    }
    m_bev.reset(bufferevent_socket_new(m_base.get(), -1, BEV_OPT_CLOSE_ON_FREE));
    if (!m_bev) {
        ErrorPrint("Create socket to discovery error!");
        return false;
    }
    return true;
}

SslOwner DiscoveryClient::NewTlsSession() {
    SslOwner ssl(m_ssl_ctx ? SSL_new(m_ssl_ctx.get()) : nullptr);
    if (!ssl) {
        ErrorPrint("Create ssl failed!");
    }
    return ssl;
}

void DiscoveryClient::ArmDeadline(std::chrono::milliseconds limit) {
    const timeval tv{static_cast<time_t>(limit.count() / 1000),
                     static_cast<suseconds_t>((limit.count() % 1000) * 1000)};
    evtimer_add(m_deadline_event.get(), &tv);
}

void DiscoveryClient::OnConnected() {
    m_connected = true;
    const auto& config = BaseConfig::GetInstance();
    const timeval read_timeout{static_cast<time_t>(config.GetReadTimeout()), 0};
    const timeval write_timeout{static_cast<time_t>(config.GetSendTimeout()), 0};
    bufferevent_set_timeouts(m_bev.get(), &read_timeout, &write_timeout);
    int seconds = 30;
    try {
        seconds = config.GetIntValue("nuvexia_config_login_response_wait_time");
    } catch (const std::exception&) {
        seconds = 30;
    }
    ArmDeadline(std::chrono::seconds(seconds > 0 ? seconds : 30));
}

void DiscoveryClient::DeadlineCb(int /*fd*/, short /*events*/, void* ctx) {
    auto* client = static_cast<DiscoveryClient*>(ctx);
    if (client->m_attempt_over) {
        return;
    }
    const std::string host = client->m_current_used_host.ToString();
    if (client->m_connected) {
        ErrorPrint("Discovery server %s did not complete its login response in time", host.c_str());
    } else {
        ErrorPrint("Connect to discovery server %s timed out: no connection within the connect limit",
                   host.c_str());
    }
    client->EndAttempt(false, true);
}

void DiscoveryClient::FreeBaseEvent() {
    std::lock_guard<std::mutex> lock(m_loop_mutex);
    m_deadline_event.reset();
    // Frees the TLS session and closes the socket with it, once the loop's
    // owner has run what the socket left queued.
    m_bev.reset();
    m_wake_event.reset();
    m_base.reset();
}

void DiscoveryClient::BreakLoop() {
    std::lock_guard<std::mutex> lock(m_loop_mutex);
    if (m_wake_event) {
        // Unlike a plain loop break, an activated event is not lost when the
        // loop has not started yet.
        event_active(m_wake_event.get(), EV_TIMEOUT, 1);
    }
}

void DiscoveryClient::WakeCb(int /*fd*/, short /*events*/, void* ctx) {
    auto* client = static_cast<DiscoveryClient*>(ctx);
    event_base_loopbreak(client->m_base.get());
}

}  // namespace com::mivo::kmr::client
