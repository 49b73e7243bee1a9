#include "raw_frame_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"
#include "protocol/wire_order.h"

namespace com::mivo::kmr::client::testing {

using Clock = std::chrono::steady_clock;

RawFrameClient::~RawFrameClient() {
    Close();
}

bool RawFrameClient::Connect(const std::string& ip, int port, const std::string& ca_file) {
    Close();
    m_ip = ip;
    m_port = port;
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd < 0) {
        return false;
    }
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        Close();
        return false;
    }
    int one = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (ca_file.empty()) {
        return true;
    }
    m_ctx = SSL_CTX_new(TLS_client_method());
    if (m_ctx == nullptr || SSL_CTX_load_verify_locations(m_ctx, ca_file.c_str(), nullptr) != 1) {
        Close();
        return false;
    }
    SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, nullptr);
    m_ssl = SSL_new(m_ctx);
    SSL_set_fd(m_ssl, m_fd);
    SSL_set1_host(m_ssl, ip.c_str());
    if (SSL_connect(m_ssl) != 1) {
        ERR_clear_error();
        Close();
        return false;
    }
    return true;
}

void RawFrameClient::Close() {
    if (m_ssl != nullptr) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    if (m_ctx != nullptr) {
        SSL_CTX_free(m_ctx);
        m_ctx = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool RawFrameClient::SendBytes(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = m_ssl != nullptr
                        ? SSL_write(m_ssl, bytes.data() + sent, static_cast<int>(bytes.size() - sent))
                        : ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool RawFrameClient::SendFrame(char* buffer, int length) {
    bool ok = length > 0 && SendBytes(std::string(buffer, static_cast<size_t>(length)));
    NuvexiaMessage::ReleaseBuffer(buffer);
    return ok;
}

bool RawFrameClient::SendDiscoveryLogin(const std::string& user, const std::string& password) {
    m_trace_id = ServiceContract::MakeTraceId(ServiceContract::LOGIN_TRACE_PREFIX);
    char* buffer = nullptr;
    int length =
        NuvexiaMessage::PrepareLoginRequest(buffer, com::mivo::zel::model::NUVEXIA_LOGIN_FOR_DISCOVERY, m_ip,
                                            m_port, user, password, false, m_trace_id);
    return SendFrame(buffer, length);
}

bool RawFrameClient::SendDatafeedLogin(const std::string& user, const std::string& token) {
    m_trace_id = ServiceContract::MakeTraceId(ServiceContract::LOGIN_TRACE_PREFIX);
    char* buffer = nullptr;
    int length =
        NuvexiaMessage::PrepareLoginRequest(buffer, com::mivo::zel::model::NUVEXIA_LOGIN_FOR_DATAFEED, m_ip,
                                            m_port, user, token, true, m_trace_id);
    return SendFrame(buffer, length);
}

bool RawFrameClient::SendHeartbeat(int traffic, int tps) {
    char* buffer = nullptr;
    int length = NuvexiaMessage::PrepareHeartBeat(buffer, traffic, tps);
    return SendFrame(buffer, length);
}

bool RawFrameClient::SendSubscribe(const com::mivo::zel::model::SubscribeRequest& request) {
    m_trace_id = ServiceContract::MakeTraceId(ServiceContract::SUBSCRIBE_TRACE_PREFIX);
    char* buffer = nullptr;
    int length = NuvexiaMessage::PrepareSubscribeRequest(buffer, &request, m_trace_id);
    return SendFrame(buffer, length);
}

int RawFrameClient::ReadSome(char* out, size_t n, Clock::time_point deadline) {
    while (true) {
        if (m_ssl != nullptr && SSL_pending(m_ssl) > 0) {
            int got = SSL_read(m_ssl, out, static_cast<int>(n));
            if (got > 0) {
                ++m_read_calls;
                return got;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return -1;
        }
        pollfd p{m_fd, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready == 0) {
            return -1;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -2;
        }
        if (m_ssl != nullptr) {
            int got = SSL_read(m_ssl, out, static_cast<int>(n));
            if (got > 0) {
                ++m_read_calls;
                return got;
            }
            int error = SSL_get_error(m_ssl, got);
            ERR_clear_error();
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                continue;
            }
            if (error == SSL_ERROR_ZERO_RETURN) {
                return 0;
            }
            // A TCP-level FIN without close_notify looks like a syscall error with errno 0.
            return (error == SSL_ERROR_SYSCALL && errno != ECONNRESET) ? 0 : -2;
        }
        ssize_t got = ::recv(m_fd, out, n, 0);
        if (got > 0) {
            ++m_read_calls;
            return static_cast<int>(got);
        }
        if (got == 0) {
            return 0;
        }
        if (errno == EINTR || errno == EAGAIN) {
            continue;
        }
        return -2;
    }
}

bool RawFrameClient::ReadExact(char* out, size_t n, Clock::time_point deadline, ReadResult* failure) {
    size_t have = 0;
    while (have < n) {
        int got = ReadSome(out + have, n - have, deadline);
        if (got <= 0) {
            *failure = got == 0 ? ReadResult::kClosed : got == -1 ? ReadResult::kTimeout : ReadResult::kReset;
            return false;
        }
        have += static_cast<size_t>(got);
    }
    return true;
}

RawFrameClient::ReadResult RawFrameClient::ReadFrame(RawFrame* frame, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    ReadResult failure = ReadResult::kTimeout;
    char head[MessageHeader::SIZE];
    if (!ReadExact(head, sizeof(head), deadline, &failure)) {
        return failure;
    }
    frame->header.ReadFrom(head);
    if (!ServiceContract::IsFrameLengthAcceptable(frame->header.m_metaLength,
                                                  frame->header.m_payloadLength)) {
        return ReadResult::kAbnormalLength;
    }
    std::string meta(static_cast<size_t>(frame->header.m_metaLength), '\0');
    frame->payload.assign(static_cast<size_t>(frame->header.m_payloadLength), '\0');
    if (!ReadExact(&meta[0], meta.size(), deadline, &failure) ||
        !ReadExact(&frame->payload[0], frame->payload.size(), deadline, &failure)) {
        return failure;
    }
    frame->meta.Clear();
    frame->meta_parsed = frame->meta.ParseFromString(meta);
    return ReadResult::kFrame;
}

bool RawFrameClient::ReadUntil(int message_type, RawFrame* frame, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (ReadFrame(frame, left) != ReadResult::kFrame) {
            return false;
        }
        if (frame->meta_parsed && frame->meta.sysmessagetype() == message_type) {
            return true;
        }
    }
    return false;
}

std::string RawFrameClient::ReadBytes(size_t n, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string out(n, '\0');
    size_t have = 0;
    while (have < n) {
        int got = ReadSome(&out[have], n - have, deadline);
        if (got <= 0) {
            break;
        }
        have += static_cast<size_t>(got);
    }
    out.resize(have);
    return out;
}

RawFrameClient::ReadResult RawFrameClient::WaitForClose(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    char sink[16384];
    while (true) {
        int got = ReadSome(sink, sizeof(sink), deadline);
        if (got == 0) {
            return ReadResult::kClosed;
        }
        if (got == -1) {
            return ReadResult::kTimeout;
        }
        if (got == -2) {
            return ReadResult::kReset;
        }
    }
}

bool RawFrameClient::DecodeResponse(const RawFrame& frame, google::protobuf::MessageLite* body) {
    return NuvexiaMessage::DecodeResponsePayload(frame.payload.data(), static_cast<int>(frame.payload.size()),
                                                 *body) == 0;
}

}  // namespace com::mivo::kmr::client::testing
