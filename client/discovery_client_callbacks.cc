// The discovery socket's callbacks: send the login on connect, read the one
// login response, and settle the attempt.
#include <cstring>

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/bufferevent_ssl.h>
#include <event2/event.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "MetaData.pb.h"
#include "client/discovery_client.h"
#include "common/base_log.h"
#include "common/platform.h"
#include "protocol/frame_buffer.h"
#include "protocol/logged_message.h"
#include "protocol/message_header.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"
#include "protocol/wire_order.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::LoginResponse;
using com::mivo::zel::model::MetaData;

namespace {

// false when no request went out.
bool SendLoginRequest(DiscoveryClient* client, struct bufferevent* bev) {
    const ServerHost& host = client->GetCurrentUsedHost();
    FrameBuffer frame;
    const int length = NuvexiaMessage::PrepareLoginRequest(
        frame.Slot(), com::mivo::zel::model::NUVEXIA_LOGIN_FOR_DISCOVERY, host.GetServerIp(),
        host.GetServerPort(), client->GetUserAccount(), client->GetPasswd(), false, client->GetNewTraceId());
    bool sent = false;
    if (length <= 0) {
        ErrorPrint("Prepare login message failed! Retry login");
    } else if (bufferevent_write(bev, frame.Get(), static_cast<size_t>(length)) != 0) {
        ErrorPrint("Send login request to discovery failed! Retry login");
    } else {
        sent = true;
    }
    return sent;
}

}  // namespace

void DiscoveryClient::EndAttempt(bool login_success, bool keep_trying) {
    m_login_success = login_success;
    m_keep_trying = keep_trying;
    m_attempt_over = true;
    event_base_loopbreak(m_base.get());
}

void DiscoveryReadCb(struct bufferevent* /*bev*/, void* ctx) {
    auto* client = static_cast<DiscoveryClient*>(ctx);
    if (!client->m_attempt_over) {
        client->HandleResponse(false);
    }
}

void DiscoveryEventCb(struct bufferevent* bev, short events, void* ctx) {
    auto* client = static_cast<DiscoveryClient*>(ctx);
    // With deferred callbacks an event may follow the read that settled the
    // attempt; the outcome stands.
    if (client->m_attempt_over) {
        return;
    }
    if ((events & BEV_EVENT_TIMEOUT) && (events & BEV_EVENT_READING)) {
        ErrorPrint("Discovery socket READ IDLE!");
    } else if ((events & BEV_EVENT_TIMEOUT) && (events & BEV_EVENT_WRITING)) {
        ErrorPrint("Discovery socket Write IDLE!");
    } else if (events & BEV_EVENT_ERROR) {
        const int err = platform::LastError();
        ErrorPrint("Discovery socket occurs errno: %d, cause: %s", err, platform::ErrorText(err).c_str());
        if (client->ReportTlsErrors(bev)) {
            client->m_tls_failed = true;
        } else if (client->m_use_ssl && !client->m_connected && err == 0) {
            client->ReportTlsMismatch("the TLS handshake failed: the server may not use TLS");
        } else if (client->IsPlainLinkEndedUnanswered()) {
            client->ReportTlsMismatch("the server reset the connection without answering the login");
        }
    } else if (events & BEV_EVENT_CONNECTED) {
        InfoPrint("Connect to discovery server successfully! Try to send login request");
        client->OnConnected();
        if (SendLoginRequest(client, bev)) {
            return;
        }
    } else if (events & BEV_EVENT_EOF) {
        // What came before the end is all there will be.
        if (evbuffer_get_length(bufferevent_get_input(bev)) > 0 || client->m_cutter.Buffered() > 0) {
            client->HandleResponse(true);
            if (client->m_attempt_over) {
                return;
            }
        }
        ErrorPrint("Discovery socket closed by peers");
        if (client->m_use_ssl && !client->m_connected) {
            client->ReportTlsMismatch("the server closed during the TLS handshake: it may not use TLS");
        } else if (client->IsPlainLinkEndedUnanswered()) {
            client->ReportTlsMismatch("the server closed the connection without answering the login");
        }
    } else {
        WarnPrint("Unknow discovery socket event: %d", static_cast<int16_t>(events));
    }
    client->EndAttempt(false, true);
}

namespace {

const char kHeaderFailed[] = "Read discovery login response header failed! Try to relogin";
const char kMetaFailed[] = "Read discovery login response meta data failed! Try to relogin";
const char kBodyFailed[] = "Read discovery login response body failed! Try to relogin";

// Which part of a frame the header's lengths spoil, if any.
const char* BadLengthText(const MessageHeader& header, const FrameCutter::Limits& limits) {
    if (header.m_metaLength <= 0 || header.m_metaLength > limits.max_meta_length) {
        return kMetaFailed;
    }
    if (header.m_payloadLength < ServiceContract::PAYLOAD_PREFIX_LENGTH ||
        header.m_payloadLength > limits.max_payload_length) {
        return kBodyFailed;
    }
    return nullptr;
}

}  // namespace

void DiscoveryClient::FailIncompleteResponse() {
    MessageHeader header;
    const char* text = kHeaderFailed;
    if (m_cutter.PeekHeader(header)) {
        const size_t with_meta =
            static_cast<size_t>(MessageHeader::SIZE) + static_cast<size_t>(header.m_metaLength);
        text = m_cutter.Buffered() < with_meta ? kMetaFailed : kBodyFailed;
    }
    ErrorPrint("%s", text);
    EndAttempt(false, true);
}

