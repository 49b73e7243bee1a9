#include "support/misbehaving_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "ESysMessageType.pb.h"
#include "MetaData.pb.h"
#include "SysHeartbeat.pb.h"
#include "SysSubscribe.pb.h"
#include "protocol/frame_cutter.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"
#include "sim/sim_frame_writer.h"

namespace com::mivo::kmr::client::testing {

namespace model = com::mivo::zel::model;
using Clock = std::chrono::steady_clock;

struct MisbehavingPeer::Connection {
    int fd = -1;
    int id = 0;
    bool mute = false;
    FrameCutter cutter;
    std::string outbox;
    bool trickle = false;
    bool close_after_flush = false;
    Clock::time_point next_byte{};
};

namespace {

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
}

sockaddr_in AddressOf(const std::string& ip, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
    return addr;
}

}  // namespace

MisbehavingPeer::MisbehavingPeer(Role role, const std::string& ip) : m_role(role), m_ip(ip) {
    m_listen_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(m_listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr = AddressOf(ip, 0);
    ::bind(m_listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    socklen_t len = sizeof(addr);
    ::getsockname(m_listen_fd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    ::listen(m_listen_fd, 16);
    SetNonBlocking(m_listen_fd);
    m_thread = std::thread([this] { Loop(); });
}

MisbehavingPeer::~MisbehavingPeer() {
    m_stop = true;
    m_thread.join();
    for (auto& connection : m_connections) {
        ::close(connection->fd);
    }
    for (int fd : m_plugs) {
        ::close(fd);
    }
    ::close(m_listen_fd);
}

void MisbehavingPeer::SetDoor(Door door) {
    m_door = door;
    if (door == Door::kBlackhole) {
        FillBlackhole();
    }
}

// A listening socket whose accept queue is full drops every SYN: the
// client's connect neither succeeds nor fails until its own time limit.
// The queue is filled with our own connections and nothing accepts them.
void MisbehavingPeer::FillBlackhole() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugs.empty()) {
        return;
    }
    ::listen(m_listen_fd, 0);
    sockaddr_in addr = AddressOf(m_ip, m_port);
    for (int i = 0; i < 2; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        SetNonBlocking(fd);
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        m_plugs.push_back(fd);
    }
    // The first plug completes at once and fills the queue; wait until it has.
    pollfd first{m_plugs.front(), POLLOUT, 0};
    ::poll(&first, 1, 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void MisbehavingPeer::SetRefusal(int code, const std::string& message) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refusal_code = code;
    m_refusal_message = message;
}

void MisbehavingPeer::SetNodeTable(const std::vector<model::ServerInfo>& servers) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_servers = servers;
}

void MisbehavingPeer::SetToken(const std::string& token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_token = token;
}

model::ServerInfo MisbehavingPeer::Node(int site_type, const std::string& ip, int port, int priority,
                                        bool tls) {
    model::ServerInfo server;
    server.set_ip(ip);
    server.set_port(port);
    server.set_ippriority(priority);
    server.set_sitetype(site_type);
    server.set_sitename("site-" + std::to_string(site_type));
    server.set_isssl(tls);
    return server;
}

std::vector<model::ServerInfo> MisbehavingPeer::ManySites(int n, const std::string& ip, int port) {
    std::vector<model::ServerInfo> servers;
    for (int site = 1; site <= n; ++site) {
        servers.push_back(Node(site, ip, port));
    }
    return servers;
}

void MisbehavingPeer::Push(const std::string& bytes) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_outgoing.push_back(bytes);
    m_changed.wait(lock, [&] { return m_outgoing.empty() || m_stop; });
}

void MisbehavingPeer::CloseConnections() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_close_request = 1;
    m_changed.wait(lock, [&] { return m_close_request == 0 || m_stop; });
}

void MisbehavingPeer::ResetConnections() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_close_request = 2;
    m_changed.wait(lock, [&] { return m_close_request == 0 || m_stop; });
}

int MisbehavingPeer::OpenConnections() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_connections.size());
}

std::vector<MisbehavingPeer::Request> MisbehavingPeer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<MisbehavingPeer::Request> MisbehavingPeer::RequestsOf(int type) const {
    std::vector<Request> out;
    for (const Request& request : Requests()) {
        if (request.type == type) {
            out.push_back(request);
        }
    }
    return out;
}

