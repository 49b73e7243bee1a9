#pragma once

// A discovery server or datafeed node on loopback that breaks its promises on
// purpose, for the tests of what the client does against a faulty or hostile
// peer. Each request type is answered by a script the test sets (and may
// change at any time): answer normally, stay silent, trickle the answer one
// byte at a time, use a trace id the client never sent, refuse with an error
// context, send an oversize or truncated frame, or close in the middle of a
// frame. It can also accept TCP connections and never read them, or not
// complete connections at all (a black hole), and push any bytes the test
// builds. Everything the client sent is recorded.
//
// One thread serves every connection; all methods are safe from any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SysLogin.pb.h"
#include "client/server_host.h"

namespace com::mivo::kmr::client::testing {

class MisbehavingPeer {
public:
    enum class Role { kDiscovery, kDatafeed };

    // What the peer does with one request.
    enum class Answer {
        kNormal,         // the well-formed answer
        kSilent,         // nothing at all
        kRefuse,         // isSuccess false with the refusal's error context
        kWrongTrace,     // the normal answer under a trace id the client never sent
        kTrickle,        // the normal answer one byte per trickle interval
        kOversize,       // a header announcing a payload over the frame limit, then nothing
        kTruncated,      // the first half of the normal answer, then nothing (the link stays open)
        kCloseMidFrame,  // the first half of the normal answer, then an orderly close
        kClose,          // an orderly close instead of an answer
    };

    // How the listening socket treats new connections.
    enum class Door {
        kOpen,       // accept and serve
        kMute,       // accept and never read nor write (the TCP handshake completes)
        kBlackhole,  // the handshake never completes: connects run into their time limit
    };

    // One frame the client sent.
    struct Request {
        int type = -1;
        std::string trace_id;
        std::string body;    // the request body, without its length prefix
        int connection = 0;  // 1 for the first accepted connection, and so on
    };

    explicit MisbehavingPeer(Role role, const std::string& ip = "127.0.0.1");
    ~MisbehavingPeer();
    MisbehavingPeer(const MisbehavingPeer&) = delete;
    MisbehavingPeer& operator=(const MisbehavingPeer&) = delete;

    const std::string& Ip() const { return m_ip; }
    int Port() const { return m_port; }
    ServerHost Host() const { return ServerHost(m_ip, m_port, false); }

    // Scripts; each applies to the next request of its type.
    void SetLogin(Answer answer) { m_login = answer; }
    void SetSubscribe(Answer answer) { m_subscribe = answer; }
    void SetHeartbeat(Answer answer) { m_heartbeat = answer; }
    void SetDoor(Door door);
    void SetTrickleInterval(std::chrono::milliseconds interval) {
        m_trickle_ms = static_cast<int>(interval.count());
    }
    // The error context of refusals (401 "login refused by the test" unless set).
    void SetRefusal(int code, const std::string& message);
    // A datafeed login response carries the token the client logged in with.
    void SetEchoToken(bool echo) { m_echo_token = echo; }

    // The node table and token of a discovery login response.
    void SetNodeTable(const std::vector<com::mivo::zel::model::ServerInfo>& servers);
    void SetToken(const std::string& token);
    // n site types (1..n), one plain node each at ip:port.
    static std::vector<com::mivo::zel::model::ServerInfo> ManySites(int n, const std::string& ip, int port);
    static com::mivo::zel::model::ServerInfo Node(int site_type, const std::string& ip, int port,
                                                  int priority = 1, bool tls = false);

    // Writes the bytes to every open connection (market data, a stray frame, ...).
    void Push(const std::string& bytes);
    // Closes every open connection in order (FIN), or with a reset.
    void CloseConnections();
    void ResetConnections();

    int Accepted() const { return m_accepted; }
    int OpenConnections() const;
    // Connections the client closed (or reset) itself.
    int ClosedByClient() const { return m_closed_by_client; }

    std::vector<Request> Requests() const;
    std::vector<Request> RequestsOf(int type) const;
    size_t CountOf(int type) const { return RequestsOf(type).size(); }
    // Blocks until at least n requests of the type arrived or the limit passed.
    bool WaitForRequests(int type, size_t n,
                         std::chrono::milliseconds limit = std::chrono::seconds(20)) const;
    bool WaitForAccepted(int n, std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

private:
    struct Connection;

    void Loop();
    void AcceptNew();
    void FillBlackhole();
    bool ReadFrom(Connection& connection);
    void Reply(Connection& connection, const Request& request);
    void Queue(Connection& connection, Answer answer, std::string frame);
    bool Flush(Connection& connection);
    std::string LoginAnswer(const Request& request, bool refuse) const;
    std::string SubscribeAnswer(const Request& request, bool refuse) const;
    void Drop(size_t index, bool by_client);
    void Notify();

    Role m_role;
    std::string m_ip;
    int m_port = 0;
    int m_listen_fd = -1;
    // Connections of our own that fill a black hole's accept queue.
    std::vector<int> m_plugs;

    std::atomic<Answer> m_login{Answer::kNormal};
    std::atomic<Answer> m_subscribe{Answer::kNormal};
    std::atomic<Answer> m_heartbeat{Answer::kNormal};
    std::atomic<Door> m_door{Door::kOpen};
    std::atomic<int> m_trickle_ms{20};
    std::atomic<bool> m_echo_token{false};
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_closed_by_client{0};
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    int m_refusal_code = 401;
    std::string m_refusal_message = "login refused by the test";
    std::vector<com::mivo::zel::model::ServerInfo> m_servers;
    std::string m_token = "peer-token";
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<std::string> m_outgoing;  // pushes waiting for the loop
    int m_close_request = 0;              // 1 close, 2 reset
    std::vector<Request> m_requests;
    std::thread m_thread;
};

}  // namespace com::mivo::kmr::client::testing
