#include "sim/sim_connection.h"

#include <sys/socket.h>

#include <algorithm>

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/bufferevent_ssl.h>
#include <event2/event.h>

namespace com::mivo::kmr::client {

SimConnection::SimConnection(SimServer* server, uint64_t id, BufferEventOwner bev, std::string peer)
    : m_server(server), m_id(id), m_bev(std::move(bev)), m_peer(std::move(peer)) {}

SimConnection::~SimConnection() {
    CloseSocket(false);
}

void SimConnection::Write(const char* data, size_t length, int split_bytes) {
    if (m_bev == nullptr || length == 0) {
        return;
    }
    if (split_bytes <= 0 && (m_dribble == nullptr || evbuffer_get_length(m_dribble.get()) == 0)) {
        bufferevent_write(m_bev.get(), data, length);
        return;
    }
    StartDribble();
    evbuffer_add(m_dribble.get(), data, length);
    m_dribble_bytes = std::max(1, split_bytes);
    ArmDribble();
}

void SimConnection::WriteBuffer(evbuffer* data, int split_bytes) {
    if (m_bev == nullptr) {
        evbuffer_drain(data, evbuffer_get_length(data));
        return;
    }
    if (evbuffer* direct = DirectOutput(split_bytes)) {
        evbuffer_add_buffer(direct, data);
        return;
    }
    StartDribble();
    evbuffer_add_buffer(m_dribble.get(), data);
    m_dribble_bytes = std::max(1, split_bytes);
    ArmDribble();
}

void SimConnection::StartDribble() {
    if (!m_dribble) {
        m_dribble.reset(evbuffer_new());
        m_dribble_timer.reset(
            evtimer_new(bufferevent_get_base(m_bev.get()), &SimConnection::DribbleCallback, this));
    }
}

evbuffer* SimConnection::DirectOutput(int split_bytes) const {
    if (m_bev == nullptr || split_bytes > 0 ||
        (m_dribble != nullptr && evbuffer_get_length(m_dribble.get()) > 0)) {
        return nullptr;
    }
    return bufferevent_get_output(m_bev.get());
}

void SimConnection::WriteNow() {
    if (m_bev == nullptr || bufferevent_openssl_get_ssl(m_bev.get()) != nullptr) {
        return;
    }
    const evutil_socket_t fd = bufferevent_getfd(m_bev.get());
    evbuffer* output = bufferevent_get_output(m_bev.get());
    if (fd >= 0 && evbuffer_get_length(output) > 0) {
        // What the socket does not take now leaves when the loop sees it writable.
        (void)evbuffer_write(output, fd);
    }
}

size_t SimConnection::PendingOutput() const {
    if (m_bev == nullptr) {
        return 0;
    }
    size_t pending = evbuffer_get_length(bufferevent_get_output(m_bev.get()));
    if (m_dribble != nullptr) {
        pending += evbuffer_get_length(m_dribble.get());
    }
    return pending;
}

void SimConnection::ArmDribble() {
    if (m_dribble_timer != nullptr && !evtimer_pending(m_dribble_timer.get(), nullptr)) {
        // A millisecond apart, so that each piece leaves in its own segment.
        timeval one_ms{0, 1000};
        evtimer_add(m_dribble_timer.get(), &one_ms);
    }
}

void SimConnection::DribbleCallback(evutil_socket_t, short, void* arg) {
    auto* self = static_cast<SimConnection*>(arg);
    if (self->m_bev == nullptr) {
        return;
    }
    size_t n = std::min<size_t>(static_cast<size_t>(self->m_dribble_bytes),
                                evbuffer_get_length(self->m_dribble.get()));
    if (n > 0) {
        evbuffer_remove_buffer(self->m_dribble.get(), bufferevent_get_output(self->m_bev.get()), n);
    }
    if (evbuffer_get_length(self->m_dribble.get()) > 0) {
        self->ArmDribble();
    }
}

void SimConnection::CloseSocket(bool reset) {
    m_dribble_timer.reset();
    m_dribble.reset();
    if (m_bev == nullptr) {
        return;
    }
    if (reset) {
        evutil_socket_t fd = bufferevent_getfd(m_bev.get());
        if (fd >= 0) {
            linger hard{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
        }
    }
    m_bev.reset();
}

}  // namespace com::mivo::kmr::client