bool MisbehavingPeer::WaitForRequests(int type, size_t n, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] {
        return static_cast<size_t>(std::count_if(m_requests.begin(), m_requests.end(),
                                                 [&](const Request& r) { return r.type == type; })) >= n;
    });
}

bool MisbehavingPeer::WaitForAccepted(int n, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return m_accepted >= n; });
}

void MisbehavingPeer::Notify() {
    m_changed.notify_all();
}

void MisbehavingPeer::Loop() {
    while (!m_stop) {
        std::vector<pollfd> fds;
        const Door door = m_door;
        bool trickling = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const std::string& bytes : m_outgoing) {
                for (auto& connection : m_connections) {
                    connection->outbox += bytes;
                }
            }
            m_outgoing.clear();
            if (m_close_request != 0) {
                for (auto& connection : m_connections) {
                    if (m_close_request == 2) {
                        linger hard{1, 0};
                        ::setsockopt(connection->fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
                    }
                    ::close(connection->fd);
                }
                m_connections.clear();
                m_close_request = 0;
            }
            Notify();
            fds.push_back({door == Door::kBlackhole ? -1 : m_listen_fd, POLLIN, 0});
            for (auto& connection : m_connections) {
                short events = connection->mute ? 0 : POLLIN;
                if (!connection->outbox.empty() && !connection->trickle) {
                    events = static_cast<short>(events | POLLOUT);
                }
                trickling = trickling || (connection->trickle && !connection->outbox.empty());
                fds.push_back({connection->fd, events, 0});
            }
        }
        ::poll(fds.data(), fds.size(), trickling ? 2 : 10);
        if ((fds[0].revents & POLLIN) != 0) {
            AcceptNew();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        // fds[i + 1] belongs to m_connections[i] as it was before AcceptNew appended.
        for (size_t i = fds.size() - 1; i >= 1; --i) {
            Connection& connection = *m_connections[i - 1];
            const bool readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
            if (!connection.mute && readable && !ReadFrom(connection)) {
                Drop(i - 1, true);
                continue;
            }
            if (!Flush(connection)) {
                Drop(i - 1, false);
            }
        }
        Notify();
    }
}

void MisbehavingPeer::AcceptNew() {
    // A poll begun before the door closed must not take the plugs out of the queue.
    while (m_door != Door::kBlackhole) {
        int fd = ::accept(m_listen_fd, nullptr, nullptr);
        if (fd < 0) {
            return;
        }
        SetNonBlocking(fd);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->mute = m_door == Door::kMute;
        std::lock_guard<std::mutex> lock(m_mutex);
        connection->id = ++m_accepted;
        m_connections.push_back(std::move(connection));
    }
}

