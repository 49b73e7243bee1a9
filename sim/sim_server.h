#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <google/protobuf/message.h>

#include "MetaData.pb.h"
#include "client/event_owners.h"
#include "protocol/message_header.h"
#include "sim/sim_connection.h"
#include "sim/sim_context.h"
#include "sim/sim_counters.h"
#include "sim/sim_faults.h"
#include "sim/sim_options.h"

namespace com::mivo::kmr::client {

enum class SimCloseMode { kClean, kReset };

// One frame read from a client, copied out of the socket buffer.
struct SimFrame {
    MessageHeader header;
    com::mivo::zel::model::MetaData meta;
    const char* payload = nullptr;
    int payload_length = 0;
};

// A listening server (discovery server or datafeed node) with its own libevent loop thread. Public members
// may be called from any thread; they run their work on the loop thread and wait for it.
class SimServer {
public:
    // OnWritable runs when a connection's queued output falls below this.
    static constexpr size_t kLowWaterMark = 256 * 1024;
    // libevent writes at most 16 KiB per loop turn by default, so a 40 KiB
    // frame would leave in three turns, its first bytes waiting for its last.
    static constexpr ssize_t kMaxSingleWrite = 1024 * 1024;

    SimServer(std::string name, SimEndpoint endpoint, SimContext* context);
    virtual ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Binds the listener and starts the loop thread; false with the reason in error.
    bool Start(std::string* error);
    // Closes every connection and the listener and joins the thread. Idempotent.
    void Stop();

    // Takes the server off the network: listener and every connection closed. The port is kept for Up.
    void Down();
    bool Up(std::string* error);
    bool IsUp() const;

    const std::string& Name() const { return m_name; }
    // The endpoint with its port resolved once started.
    SimEndpoint Endpoint() const;
    uint16_t Port() const;

    SimFaults& Faults() { return m_faults; }
    SimCounters& Counters() { return m_counters; }
    SimCounterValues CounterValues() const { return m_counters.Snapshot(); }
    int OpenConnections();
    // CPU time the loop thread has used so far (0 when not running): what a server costs, whatever the load.
    double LoopThreadCpuSeconds();

    // Closes every open connection: kClean sends what is queued then a FIN, kReset an RST at once.
    void CloseConnections(SimCloseMode mode);
    // Writes a sabotage frame (kOversizedLength, kNegativeLength, kGarbage) to every open connection now.
    void Inject(SimSabotage kind);
    // Stops (or resumes) reading from every connection, present and future.
    void SetStallReading(bool stall);

    // Runs fn on the loop thread (false, and fn dropped, when the loop is not running); PostAndWait also
    // waits for it, and runs it inline on the loop thread itself or when there is no loop.
    bool Post(std::function<void()> fn);
    void PostAndWait(const std::function<void()>& fn);

protected:
    // Loop thread only, from here on.
    virtual void OnConnectionOpened(SimConnection& connection) { (void)connection; }
    virtual void OnFrame(SimConnection& connection, const SimFrame& frame) = 0;
    virtual void OnConnectionClosing(SimConnection& connection) { (void)connection; }
    // The connection's queued output fell below the low-water mark.
    virtual void OnWritable(SimConnection& connection) { (void)connection; }
    virtual int IdleTimeoutMs() const = 0;

    // Frames a response ([int32 body length][body]) and writes it, applying the wrong-trace, sabotage, delay
    // and split faults.
    void SendResponse(SimConnection& connection, com::mivo::zel::model::ESysMessageType type,
                      const std::string& trace_id, const google::protobuf::Message& body);
    // Writes frame bytes that are already built (pushes), applying only the split fault.
    void SendRaw(SimConnection& connection, const char* data, size_t length);
    // The trace id to put into an outgoing frame for a request's trace id (wrong on purpose when asked).
    std::string OutgoingTraceId(const std::string& request_trace_id) const;
    void LogRequest(const SimConnection& connection, const SimFrame& frame, std::string text);

    void CloseConnection(SimConnection& connection, SimCloseMode mode);
    SimConnection* FindConnection(uint64_t id);
    std::vector<SimConnection*> Connections();
    // A one-shot timer on the loop thread.
    void Schedule(int delay_ms, std::function<void()> fn);
    event_base* Base() const { return m_base.get(); }
    SimContext& Context() { return *m_context; }
    const SimContext& Context() const { return *m_context; }

private:
    struct Timer;

    bool OpenListener(std::string* error);
    void CloseListener();
    void CloseAll(SimCloseMode mode);
    void Reap();
    void RunPosted();
    void HandleRead(SimConnection& connection);
    void RejectFrame(SimConnection& connection, const std::string& why);
    static void AcceptCallback(evconnlistener* listener, int fd, struct sockaddr* address, int length,
                               void* arg);
    static void ReadCallback(struct bufferevent* bev, void* arg);
    static void WriteCallback(struct bufferevent* bev, void* arg);
    static void EventCallback(struct bufferevent* bev, short what, void* arg);
    static void WakeCallback(int fd, short what, void* arg);
    static void TimerCallback(int fd, short what, void* arg);

    std::string m_name;
    SimEndpoint m_endpoint;
    SimContext* m_context;
    SimFaults m_faults;
    SimCounters m_counters;

    // Declared before everything that lives on the loop: it goes last.
    EventBaseOwner m_base;
    ListenerOwner m_listener;
    EventOwner m_wake;
    EventOwner m_reaper;
    std::thread m_thread;
    std::atomic<std::thread::id> m_loop_thread_id{};
    bool m_stall_reading = false;

    mutable std::mutex m_mutex;  // guards m_posted, m_running, m_endpoint.port and m_up
    std::deque<std::function<void()>> m_posted;
    bool m_running = false;
    bool m_up = false;

    std::map<uint64_t, std::unique_ptr<SimConnection>> m_connections;
    std::vector<std::unique_ptr<SimConnection>> m_graveyard;
    std::map<uint64_t, std::unique_ptr<Timer>> m_timers;
    uint64_t m_next_timer_id = 1;
    std::string m_read_scratch;
};

}  // namespace com::mivo::kmr::client
