#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/time.h>

#include "MetaData.pb.h"
#include "SysSubscribe.pb.h"
#include "client/event_owners.h"
#include "client/message_handle.h"
#include "client/node_map.h"
#include "client/server_host.h"
#include "client/ssl_owners.h"
#include "common/result_codes.h"
#include "common/zel_export.h"
#include "pipeline/raw_data.h"
#include "pipeline/site_flow.h"
#include "protocol/frame_cutter.h"

namespace com::mivo::kmr::client {

// The connection of one site type to the datafeed service: the site's nodes in
// descending priority, a thread running a libevent loop, and at most one
// socket (plain or TLS). It logs in with the session token once connected,
// moves on to the next node when anything goes wrong (without wrapping round:
// past the last node it stays FAILED until Reset), reads frames into the
// site's raw data queue and keeps the link alive with heartbeats. While the
// site's flow is over its memory budget the reader takes no frames and reads
// nothing from the socket, so TCP pushes back on the node; it goes on when the
// pipeline has freed half the budget.
//
// Threading: every socket and TLS object is created, used and freed on the
// loop thread only. TryConnect, ReConnnect, Reset, CloseSocket and
// SendSubscribeMsg called from another thread hand their work to the loop and
// wait for it, so they return with the same effect (and state) as if they had
// run in place, and never free a socket under a running callback. Called
// from the loop thread (inside the handler's callbacks) they run in place.
class ZEL_API SocketConnectThread {
public:
    enum ConnectState : int32_t {
        CONNECT_STATE_NONE = 0,
        CONNECT_STATE_ONGOING = 1,
        CONNECT_STATE_SUCCESS = 2,
        CONNECT_STATE_FAILED = 3,
    };

    // Older names of the table's codes, kept for host programs that use them.
    static constexpr int CODE_NOT_CONNECTED = RESULT_NOT_CONNECTED;
    static constexpr int CODE_SSL_FAILED = RESULT_TLS_FAILED;
    static constexpr int CODE_HEARTBEAT_TIMER_FAILED = RESULT_HEARTBEAT_TIMER_FAILED;

    // user_account and token are read at every login and must outlive the
    // connection. ssl_ctx may be null (plain nodes only); the connection keeps
    // a reference of its own to it.
    // flow: the site's payload pool and budget, shared with its pipeline.
    SocketConnectThread(MessageHandle* message_handle, const SiteNodeMap& nodes,
                        std::shared_ptr<RawDataQueue> raw_data_queue, std::shared_ptr<SiteFlow> flow,
                        const std::string& user_account, const std::string& token, uint32_t site_type,
                        SSL_CTX* ssl_ctx);
    ~SocketConnectThread();

    SocketConnectThread(const SocketConnectThread&) = delete;
    SocketConnectThread& operator=(const SocketConnectThread&) = delete;

    // Starts the loop thread and returns once its loop exists. No connection
    // is attempted.
    void Start();
    // Ends the loop thread; afterwards there is neither loop nor socket.
    void Stop();

    // One connection attempt to the node at the current index.
    void TryConnect();
    // Closes, pauses 3 ms, moves to the next node and tries it.
    void ReConnnect();
    // Closes and starts over: first node, both states NONE.
    void Reset();
    // Closes the socket; the states stay as they are.
    void CloseSocket();
    // 0; RESULT_NOT_CONNECTED without a socket; the codec's negative code when the request
    // cannot be framed. On failure the subscribe state is FAILED.
    int SendSubscribeMsg(com::mivo::zel::model::SubscribeRequest* request);
    // Back to the first node; the node list itself is the one given at construction.
    void UpdateNodeList(SiteNodeMap& nodes);

    // Called after every change of the login or subscribe state, on whatever
    // thread made it. Set it before Start.
    void SetStateListener(std::function<void()> listener) { m_state_listener = std::move(listener); }
    // A subscribe whose answer did not come in time counts as failed; a late
    // answer still updates the state.
    void AbandonSubscribe();
    // The last request was refused by the node (the link stays up).
    bool isSubscribeRefused() const { return m_subscribe_refused.load(); }

    ConnectState getState() const { return m_login_state.load(); }
    ConnectState getSubscribeState() const { return m_subscribe_state.load(); }
    bool isStillLogging() const { return m_login_state.load() == CONNECT_STATE_ONGOING; }
    bool isLoginSuccess() const { return m_login_state.load() == CONNECT_STATE_SUCCESS; }
    bool isLoginFailed() const { return m_login_state.load() == CONNECT_STATE_FAILED; }
    bool isStillSubscibing() const { return m_subscribe_state.load() == CONNECT_STATE_ONGOING; }
    bool isSubscribeSuccess() const { return m_subscribe_state.load() == CONNECT_STATE_SUCCESS; }
    bool isNotSubscribed() const {
        ConnectState state = m_subscribe_state.load();
        return state == CONNECT_STATE_NONE || state == CONNECT_STATE_FAILED;
    }

    const std::vector<ServerHost>& getServerHost() const { return m_server_hosts; }
    // Read it only once the subscribe state has left ONGOING.
    com::mivo::zel::model::SubscribeResponse getSubscribeRsp() const { return m_subscribe_rsp; }
    // "ip:port" of the node being tried or used; empty past the last node.
    std::string getCurrentHostStr() const;
    uint32_t GetSiteType() const { return m_site_type; }

