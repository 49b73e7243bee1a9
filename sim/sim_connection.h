#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <event2/util.h>

#include "client/event_owners.h"

namespace com::mivo::kmr::client {

class SimServer;

// What a server keeps per connection beyond the socket (a datafeed session, for example).
class SimConnectionState {
public:
    virtual ~SimConnectionState() = default;
};

// One accepted client socket of a server. Lives on the server's loop thread only; the server owns it and
// destroys it one loop turn after closing it, so callbacks that triggered the close may still look at it.
class SimConnection {
public:
    SimConnection(SimServer* server, uint64_t id, BufferEventOwner bev, std::string peer);
    ~SimConnection();
    SimConnection(const SimConnection&) = delete;
    SimConnection& operator=(const SimConnection&) = delete;

    uint64_t Id() const { return m_id; }
    SimServer* Server() const { return m_server; }
    const std::string& Peer() const { return m_peer; }
    bufferevent* Bev() const { return m_bev.get(); }
    bool IsClosing() const { return m_bev == nullptr; }

    // Queues bytes for the client. With the split fault on, they go out split_bytes at a time, one loop turn
    // apart; bytes queued later never overtake those still waiting.
    void Write(const char* data, size_t length, int split_bytes);
    // Moves everything in data to the client (no copy), with the same split rule as Write.
    void WriteBuffer(evbuffer* data, int split_bytes);
    // Where pushes may be produced straight into: the socket's output, or null while the split fault is on or
    // split bytes are still waiting.
    evbuffer* DirectOutput(int split_bytes) const;
    // Bytes written but not yet taken by the kernel.
    size_t PendingOutput() const;
    // Writes what the output buffer holds now instead of on the loop's next
    // turn, so that a paced frame leaves close to the time stamped into it.
    // Plain sockets only: TLS output goes through its own layer.
    void WriteNow();

    // Frees the socket (with an RST instead of a FIN when reset is set). Idempotent.
    void CloseSocket(bool reset);

    // Close once everything queued has been written.
    void SetCloseWhenFlushed() { m_close_when_flushed = true; }
    bool CloseWhenFlushed() const { return m_close_when_flushed; }

    SimConnectionState* State() const { return m_state.get(); }
    void SetState(std::unique_ptr<SimConnectionState> state) { m_state = std::move(state); }

private:
    static void DribbleCallback(evutil_socket_t fd, short what, void* arg);
    // Makes the buffer and timer of split writes, once.
    void StartDribble();
    void ArmDribble();

    SimServer* m_server;
    uint64_t m_id;
    BufferEventOwner m_bev;
    std::string m_peer;
    EvBufferOwner m_dribble;
    EventOwner m_dribble_timer;
    int m_dribble_bytes = 0;
    bool m_close_when_flushed = false;
    std::unique_ptr<SimConnectionState> m_state;
};

}  // namespace com::mivo::kmr::client
