#include "sim/sim_server.h"

#include "common/platform.h"

#include <pthread.h>
#include <time.h>

#include <future>
#include <mutex>

#include <event2/event.h>
#include <event2/listener.h>
#include <event2/thread.h>

namespace com::mivo::kmr::client {

struct SimServer::Timer {
    SimServer* server = nullptr;
    uint64_t id = 0;
    EventOwner ev;
    std::function<void()> fn;
};

namespace {

void UseThreadSafeLibevent() {
    static std::once_flag once;
    std::call_once(once, [] { evthread_use_pthreads(); });
}

}  // namespace

SimServer::SimServer(std::string name, SimEndpoint endpoint, SimContext* context)
    : m_name(std::move(name)), m_endpoint(std::move(endpoint)), m_context(context) {}

SimServer::~SimServer() {
    // Subclasses stop in their own destructor; this is the last resort for a server that never had one.
    Stop();
}

bool SimServer::Start(std::string* error) {
    UseThreadSafeLibevent();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_running) {
            return true;
        }
    }
    // libevent's default clock is the coarse one, which moves once per
    // kernel tick (4 ms here): a 1 ms pacing timer would then fire in bursts
    // of four, and every frame of a burst but the last would wait.
    event_config* config = event_config_new();
    if (config != nullptr) {
        event_config_set_flag(config, EVENT_BASE_FLAG_PRECISE_TIMER);
        m_base.reset(event_base_new_with_config(config));
        event_config_free(config);
    }
    if (!m_base) {
        *error = m_name + ": cannot create event loop";
        return false;
    }
    m_wake.reset(event_new(m_base.get(), -1, 0, &SimServer::WakeCallback, this));
    m_reaper.reset(event_new(
        m_base.get(), -1, 0, [](evutil_socket_t, short, void* arg) { static_cast<SimServer*>(arg)->Reap(); },
        this));
    if (!OpenListener(error)) {
        m_wake.reset();
        m_reaper.reset();
        m_base.reset();
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
    }
    std::promise<void> started;
    auto ready = started.get_future();
    m_thread = std::thread([this, &started] {
        platform::BlockBrokenPipeSignal();
        m_loop_thread_id = std::this_thread::get_id();
        started.set_value();
        event_base_loop(m_base.get(), EVLOOP_NO_EXIT_ON_EMPTY);
    });
    ready.wait();
    return true;
}

void SimServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running) {
            return;
        }
    }
    PostAndWait([this] {
        CloseListener();
        CloseAll(SimCloseMode::kClean);
        event_base_loopbreak(m_base.get());
    });
    if (m_thread.joinable()) {
        m_thread.join();
    }
    std::deque<std::function<void()>> leftovers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
        leftovers.swap(m_posted);
    }
    // Work posted while the loop was ending still runs, so that nobody waits for it forever.
    for (auto& fn : leftovers) {
        fn();
    }
    // The loop is gone: whatever is left is freed on this thread, the loop last.
    m_timers.clear();
    m_connections.clear();
    m_graveyard.clear();
    m_wake.reset();
    m_reaper.reset();
    m_base.reset();
}

void SimServer::Down() {
    PostAndWait([this] {
        CloseListener();
        CloseAll(SimCloseMode::kClean);
    });
}

bool SimServer::Up(std::string* error) {
    bool ok = true;
    PostAndWait([this, &ok, error] {
        if (m_listener == nullptr) {
            ok = OpenListener(error);
        }
    });
    return ok;
}

bool SimServer::IsUp() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_up;
}

SimEndpoint SimServer::Endpoint() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_endpoint;
}

uint16_t SimServer::Port() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_endpoint.port;
}

int SimServer::OpenConnections() {
    int n = 0;
    PostAndWait([this, &n] { n = static_cast<int>(m_connections.size()); });
    return n;
}

double SimServer::LoopThreadCpuSeconds() {
    std::lock_guard<std::mutex> lock(m_mutex);
    clockid_t clock;
    timespec used;
    if (!m_running || pthread_getcpuclockid(m_thread.native_handle(), &clock) != 0 ||
        clock_gettime(clock, &used) != 0) {
        return 0;
    }
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

bool SimServer::Post(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_running) {
        return false;
    }
    m_posted.push_back(std::move(fn));
    // Under the lock: Stop frees the wake event only after clearing m_running under it.
    event_active(m_wake.get(), 0, 0);
    return true;
}

void SimServer::PostAndWait(const std::function<void()>& fn) {
    bool inline_run = std::this_thread::get_id() == m_loop_thread_id;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        inline_run = inline_run || !m_running;
    }
    if (inline_run) {
        fn();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    if (!Post([&fn, &done] {
            fn();
            done.set_value();
        })) {
        fn();
        return;
    }
    finished.wait();
}

void SimServer::RunPosted() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        work.swap(m_posted);
    }
    for (auto& fn : work) {
        fn();
    }
}

void SimServer::WakeCallback(evutil_socket_t, short, void* arg) {
    static_cast<SimServer*>(arg)->RunPosted();
}

void SimServer::Schedule(int delay_ms, std::function<void()> fn) {
    uint64_t id = m_next_timer_id++;
    auto timer = std::make_unique<Timer>();
    timer->server = this;
    timer->id = id;
    timer->fn = std::move(fn);
    timer->ev.reset(evtimer_new(m_base.get(), &SimServer::TimerCallback, timer.get()));
    timeval delay{delay_ms / 1000, (delay_ms % 1000) * 1000};
    evtimer_add(timer->ev.get(), &delay);
    m_timers[id] = std::move(timer);
}

void SimServer::TimerCallback(evutil_socket_t, short, void* arg) {
    auto* timer = static_cast<Timer*>(arg);
    SimServer* server = timer->server;
    auto it = server->m_timers.find(timer->id);
    if (it == server->m_timers.end()) {
        return;
    }
    std::function<void()> fn = std::move(it->second->fn);
    server->m_timers.erase(it);
    fn();
}

void SimServer::Reap() {
    m_graveyard.clear();
}

}  // namespace com::mivo::kmr::client