    // Heartbeat figures for the data received over interval seconds:
    // KB per second and frames per second, both truncated.
    static int HeartbeatTraffic(int32_t recv_bytes, int64_t interval);
    static int HeartbeatTps(int32_t recv_count, int64_t interval);

private:
    void Run();
    // A new TLS session of the shared context; empty (error line) without one.
    SslOwner NewTlsSession();
    int StartHeartbeat();
    void SendHeartbeat();

    // Loop-thread bodies of the public operations.
    void DoTryConnect();
    void DoReConnnect();
    void DoReset();
    void DoCloseSocket();
    int DoSendSubscribeMsg(com::mivo::zel::model::SubscribeRequest* request);
    // Frees the socket (and with it its TLS session), if any.
    void FreeSocket();
    void SendLoginRequest();
    // The state setters notify the listener.
    void SetLoginState(ConnectState state);
    void SetSubscribeState(ConnectState state);
    // The link of the current socket is lost (not closed by us): the user
    // hears of it once per socket, with the node it was connected to.
    void LoseLink();

    // Runs fn on the loop thread and waits for it; in place when already
    // there or when no loop runs.
    void RunOnLoop(const std::function<void()>& fn);
    void RunPendingTasks();
    bool IsLoopThread() const;

    // Reader helpers (socket_connect_thread_read.cc). Each returns false when
    // the socket was closed or replaced and reading must stop.
    void CutFrames(struct bufferevent* bev);
    bool DispatchFrame(const FrameView& frame);
    bool HandleMarketData(int16_t flags, const com::mivo::zel::model::MetaData& meta, const char* payload,
                          int32_t payload_length);
    bool HandleLoginResponse(const char* payload, int32_t payload_length);
    bool HandleSubscribeResponse(const char* payload, int32_t payload_length);
    void FailReader();
    RawData* AllocRawSlot();
    // Moves what libevent read, then more straight from a plain socket, into
    // the cutter; the error number of a failed read, else 0.
    int PullInput(struct bufferevent* bev);
    // Stops reading while the site is over budget; false when it need not.
    bool HoldBackReader();
    void ResumeReader();
    // True when the reader was held back since the last call (or still is):
    // heartbeat answers then wait behind frames we chose not to read.
    bool TakeReaderHeldBack();

    // Seconds on the heartbeat's clock (Unix seconds, sped up with the test seam).
    static int64_t HeartbeatClockSeconds();
    // The interval as the timer waits it (shortened by the test seam).
    struct timeval HeartbeatPause() const;

    static void ReadCallback(struct bufferevent* bev, void* context);
    static void EventCallback(struct bufferevent* bev, short events, void* context);
    static void SendHeartbeatWrapper(int fd, short events, void* context);
    static void TaskCallback(int fd, short events, void* context);
    static void ResumeCallback(int fd, short events, void* context);
    static void WakeReader(void* context);

    MessageHandle* m_message_handle;
    std::atomic<int32_t> m_server_index{0};
    std::vector<ServerHost> m_server_hosts;
    // Declared before the socket and the events: they go first.
    EventBaseOwner m_base;
    BufferEventOwner m_bev;
    std::thread m_thread;
    std::string m_trace_id;
    FrameCutter m_cutter;
    com::mivo::zel::model::MetaData m_frame_meta;
    const std::string& m_user_account;
    const std::string& m_token;
    // Declared before the ring: the payloads in it belong to the flow.
    std::shared_ptr<SiteFlow> m_flow;
    std::shared_ptr<RawDataQueue> m_raw_data_queue;
    EventOwner m_resume_event;
    bool m_held_since_heartbeat = false;
    uint32_t m_site_type;
    SslCtxOwner m_ssl_ctx;
    com::mivo::zel::model::SubscribeResponse m_subscribe_rsp;
    std::mutex m_send_mutex;
    int32_t m_heartbeat_count = 0;
    EventOwner m_heartbeat_event;
    struct timeval m_heartbeat_interval;
    int64_t m_last_heartbeat_time = 0;
    int64_t m_current_time = 0;
    int32_t m_recv_bytes = 0;
    int32_t m_recv_count = 0;
    std::atomic<ConnectState> m_login_state{CONNECT_STATE_NONE};
    std::atomic<ConnectState> m_subscribe_state{CONNECT_STATE_NONE};
    // The subscribe state before the request in flight: a refusal costs only
    // that request, so the site goes back to it.
    std::atomic<ConnectState> m_subscribe_state_before{CONNECT_STATE_NONE};
    std::atomic<bool> m_subscribe_refused{false};
    std::function<void()> m_state_listener;
    // The node of the socket in use, until the socket is closed or its loss reported.
    std::string m_link_host;

    // Hand-over of work from other threads to the loop.
    std::mutex m_task_mutex;
    std::condition_variable m_task_cv;
    std::deque<std::function<void()>> m_tasks;
    EventOwner m_task_event;
    bool m_loop_running = false;
    bool m_loop_ready = false;
    std::atomic<bool> m_stopping{false};
    std::atomic<std::thread::id> m_loop_thread_id{};
};

}  // namespace com::mivo::kmr::client
