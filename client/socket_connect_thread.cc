#include "client/socket_connect_thread.h"

#include "common/platform.h"

#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/thread.h>

#include <future>
#include <mutex>

#include "common/base_config.h"
#include "common/base_log.h"

namespace com::mivo::kmr::client {

namespace {

void UseThreadSafeLibevent() {
    static std::once_flag once;
    std::call_once(once, [] { evthread_use_pthreads(); });
}

}  // namespace

SocketConnectThread::SocketConnectThread(MessageHandle* message_handle, const SiteNodeMap& nodes,
                                         std::shared_ptr<RawDataQueue> raw_data_queue,
                                         std::shared_ptr<SiteFlow> flow, const std::string& user_account,
                                         const std::string& token, uint32_t site_type, SSL_CTX* ssl_ctx)
    : m_message_handle(message_handle),
      m_user_account(user_account),
      m_token(token),
      m_flow(flow ? std::move(flow)
                  : std::make_shared<SiteFlow>(site_type, SiteFlow::ConfiguredBudgetBytes())),
      m_raw_data_queue(std::move(raw_data_queue)),
      m_site_type(site_type),
      m_ssl_ctx(ShareSslCtx(ssl_ctx)) {
    m_heartbeat_interval.tv_sec = BaseConfig::GetInstance().GetHeartBeatInterval();
    m_heartbeat_interval.tv_usec = 0;
    for (const auto& node : nodes) {
        m_server_hosts.push_back(node.second);
    }
    InfoPrint("Datafeed node num: %d", static_cast<int>(m_server_hosts.size()));
}

SocketConnectThread::~SocketConnectThread() {
    Stop();
}

void SocketConnectThread::Start() {
    InfoPrint("Start connect thread for site type: %d", static_cast<int>(m_site_type));
    SetLoginState(CONNECT_STATE_NONE);
    if (m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_task_mutex);
        m_loop_ready = false;
    }
    m_stopping = false;
    m_thread = std::thread(&SocketConnectThread::Run, this);
    // Callers follow with TryConnect at once: it must find the loop.
    std::unique_lock<std::mutex> lock(m_task_mutex);
    m_task_cv.wait(lock, [this] { return m_loop_ready; });
}

void SocketConnectThread::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_task_mutex);
        m_stopping = true;
        // The loop breaks from its task callback, so a break that arrives
        // before the loop has started is not lost.
        if (m_loop_running && m_task_event) {
            event_active(m_task_event.get(), EV_READ, 0);
        }
    }
    if (m_thread.joinable()) {
        if (IsLoopThread()) {
            // Cannot join itself; the loop ends when this callback returns.
            m_thread.detach();
        } else {
            m_thread.join();
        }
    }
    std::lock_guard<std::mutex> lock(m_task_mutex);
    if (!m_loop_running) {
        FreeSocket();
    }
}

void SocketConnectThread::Run() {
    platform::BlockBrokenPipeSignal();
    UseThreadSafeLibevent();
    m_loop_thread_id = std::this_thread::get_id();
    EventBaseOwner base(event_base_new());
    EventOwner task_event;
    if (!base) {
        ErrorPrint("Create event_base_new faeiled for site type: %d", static_cast<int>(m_site_type));
    } else {
        task_event.reset(
            event_new(base.get(), -1, EV_READ | EV_PERSIST, &SocketConnectThread::TaskCallback, this));
        m_resume_event.reset(event_new(base.get(), -1, 0, &SocketConnectThread::ResumeCallback, this));
        // A reader held back when the previous loop ended has no wake-up coming.
        if (m_flow->IsHeldBack()) {
            (void)m_flow->Resumed();
        }
        m_flow->SetResumeHook(&SocketConnectThread::WakeReader, this);
    }
    {
        std::lock_guard<std::mutex> lock(m_task_mutex);
        m_base = std::move(base);
        m_task_event = std::move(task_event);
        m_loop_running = m_base && m_task_event;
        m_loop_ready = true;
        if (m_loop_running && (m_stopping || !m_tasks.empty())) {
            event_active(m_task_event.get(), EV_READ, 0);
        }
    }
    m_task_cv.notify_all();

    if (m_loop_running) {
        int ret = event_base_loop(m_base.get(), EVLOOP_NO_EXIT_ON_EMPTY);
        if (ret != 0) {
            ErrorPrint("Socket is closed, an error occurred");
        }
    }

    std::lock_guard<std::mutex> lock(m_task_mutex);
    m_loop_running = false;
    // Work handed over while the loop was ending still runs, so no caller waits forever.
    while (!m_tasks.empty()) {
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        task();
    }
    FreeSocket();
    // No pipeline thread may reach the event once it is gone.
    m_flow->SetResumeHook(nullptr, nullptr);
    // The loop goes last: its owner runs what the socket left queued.
    m_resume_event.reset();
    m_heartbeat_event.reset();
    m_task_event.reset();
    m_base.reset();
    m_loop_thread_id = std::thread::id();
}

bool SocketConnectThread::IsLoopThread() const {
    return m_loop_thread_id.load() == std::this_thread::get_id();
}

void SocketConnectThread::RunOnLoop(const std::function<void()>& fn) {
    if (IsLoopThread()) {
        fn();
        return;
    }
    std::packaged_task<void()> task(fn);
    std::future<void> done = task.get_future();
    {
        std::lock_guard<std::mutex> lock(m_task_mutex);
        if (!m_loop_running) {
            // No loop thread touches the socket: callers only need to be
            // kept apart from each other.
            task();
            return;
        }
        m_tasks.emplace_back([&task] { task(); });
        event_active(m_task_event.get(), EV_READ, 0);
    }
    done.get();
}

void SocketConnectThread::TaskCallback(int fd, short events, void* context) {
    (void)fd;
    (void)events;
    static_cast<SocketConnectThread*>(context)->RunPendingTasks();
}

void SocketConnectThread::RunPendingTasks() {
    std::deque<std::function<void()>> tasks;
    {
        std::lock_guard<std::mutex> lock(m_task_mutex);
        tasks.swap(m_tasks);
    }
    for (auto& task : tasks) {
        task();
    }
    if (m_stopping) {
        event_base_loopbreak(m_base.get());
    }
}

void SocketConnectThread::TryConnect() {
    RunOnLoop([this] { DoTryConnect(); });
}

void SocketConnectThread::ReConnnect() {
    RunOnLoop([this] { DoReConnnect(); });
}

void SocketConnectThread::Reset() {
    RunOnLoop([this] { DoReset(); });
}

void SocketConnectThread::CloseSocket() {
    RunOnLoop([this] { DoCloseSocket(); });
}

int SocketConnectThread::SendSubscribeMsg(com::mivo::zel::model::SubscribeRequest* request) {
    int result = 0;
    RunOnLoop([this, request, &result] { result = DoSendSubscribeMsg(request); });
    return result;
}

void SocketConnectThread::UpdateNodeList(SiteNodeMap& nodes) {
    (void)nodes;
    m_server_index.exchange(0);
}

std::string SocketConnectThread::getCurrentHostStr() const {
    int32_t index = m_server_index.load();
    if (index < 0 || static_cast<size_t>(index) >= m_server_hosts.size()) {
        return std::string();
    }
    return m_server_hosts[static_cast<size_t>(index)].ToString();
}

}  // namespace com::mivo::kmr::client
