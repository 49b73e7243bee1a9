#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "MetaData.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"
#include "protocol/message_header.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace com::mivo::kmr::client::testing {

// A frame as read off the wire, lengths unchecked beyond what reading it needed.
struct RawFrame {
    MessageHeader header;
    com::mivo::zel::model::MetaData meta;
    bool meta_parsed = false;
    std::string payload;
};

// A minimal blocking client for driving servers byte by byte in tests: plain TCP or TLS, whole frames or raw
// bytes, with a timeout on every read. Requests are built with the library's own codec.
class RawFrameClient {
public:
    enum class ReadResult { kFrame, kTimeout, kClosed, kReset, kAbnormalLength };

    RawFrameClient() = default;
    ~RawFrameClient();
    RawFrameClient(const RawFrameClient&) = delete;
    RawFrameClient& operator=(const RawFrameClient&) = delete;

    // ca_file non-empty: TLS with the peer verified against it.
    bool Connect(const std::string& ip, int port, const std::string& ca_file = "");
    void Close();
    bool IsConnected() const { return m_fd >= 0; }

    bool SendBytes(const std::string& bytes);
    // Builds the request with the codec, sends it and remembers its trace id.
    bool SendDiscoveryLogin(const std::string& user, const std::string& password);
    bool SendDatafeedLogin(const std::string& user, const std::string& token);
    bool SendHeartbeat(int traffic = 0, int tps = 0);
    bool SendSubscribe(const com::mivo::zel::model::SubscribeRequest& request);
    const std::string& LastTraceId() const { return m_trace_id; }

    // Reads one frame. A header whose lengths break the frame limits gives kAbnormalLength with the header in
    // frame; the rest is not read.
    ReadResult ReadFrame(RawFrame* frame, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Reads frames until one of the type arrives (others are dropped); false on anything else.
    bool ReadUntil(int message_type, RawFrame* frame,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Exactly n bytes, or fewer when the peer closes or the time runs out.
    std::string ReadBytes(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits for the peer to close: kClosed (FIN), kReset (RST) or kTimeout. Bytes still arriving are dropped.
    ReadResult WaitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Successful socket reads so far: a frame that arrives in pieces takes many.
    int64_t ReadCalls() const { return m_read_calls; }

    // Response bodies ([int32 body length][body]).
    static bool DecodeResponse(const RawFrame& frame, google::protobuf::MessageLite* body);

private:
    // Reads up to n bytes: >0 bytes, 0 on FIN, -1 timeout, -2 reset or error.
    int ReadSome(char* out, size_t n, std::chrono::steady_clock::time_point deadline);
    bool ReadExact(char* out, size_t n, std::chrono::steady_clock::time_point deadline, ReadResult* failure);
    bool SendFrame(char* buffer, int length);

    int m_fd = -1;
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    std::string m_ip;
    int m_port = 0;
    std::string m_trace_id;
    int64_t m_read_calls = 0;
};

}  // namespace com::mivo::kmr::client::testing