bool DiscoveryClient::ReportTlsErrors(struct bufferevent* bev) {
    // A failed handshake or certificate check says more than errno.
    bool untrusted = false;
    for (unsigned long tls_err = bufferevent_get_openssl_error(bev); tls_err != 0;
         tls_err = bufferevent_get_openssl_error(bev)) {
        char text[256];
        ERR_error_string_n(tls_err, text, sizeof(text));
        ErrorPrint("Discovery socket TLS error: %s", text);
        const int reason = ERR_GET_REASON(tls_err);
        if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
            untrusted = true;
        } else if (reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            ReportTlsMismatch("the server did not answer with TLS");
        }
    }
    if (untrusted) {
        ErrorPrint(
            "Discovery server %s: its certificate is not verified by the configured CA; retrying cannot help",
            m_current_used_host.ToString().c_str());
    }
    return untrusted;
}

bool DiscoveryClient::IsPlainLinkEndedUnanswered() const {
    // A TLS server drops a plain client's login as a broken handshake.
    return !m_use_ssl && m_connected && !m_header_logged && m_cutter.Buffered() == 0;
}

void DiscoveryClient::ReportTlsMismatch(const char* what) {
    ErrorPrint("Discovery server %s: %s. Likely a TLS mismatch: the client uses %s (nuvexia_config_use_ssl)",
               m_current_used_host.ToString().c_str(), what, m_use_ssl ? "TLS" : "plain TCP");
}

void DiscoveryClient::HandleResponse(bool at_end) {
    struct evbuffer* input = bufferevent_get_input(m_bev.get());
    // A TLS record (alert or handshake, version 3.x) where a frame should start.
    unsigned char first[2];
    if (!m_use_ssl && m_cutter.Buffered() == 0 && evbuffer_copyout(input, first, sizeof(first)) == 2 &&
        (first[0] == 0x15 || first[0] == 0x16) && first[1] == 0x03) {
        ReportTlsMismatch("the server answered with TLS");
        EndAttempt(false, true);
        return;
    }
    for (size_t available = evbuffer_get_length(input); available > 0;
         available = evbuffer_get_length(input)) {
        size_t room = 0;
        char* into = m_cutter.Reserve(available, &room);
        const int moved = evbuffer_remove(input, into, available < room ? available : room);
        if (moved <= 0) {
            break;
        }
        m_cutter.Commit(static_cast<size_t>(moved));
    }
    const auto retry = [this](const char* message) {
        ErrorPrint("%s", message);
        EndAttempt(false, true);
    };

    MessageHeader header;
    if (m_cutter.PeekHeader(header)) {
        if (!m_header_logged) {
            DebugPrint("Decode login rsp success, %s", header.ToString().c_str());
            m_header_logged = true;
        }
        // Known bad from its header: no use waiting for the rest.
        if (const char* bad_length = BadLengthText(header, m_cutter.GetLimits())) {
            retry(bad_length);
            return;
        }
    }
    // A response may come in several segments: wait until the frame is whole
    // (the read timeout bounds the wait), unless nothing more can come.
    FrameView frame;
    if (m_cutter.Take(frame) != FrameCutter::Result::FRAME) {
        if (at_end) {
            FailIncompleteResponse();
        }
        return;
    }

    MetaData meta;
    if (NuvexiaMessage::DecodeMsgMeatData(frame.meta, static_cast<int>(frame.meta_length), meta) != 0) {
        retry(kMetaFailed);
        return;
    }
    InfoPrint("Receive discovery login response, meta data: %s", LoggedMessage::Json(meta).c_str());
    if (meta.sysmessagetype() != com::mivo::zel::model::LOGIN_RESPONSE ||
        meta.zelsysmessagenum() != ServiceContract::REQUEST_MESSAGE_NUM || meta.traceid() != m_cur_trace_id) {
        retry("Check discovery login response meta data failed! Try to relogin");
        return;
    }

    // The inner length must stay inside the payload.
    const int32_t payload_length = frame.header.m_payloadLength;
    const int32_t body_length = WireOrder::ReadInt32(frame.payload);
    DebugPrint("discovery login response body len: %d", body_length);
    if (body_length < 0 || body_length > payload_length - ServiceContract::PAYLOAD_PREFIX_LENGTH) {
        retry(kBodyFailed);
        return;
    }
    LoginResponse response;
    if (NuvexiaMessage::DecodeMsgBody(frame.payload + ServiceContract::PAYLOAD_PREFIX_LENGTH, body_length,
                                      response) != 0) {
        ErrorPrint("Decode discovery login response body failed! Try to relogin");
        EndAttempt(false, false);
        return;
    }
    HandleLoginResponse(response);
}

void DiscoveryClient::HandleLoginResponse(const LoginResponse& response) {
    InfoPrint("Receive discovery login response, payload: %s",
              LoggedMessage::LoginResponseJson(response).c_str());
    if (!response.issuccess()) {
        ErrorPrint("Login discovery server successfully, but meet error: %s, please check",
                   response.errorcontext().message().c_str());
        ErrorPrint("Discovery server %s refused the login: error code %d, %s",
                   m_current_used_host.ToString().c_str(), response.errorcontext().errorcode(),
                   response.errorcontext().message().c_str());
        EndAttempt(false, false);
        return;
    }
    if (!UpdateDatafeedNodes(&response.servers())) {
        EndAttempt(false, false);
        return;
    }
    if (m_message_handle != nullptr) {
        m_message_handle->OnLoginDiscoveryResponse(response);
    }
    m_token = response.token();
    EndAttempt(true, false);
    InfoPrint("Login discovery server successfully!");
}

}  // namespace com::mivo::kmr::client
