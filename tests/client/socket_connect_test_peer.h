#pragma once
// Helpers for the datafeed connection suites: a loopback peer whose every
// byte the test controls, a recording handler, a log recorder and a small
// connection fixture with its two queues.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ESysMessageType.pb.h"
#include "MetaData.pb.h"
#include "SysHeartbeat.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"
#include "client/client_interface.h"
#include "client/message_handle.h"
#include "client/socket_connect_thread.h"
#include "common/base_log.h"
#include "pipeline/data_disruptor.h"
#include "protocol/nuvexia_message_impl.h"
#include "support/loopback_listener.h"
#include "support/wait_until.h"

namespace com::mivo::kmr::client::testing {

namespace model = com::mivo::zel::model;

// Frame builders for what a datafeed node sends.
inline std::string Frame(int16_t flags, const model::MetaData& meta, const std::string& payload) {
    char* buf = nullptr;
    int n =
        NuvexiaMessage::EncodeRawPayload(flags, &meta, payload.data(), static_cast<int>(payload.size()), buf);
    std::string out = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    NuvexiaMessage::ReleaseBuffer(buf);
    return out;
}

inline model::MetaData Meta(model::ESysMessageType type, const std::string& trace_id = "") {
    model::MetaData meta;
    meta.set_sysmessagetype(type);
    meta.set_zelsysmessagenum(1);
    if (!trace_id.empty()) {
        meta.set_traceid(trace_id);
    }
    return meta;
}

inline std::string Response(model::ESysMessageType type, const std::string& trace_id,
                            const google::protobuf::Message& body) {
    model::MetaData meta = Meta(type, trace_id);
    char* buf = nullptr;
    int n = NuvexiaMessage::EncodeResponse(&meta, &body, buf);
    std::string out = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    NuvexiaMessage::ReleaseBuffer(buf);
    return out;
}

inline std::string LoginAnswer(bool ok, const std::string& trace_id) {
    model::LoginResponse rsp;
    rsp.set_issuccess(ok);
    return Response(model::LOGIN_RESPONSE, trace_id, rsp);
}

inline std::string MarketFrame(const std::string& payload, int32_t channel_no = 3, int64_t channel_index = 42,
                               int16_t flags = 0, const std::string& trace_id = "") {
    model::MetaData meta = Meta(model::PUSH_MARKET_DATA, trace_id);
    meta.set_channelno(channel_no);
    meta.set_channelindex(channel_index);
    meta.set_zeldatatype(7);
    return Frame(flags, meta, payload);
}

// One frame the client sent.
struct SentFrame {
    int type = -1;
    std::string trace_id;
    std::string body;
};

// A datafeed node on 127.0.0.1 whose bytes the test writes itself. One
// client connection at a time; it records the client's frames and can
// answer logins and heartbeats by itself.
class ScriptedNode {
public:
    enum class Login { kAccept, kRefuse, kIgnore };

    ScriptedNode() : m_listener(8), m_listen_fd(m_listener.Fd()), m_port(m_listener.Port()) {
        m_thread = std::thread([this] { Loop(); });
    }

    ~ScriptedNode() {
        m_stop = true;
        m_thread.join();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_conn_fd >= 0) {
            ::close(m_conn_fd);
        }
    }

    int Port() const { return m_port; }
    ServerHost Host() const { return ServerHost("127.0.0.1", m_port, false); }

    void SetLogin(Login mode) { m_login = mode; }
    // Heartbeat requests are answered unless muted.
    void SetMuteHeartbeat(bool mute) { m_mute_heartbeat = mute; }

    int Accepted() const { return m_accepted; }

    std::vector<SentFrame> Frames() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }
    std::vector<SentFrame> FramesOf(int type) const {
        std::vector<SentFrame> out;
        for (auto& f : Frames()) {
            if (f.type == type) {
                out.push_back(f);
            }
        }
        return out;
    }
    size_t CountOf(int type) const { return FramesOf(type).size(); }
    std::string LastTrace(int type) const {
        auto frames = FramesOf(type);
        return frames.empty() ? std::string() : frames.back().trace_id;
    }

    // Writes the bytes to the current connection at once.
    bool Send(const std::string& bytes) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_conn_fd < 0) {
            return false;
        }
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(m_conn_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Drops the connection with a reset instead of an orderly close.
    void ResetConnection() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_conn_fd < 0) {
            return;
        }
        linger hard{1, 0};
        ::setsockopt(m_conn_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
        ::close(m_conn_fd);
        m_conn_fd = -1;
    }

    bool Connected() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_conn_fd >= 0;
    }

    // True once the client has closed its side.
    bool PeerClosed() const { return m_peer_closed; }

