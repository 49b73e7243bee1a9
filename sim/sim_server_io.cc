#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstring>

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/bufferevent_ssl.h>
#include <event2/event.h>
#include <event2/listener.h>
#include <openssl/ssl.h>

#include "protocol/service_contract.h"
#include "sim/sim_frame_writer.h"
#include "sim/sim_request_log.h"
#include "sim/sim_server.h"
#include "sim/sim_tls_context.h"

namespace com::mivo::kmr::client {

bool SimServer::OpenListener(std::string* error) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    SimEndpoint endpoint = Endpoint();
    if (inet_pton(AF_INET, endpoint.ip.c_str(), &address.sin_addr) != 1) {
        *error = m_name + ": not an IPv4 address: " + endpoint.ip;
        return false;
    }
    if (endpoint.tls && (m_context->tls == nullptr || m_context->tls->Get() == nullptr)) {
        *error = m_name + ": TLS listener without certificate and key";
        return false;
    }
    address.sin_port = htons(endpoint.port);
    m_listener.reset(
        evconnlistener_new_bind(m_base.get(), &SimServer::AcceptCallback, this,
                                LEV_OPT_CLOSE_ON_FREE | LEV_OPT_REUSEABLE | LEV_OPT_CLOSE_ON_EXEC, -1,
                                reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    if (m_listener == nullptr) {
        *error = m_name + ": cannot listen on " + endpoint.ip + ":" + std::to_string(endpoint.port) + ": " +
                 std::strerror(errno);
        return false;
    }
    sockaddr_in bound;
    socklen_t bound_length = sizeof(bound);
    getsockname(evconnlistener_get_fd(m_listener.get()), reinterpret_cast<sockaddr*>(&bound), &bound_length);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_endpoint.port = ntohs(bound.sin_port);
    m_up = true;
    return true;
}

void SimServer::CloseListener() {
    m_listener.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_up = false;
}

void SimServer::AcceptCallback(evconnlistener*, evutil_socket_t fd, sockaddr* address, int, void* arg) {
    auto* self = static_cast<SimServer*>(arg);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    BufferEventOwner owned;
    if (self->m_endpoint.tls) {
        SslOwner ssl(SSL_new(self->m_context->tls->Get()));
        if (ssl) {
            // The socket owns the session from here on, also when it could not be made.
            owned.reset(bufferevent_openssl_socket_new(self->m_base.get(), fd, ssl.release(),
                                                       BUFFEREVENT_SSL_ACCEPTING, BEV_OPT_CLOSE_ON_FREE));
            if (owned) {
                bufferevent_openssl_set_allow_dirty_shutdown(owned.get(), 1);
            }
        }
    } else {
        owned.reset(bufferevent_socket_new(self->m_base.get(), fd, BEV_OPT_CLOSE_ON_FREE));
    }
    if (!owned) {
        evutil_closesocket(fd);
        return;
    }
    char ip[INET_ADDRSTRLEN] = "?";
    auto* in = reinterpret_cast<sockaddr_in*>(address);
    inet_ntop(AF_INET, &in->sin_addr, ip, sizeof(ip));
    uint64_t id = self->m_context->next_connection_id.fetch_add(1);
    bufferevent* bev = owned.get();
    auto connection = std::make_unique<SimConnection>(
        self, id, std::move(owned), std::string(ip) + ":" + std::to_string(ntohs(in->sin_port)));
    SimConnection* raw = connection.get();
    self->m_connections[id] = std::move(connection);
    self->m_counters.connections_accepted++;
    self->m_counters.connections_open++;

    bufferevent_setcb(bev, &SimServer::ReadCallback, &SimServer::WriteCallback, &SimServer::EventCallback,
                      raw);
    bufferevent_setwatermark(bev, EV_WRITE, kLowWaterMark, 0);
    bufferevent_set_max_single_write(bev, kMaxSingleWrite);
    int idle_ms = self->IdleTimeoutMs();
    if (idle_ms > 0) {
        timeval idle{idle_ms / 1000, (idle_ms % 1000) * 1000};
        bufferevent_set_timeouts(bev, &idle, nullptr);
    }
    bufferevent_enable(bev, self->m_stall_reading ? EV_WRITE : EV_READ | EV_WRITE);
    self->OnConnectionOpened(*raw);
}

void SimServer::ReadCallback(bufferevent*, void* arg) {
    auto* connection = static_cast<SimConnection*>(arg);
    connection->Server()->HandleRead(*connection);
}

void SimServer::WriteCallback(bufferevent*, void* arg) {
    auto* connection = static_cast<SimConnection*>(arg);
    SimServer* self = connection->Server();
    if (connection->CloseWhenFlushed()) {
        if (connection->PendingOutput() == 0) {
            self->CloseConnection(*connection, SimCloseMode::kClean);
        }
        return;
    }
    self->OnWritable(*connection);
}

void SimServer::EventCallback(bufferevent*, short what, void* arg) {
    auto* connection = static_cast<SimConnection*>(arg);
    if (what & (BEV_EVENT_EOF | BEV_EVENT_ERROR | BEV_EVENT_TIMEOUT)) {
        connection->Server()->CloseConnection(*connection, SimCloseMode::kClean);
    }
}

void SimServer::HandleRead(SimConnection& connection) {
    while (!connection.IsClosing()) {
        evbuffer* input = bufferevent_get_input(connection.Bev());
        size_t available = evbuffer_get_length(input);
        if (available < static_cast<size_t>(MessageHeader::SIZE)) {
            return;
        }
        char head[MessageHeader::SIZE];
        evbuffer_copyout(input, head, sizeof(head));
        SimFrame frame;
        frame.header.ReadFrom(head);
        if (frame.header.m_version != ServiceContract::CLIENT_FRAME_VERSION ||
            frame.header.m_protocol != ServiceContract::CLIENT_FRAME_PROTOCOL) {
            RejectFrame(connection, "bad frame: version " + std::to_string(frame.header.m_version) +
                                        " protocol " + std::to_string(frame.header.m_protocol));
            return;
        }
        if (!ServiceContract::IsFrameLengthAcceptable(frame.header.m_metaLength,
                                                      frame.header.m_payloadLength)) {
            RejectFrame(connection, "bad frame: " + frame.header.ToString());
            return;
        }
        size_t length = MessageHeader::SIZE + static_cast<size_t>(frame.header.m_metaLength) +
                        static_cast<size_t>(frame.header.m_payloadLength);
        if (available < length) {
            return;
        }
        // Copied out first: the handler may close the connection and with it the socket buffer.
        m_read_scratch.resize(length);
        evbuffer_remove(input, &m_read_scratch[0], length);
        const char* meta = m_read_scratch.data() + MessageHeader::SIZE;
        if (!frame.meta.ParseFromArray(meta, frame.header.m_metaLength)) {
            RejectFrame(connection, "bad frame: meta record not parsable");
            return;
        }
        frame.payload = meta + frame.header.m_metaLength;
        frame.payload_length = frame.header.m_payloadLength;
        m_counters.requests++;
        OnFrame(connection, frame);
    }
}

void SimServer::RejectFrame(SimConnection& connection, const std::string& why) {
    m_counters.bad_frames++;
    SimRequest request;
    request.server = m_name;
    request.connection = connection.Id();
    request.message_type = -1;
    request.text = why;
    request.received_unix_nanos = SimFrameWriter::NowUnixNanos();
    m_context->requests->Append(std::move(request));
    // The stream cannot be resynchronised; only this client pays for it.
    CloseConnection(connection, SimCloseMode::kClean);
}

void SimServer::LogRequest(const SimConnection& connection, const SimFrame& frame, std::string text) {
    SimRequest request;
    request.server = m_name;
    request.connection = connection.Id();
    request.message_type = frame.meta.sysmessagetype();
    request.trace_id = frame.meta.traceid();
    if (frame.payload_length > ServiceContract::PAYLOAD_PREFIX_LENGTH) {
        request.body.assign(
            frame.payload + ServiceContract::PAYLOAD_PREFIX_LENGTH,
            static_cast<size_t>(frame.payload_length - ServiceContract::PAYLOAD_PREFIX_LENGTH));
    }
    request.text = std::move(text);
    request.received_unix_nanos = SimFrameWriter::NowUnixNanos();
    m_context->requests->Append(std::move(request));
}

void SimServer::CloseConnection(SimConnection& connection, SimCloseMode mode) {
    auto it = m_connections.find(connection.Id());
    if (it == m_connections.end()) {
        return;
    }
    OnConnectionClosing(connection);
    connection.CloseSocket(mode == SimCloseMode::kReset);
    m_counters.connections_open--;
    // Destroyed one loop turn later: the callback that got here may still hold the pointer.
    m_graveyard.push_back(std::move(it->second));
    m_connections.erase(it);
    event_active(m_reaper.get(), 0, 0);
}

void SimServer::CloseAll(SimCloseMode mode) {
    for (SimConnection* connection : Connections()) {
        CloseConnection(*connection, mode);
    }
}

void SimServer::CloseConnections(SimCloseMode mode) {
    PostAndWait([this, mode] {
        for (SimConnection* connection : Connections()) {
            if (mode == SimCloseMode::kReset || connection->PendingOutput() == 0) {
                CloseConnection(*connection, mode);
            } else {
                bufferevent_disable(connection->Bev(), EV_READ);
                connection->SetCloseWhenFlushed();
            }
        }
    });
}

void SimServer::Inject(SimSabotage kind) {
    std::string frame = SimFrameWriter::Sabotage(kind);
    PostAndWait([this, &frame] {
        for (SimConnection* connection : Connections()) {
            SendRaw(*connection, frame.data(), frame.size());
        }
    });
}

void SimServer::SetStallReading(bool stall) {
    PostAndWait([this, stall] {
        m_stall_reading = stall;
        for (SimConnection* connection : Connections()) {
            if (stall) {
                bufferevent_disable(connection->Bev(), EV_READ);
            } else {
                bufferevent_enable(connection->Bev(), EV_READ);
                // Bytes that arrived while stalled are waiting already.
                HandleRead(*connection);
            }
        }
    });
}

SimConnection* SimServer::FindConnection(uint64_t id) {
    auto it = m_connections.find(id);
    return it == m_connections.end() ? nullptr : it->second.get();
}

std::vector<SimConnection*> SimServer::Connections() {
    std::vector<SimConnection*> out;
    for (auto& entry : m_connections) {
        out.push_back(entry.second.get());
    }
    return out;
}

std::string SimServer::OutgoingTraceId(const std::string& request_trace_id) const {
    if (m_faults.wrong_trace_id) {
        return "sim_wrong_" + (request_trace_id.empty() ? std::string("trace") : request_trace_id);
    }
    return request_trace_id;
}

void SimServer::SendRaw(SimConnection& connection, const char* data, size_t length) {
    if (connection.IsClosing()) {
        return;
    }
    m_counters.bytes_sent += static_cast<int64_t>(length);
    connection.Write(data, length, m_faults.split_write_bytes);
}

void SimServer::SendResponse(SimConnection& connection, com::mivo::zel::model::ESysMessageType type,
                             const std::string& trace_id, const google::protobuf::Message& body) {
    std::string frame;
    SimSabotage sabotage = m_faults.sabotage;
    if (sabotage != SimSabotage::kNone) {
        int left = m_faults.sabotage_count;
        if (left > 0 && --m_faults.sabotage_count == 0) {
            m_faults.sabotage = SimSabotage::kNone;
        }
        frame = SimFrameWriter::Sabotage(sabotage);
        if (frame.empty()) {
            return;  // silence
        }
    } else {
        frame = SimFrameWriter::Response(type, OutgoingTraceId(trace_id), body);
    }
    m_counters.frames_sent++;
    int delay_ms = m_faults.response_delay_ms;
    if (delay_ms <= 0) {
        SendRaw(connection, frame.data(), frame.size());
        return;
    }
    uint64_t id = connection.Id();
    Schedule(delay_ms, [this, id, frame = std::move(frame)] {
        if (SimConnection* target = FindConnection(id)) {
            SendRaw(*target, frame.data(), frame.size());
        }
    });
}

}  // namespace com::mivo::kmr::client