bool MisbehavingPeer::ReadFrom(Connection& connection) {
    size_t room = 0;
    char* at = connection.cutter.Reserve(4096, &room);
    ssize_t n = ::recv(connection.fd, at, room, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    connection.cutter.Commit(static_cast<size_t>(n));
    FrameView view;
    while (true) {
        FrameCutter::Result result = connection.cutter.Take(view);
        if (result == FrameCutter::Result::NEED_MORE) {
            return true;
        }
        if (result == FrameCutter::Result::BAD_LENGTH) {
            return false;
        }
        model::MetaData meta;
        NuvexiaMessage::DecodeMsgMeatData(view.meta, static_cast<int>(view.meta_length), meta);
        Request request;
        request.type = meta.sysmessagetype();
        request.trace_id = meta.traceid();
        request.connection = connection.id;
        const size_t prefix = ServiceContract::PAYLOAD_PREFIX_LENGTH;
        if (view.payload_length > prefix) {
            request.body.assign(view.payload + prefix, view.payload_length - prefix);
        }
        m_requests.push_back(request);
        Reply(connection, request);
    }
}

void MisbehavingPeer::Reply(Connection& connection, const Request& request) {
    switch (request.type) {
        case model::LOGIN_REQUEST:
            Queue(connection, m_login, LoginAnswer(request, m_login == Answer::kRefuse));
            break;
        case model::SUBSCRIBE_REQUEST:
            if (m_role == Role::kDatafeed) {
                Queue(connection, m_subscribe, SubscribeAnswer(request, m_subscribe == Answer::kRefuse));
            }
            break;
        case model::HEARTBEAT_REQUEST:
            if (m_role == Role::kDatafeed) {
                Queue(connection, m_heartbeat,
                      SimFrameWriter::Response(model::HEARTBEAT_RESPONSE, "", model::SysHeartbeat()));
            }
            break;
        default:
            break;
    }
}

void MisbehavingPeer::Queue(Connection& connection, Answer answer, std::string frame) {
    switch (answer) {
        case Answer::kNormal:
        case Answer::kRefuse:
        case Answer::kWrongTrace:
            connection.outbox += frame;
            break;
        case Answer::kSilent:
            break;
        case Answer::kTrickle:
            connection.outbox += frame;
            connection.trickle = true;
            break;
        case Answer::kOversize:
            connection.outbox += SimFrameWriter::Sabotage(SimSabotage::kOversizedLength);
            break;
        case Answer::kTruncated:
            connection.outbox += frame.substr(0, frame.size() / 2);
            break;
        case Answer::kCloseMidFrame:
            connection.outbox += frame.substr(0, frame.size() / 2);
            connection.close_after_flush = true;
            break;
        case Answer::kClose:
            connection.close_after_flush = true;
            break;
    }
}

bool MisbehavingPeer::Flush(Connection& connection) {
    if (!connection.outbox.empty()) {
        size_t budget = connection.outbox.size();
        if (connection.trickle) {
            const auto now = Clock::now();
            if (now < connection.next_byte) {
                return true;
            }
            connection.next_byte = now + std::chrono::milliseconds(m_trickle_ms.load());
            budget = 1;
        }
        ssize_t n = ::send(connection.fd, connection.outbox.data(), budget, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return true;
        }
        if (n < 0) {
            return false;
        }
        connection.outbox.erase(0, static_cast<size_t>(n));
    }
    return !(connection.outbox.empty() && connection.close_after_flush);
}

std::string MisbehavingPeer::LoginAnswer(const Request& request, bool refuse) const {
    model::LoginRequest login;
    login.ParseFromString(request.body);
    model::LoginResponse response;
    if (refuse) {
        response.set_issuccess(false);
        response.mutable_errorcontext()->set_errorcode(m_refusal_code);
        response.mutable_errorcontext()->set_message(m_refusal_message);
    } else if (m_role == Role::kDiscovery) {
        response.set_issuccess(true);
        response.set_token(m_token);
        for (const model::ServerInfo& server : m_servers) {
            *response.add_servers() = server;
        }
        response.mutable_accountinfo()->set_username(login.uwp().username());
    } else {
        response.set_issuccess(true);
        if (m_echo_token) {
            response.set_token(login.uwt().token());
        }
        response.mutable_accountinfo()->set_username(login.uwt().username());
    }
    const std::string trace = m_login == Answer::kWrongTrace ? "not-" + request.trace_id : request.trace_id;
    return SimFrameWriter::Response(model::LOGIN_RESPONSE, trace, response);
}

std::string MisbehavingPeer::SubscribeAnswer(const Request& request, bool refuse) const {
    model::SubscribeRequest subscribe;
    subscribe.ParseFromString(request.body);
    model::SubscribeResponse response;
    if (refuse) {
        response.set_issuccess(false);
        response.mutable_errorcontext()->set_errorcode(m_refusal_code);
        response.mutable_errorcontext()->set_message(m_refusal_message);
    } else {
        response.set_issuccess(true);
        for (int type : subscribe.subscribebydatatype().zeldatatypes()) {
            response.add_permitteddatatypes(type);
        }
    }
    const std::string trace =
        m_subscribe == Answer::kWrongTrace ? "not-" + request.trace_id : request.trace_id;
    return SimFrameWriter::Response(model::SUBSCRIBE_RESPONSE, trace, response);
}

void MisbehavingPeer::Drop(size_t index, bool by_client) {
    ::close(m_connections[index]->fd);
    m_connections.erase(m_connections.begin() + static_cast<std::ptrdiff_t>(index));
    if (by_client) {
        ++m_closed_by_client;
    }
}

}  // namespace com::mivo::kmr::client::testing