private:
    void Loop() {
        std::string in;
        while (!m_stop) {
            int conn;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                conn = m_conn_fd;
            }
            pollfd pfd{conn >= 0 ? conn : m_listen_fd, POLLIN, 0};
            if (::poll(&pfd, 1, 5) <= 0) {
                continue;
            }
            if (conn < 0) {
                int fd = ::accept(m_listen_fd, nullptr, nullptr);
                if (fd >= 0) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_conn_fd = fd;
                    m_peer_closed = false;
                    in.clear();
                    ++m_accepted;
                }
                continue;
            }
            char buf[65536];
            ssize_t n = ::recv(conn, buf, sizeof(buf), 0);
            if (n <= 0) {
                std::lock_guard<std::mutex> lock(m_mutex);
                ::close(m_conn_fd);
                m_conn_fd = -1;
                m_peer_closed = true;
                continue;
            }
            in.append(buf, static_cast<size_t>(n));
            Parse(in);
        }
    }

    void Parse(std::string& in) {
        while (in.size() >= 12) {
            MessageHeader header;
            NuvexiaMessage::DecodeMsgHeader(in.data(), header);
            size_t len =
                12 + static_cast<size_t>(header.m_metaLength) + static_cast<size_t>(header.m_payloadLength);
            if (in.size() < len) {
                return;
            }
            model::MetaData meta;
            NuvexiaMessage::DecodeMsgMeatData(in.data() + 12, header.m_metaLength, meta);
            SentFrame frame;
            frame.type = meta.sysmessagetype();
            frame.trace_id = meta.traceid();
            frame.body = in.substr(12 + header.m_metaLength + 4, header.m_payloadLength - 4);
            in.erase(0, len);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_frames.push_back(frame);
            }
            if (frame.type == model::LOGIN_REQUEST && m_login != Login::kIgnore) {
                Send(LoginAnswer(m_login == Login::kAccept, frame.trace_id));
            } else if (frame.type == model::HEARTBEAT_REQUEST && !m_mute_heartbeat) {
                model::SysHeartbeat empty;
                Send(Response(model::HEARTBEAT_RESPONSE, "", empty));
            }
        }
    }

    LoopbackListener m_listener;
    int m_listen_fd;
    int m_conn_fd = -1;
    int m_port;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_peer_closed{false};
    std::atomic<int> m_accepted{0};
    std::atomic<Login> m_login{Login::kAccept};
    std::atomic<bool> m_mute_heartbeat{false};
    mutable std::mutex m_mutex;
    std::vector<SentFrame> m_frames;
    std::thread m_thread;
};

// Every callback, in order, as "Name site host" text.
class RecordingHandle : public MessageHandle {
public:
    void OnLoginDatafeedNodeSuccess(int site_type, const std::string& node) override {
        Add("NodeSuccess " + std::to_string(site_type) + " " + node);
    }
    void OnLoginDatafeedNodeFailed(int site_type, const std::string& node) override {
        Add("NodeFailed " + std::to_string(site_type) + " " + node);
    }
    void OnLoginDataServiceResponse(const model::LoginResponse& response) override {
        Add(std::string("ServiceResponse ") + (response.issuccess() ? "ok" : "refused"));
    }
    void OnDisconnected(int site_type, const std::string& node) override {
        Add("Disconnected " + std::to_string(site_type) + " " + node);
    }

    std::vector<std::string> Events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    size_t Count(const std::string& prefix) const {
        auto events = Events();
        return static_cast<size_t>(std::count_if(events.begin(), events.end(), [&](const std::string& e) {
            return e.compare(0, prefix.size(), prefix) == 0;
        }));
    }

private:
    void Add(std::string event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
};

// Records every log message while alive.
class LogRecorder : public LogInterface {
public:
    LogRecorder() { SetLogHandle(this); }
    ~LogRecorder() override { SetLogHandle(nullptr); }

    void LogPrint(NuvexiaLogLevel level, const char* message) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.emplace_back(level, message);
    }
    size_t Count(const std::string& text) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<size_t>(std::count_if(m_lines.begin(), m_lines.end(), [&](const auto& line) {
            return line.second.find(text) != std::string::npos;
        }));
    }
    std::vector<std::string> Matching(const std::string& text) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> out;
        for (const auto& line : m_lines) {
            if (line.second.find(text) != std::string::npos) {
                out.push_back(line.second);
            }
        }
        return out;
    }
    bool Has(const std::string& text) const { return Count(text) > 0; }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<NuvexiaLogLevel, std::string>> m_lines;
};

// A connection for one site with its ring and flow; the test is the pipeline's end.
struct ConnectionRig {
    explicit ConnectionRig(const SiteNodeMap& nodes, uint32_t site = 1, SSL_CTX* ctx = nullptr,
                           int64_t budget = 64 << 20)
        : flow(std::make_shared<SiteFlow>(site, budget)), raw(DataDisruptor::CreateRawDataQueue(flow)) {
        connection = std::make_unique<SocketConnectThread>(&handle, nodes, raw, flow, user, token, site, ctx);
        connection->Start();
    }
    // The ring's last owner gives back the payloads nobody consumed.
    ~ConnectionRig() { connection.reset(); }

    // Takes every queued record (with a copy of its payload) and gives its buffer back.
    std::vector<std::pair<RawData, std::string>> Drain(size_t at_most = SIZE_MAX) {
        std::vector<std::pair<RawData, std::string>> out;
        while (out.size() < at_most) {
            RawData* item = raw->front();
            if (item == nullptr) {
                break;
            }
            out.emplace_back(*item, std::string(item->m_payload->Data(), item->m_payload->m_length));
            item->m_payload->Unref();
            out.back().first.m_payload = nullptr;
            raw->pop();
        }
        return out;
    }

    bool WaitState(SocketConnectThread::ConnectState state) {
        return WaitUntil([&] { return connection->getState() == state; });
    }

    std::string user = "alice";
    std::string token = "token-123";
    RecordingHandle handle;
    std::shared_ptr<SiteFlow> flow;
    std::shared_ptr<RawDataQueue> raw;
    std::unique_ptr<SocketConnectThread> connection;
};

}  // namespace com::mivo::kmr::client::testing
