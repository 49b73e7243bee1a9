// The daemon thread: watches the sites, logs them in again (old token
// first, then a fresh discovery login) and replays the subscriptions.
#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "client/datafeed_client.h"
#include "client/discovery_client.h"
#include "client/nuvexia_tcp_session.h"
#include "client/subscription_ledger.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/test_seam.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::SubscribeRequest;

namespace {

std::chrono::milliseconds Seconds(int64_t seconds) {
    return std::chrono::seconds(seconds);
}

// The first failures of a run are logged one by one, later ones at 8, 16,
// 32, ... so that a service that keeps refusing does not flood the log.
bool IsLoggedAttempt(int n) {
    return n <= 4 || (n & (n - 1)) == 0;
}

}  // namespace

void NuvexiaTcpSession::StartDaemonThread() {
    {
        std::lock_guard<std::mutex> lock(m_stop_mutex);
        m_stop = false;
        m_first_pass_done = false;
        m_daemon_done = false;
    }
    m_daemon_thread = std::make_unique<std::thread>(&NuvexiaTcpSession::DaemonThreadWorkFunc, this);
}

void NuvexiaTcpSession::StopDaemonThread() {
    {
        std::lock_guard<std::mutex> lock(m_stop_mutex);
        m_stop = true;
    }
    m_stop_cv.notify_all();
    if (m_daemon_thread) {
        // Ends a discovery walk after its current attempt instead of letting
        // it go on to the next server; repeated, because a walk that starts
        // right after a wake clears its stop flag.
        std::unique_lock<std::mutex> lock(m_stop_mutex);
        while (!m_daemon_done) {
            lock.unlock();
            WakeWaiters();
            lock.lock();
            m_stop_cv.wait_for(lock, std::chrono::milliseconds(10), [this] { return m_daemon_done; });
        }
        lock.unlock();
        if (m_daemon_thread->joinable()) {
            m_daemon_thread->join();
        }
        m_daemon_thread.reset();
    }
}

std::chrono::milliseconds NuvexiaTcpSession::DiscoveryBackoff(int failures) const {
    const BaseConfig& config = BaseConfig::GetInstance();
    const std::chrono::milliseconds floor = TestSeam::Scaled(std::chrono::milliseconds(1000));
    const std::chrono::milliseconds first =
        std::max<std::chrono::milliseconds>(Seconds(config.GetLoginTryInterval()), floor);
    const std::chrono::milliseconds cap =
        std::max<std::chrono::milliseconds>(Seconds(config.GetDaemonCheckInterval().count()), first);
    std::chrono::milliseconds pause = first;
    for (int i = 1; i < failures && pause < cap; ++i) {
        pause *= 2;
    }
    pause = std::min(pause, cap);
    // Between half and all of it, so that many clients refused at once do
    // not come back in step.
    static thread_local std::minstd_rand random(std::random_device{}());
    const auto half = pause.count() / 2;
    std::uniform_int_distribution<long long> spread(0, half);
    return std::chrono::milliseconds(pause.count() - half + spread(random));
}

bool NuvexiaTcpSession::PauseUnlessStopped(std::chrono::milliseconds pause) {
    if (pause.count() <= 0) {
        // No pause configured: still let the callers waiting for the session
        // mutex have their turn.
        std::this_thread::yield();
        return !m_stop;
    }
    std::unique_lock<std::mutex> lock(m_stop_mutex);
    m_stop_cv.wait_for(lock, pause, [this] { return m_stop.load(); });
    return !m_stop;
}

void NuvexiaTcpSession::DaemonThreadWorkFunc() {
    InfoPrint("=== daemon thread start ===");
    int64_t reference_time = m_wall_clock();
    while (!m_stop) {
        const int64_t now = m_wall_clock();
        if (now < reference_time) {
            DebugPrint("Back in time, reset heartbeat time");
            reference_time = now;
        }

        bool all_connected;
        {
            std::lock_guard<std::mutex> session(m_session_mutex);
            all_connected = m_datafeed_client->isAllConnected();
            if (!all_connected) {
                ErrorPrint("In daemon thread, client need reconnect after check, try to close socket");
                m_datafeed_client->ResetAllNotConnect();
            }
        }
        if (!all_connected) {
            Reconnect();
        }
        if (m_stop) {
            break;
        }

        if (HasSubscribeRequests()) {
            std::lock_guard<std::mutex> session(m_session_mutex);
            if (!m_datafeed_client->isAllSubscibed()) {
                InfoPrint("In daemon thread, Some datafeed need redo subscibe");
                // A site that refused a subscription lost its socket but
                // still counts as logged in; nothing else would ever bring it
                // back, so a failed replay resets the sites as after a
                // reconnect.
                if (RedoSubscribe() != 0 && !m_stop) {
                    m_datafeed_client->ResetAll();
                }
            }
        }

        {
            std::lock_guard<std::mutex> lock(m_stop_mutex);
            m_first_pass_done = true;
        }
        m_stop_cv.notify_all();
        PauseUnlessStopped(Seconds(BaseConfig::GetInstance().GetDaemonCheckInterval().count()));
    }
    InfoPrint("=== daemon thread quit ===");
    {
        std::lock_guard<std::mutex> lock(m_stop_mutex);
        m_daemon_done = true;
    }
    m_stop_cv.notify_all();
}

void NuvexiaTcpSession::Reconnect() {
    BaseConfig& config = BaseConfig::GetInstance();
    InfoPrint("Reconnect, try to login datafeed service directly");

    // Token phase: the nodes may still accept the token we have.
    for (unsigned int i = 1; !m_stop && i <= config.GetLoginTryCount(); ++i) {
        InfoPrint("Retry to login datafeed service [%d/%d]", i, config.GetLoginTryCount());
        int ret;
        {
            std::lock_guard<std::mutex> session(m_session_mutex);
            ret = m_datafeed_client->TryLoginDatafeed();
            if (ret == 0) {
                InfoPrint("Relogin datafeed service by pre token successfully! Try to redo subcribe...");
                ReplayAfterReconnect();
                return;
            }
        }
        ErrorPrint("Login datafeed service failed, ret=%d", ret);
        if (!PauseUnlessStopped(Seconds(config.GetLoginTryInterval()))) {
            return;
        }
    }
    if (m_stop) {
        return;
    }

    // Discovery phase: a new token and node table, however long it takes
    // (a stop request ends it between two walks).
    InfoPrint("Reconnect, try to login datafeed service directly failed, try to login discovery service");
    for (int n = 1;; ++n) {
        if (m_stop) {
            return;
        }
        if (IsLoggedAttempt(n)) {
            InfoPrint("=== try to relogin discovery service [%d] ... ===", n);
        }
        const int ret = m_discovery_client->TryLoginDiscovery();
        if (ret == 0) {
            if (n > 1) {
                InfoPrint("Relogin discovery service succeeded after %d failed attempts", n - 1);
            }
            break;
        }
        // Whatever the failure (a refusal too), the service is given time.
        const auto pause = DiscoveryBackoff(n);
        if (IsLoggedAttempt(n)) {
            ErrorPrint("Relogin discovery service failed %d time(s), ret=%d, next try in %lld ms", n, ret,
                       static_cast<long long>(pause.count()));
        }
        if (!PauseUnlessStopped(pause)) {
            return;
        }
    }
    if (m_stop) {
        return;
    }

    InfoPrint(
        "Reconnect, try to login discovery service directly success, try to login datafeed service again");
    {
        std::lock_guard<std::mutex> session(m_session_mutex);
        const std::string user = m_discovery_client->GetUserAccount();
        const std::string token = m_discovery_client->GetToken();
        m_datafeed_client->Init(user, token, m_discovery_client->GetDatafeedNodes());
        m_datafeed_client->UpdateDatafeedNode();
    }

    // Datafeed phase with the new token; when it fails the next pass starts
    // over with the token phase.
    for (unsigned int j = 1; !m_stop && j <= config.GetLoginTryCount(); ++j) {
        InfoPrint("Try to login datafeed service [%d/%d]", j, config.GetLoginTryCount());
        int ret;
        {
            std::lock_guard<std::mutex> session(m_session_mutex);
            ret = m_datafeed_client->TryLoginDatafeed();
            if (ret == 0) {
                ReplayAfterReconnect();
                return;
            }
        }
        ErrorPrint("Login datafeed service failed, ret=%d", ret);
        if (!PauseUnlessStopped(Seconds(config.GetLoginTryInterval()))) {
            return;
        }
    }
}

void NuvexiaTcpSession::ReplayAfterReconnect() {
    if (RedoSubscribe() != 0 && !m_stop) {
        // Every site starts over on the next pass, so that the whole
        // registry reaches all of them again.
        m_datafeed_client->ResetAll();
    }
}

int NuvexiaTcpSession::RedoSubscribe() {
    const unsigned int try_count = BaseConfig::GetInstance().GetSubscribeTryCount();
    // Entries are never freed or moved while the session lives (the vector
    // only grows and holds owning pointers), so a copy of the pointers taken
    // under the mutex stays valid while callers append.
    std::vector<SubscribeRequest*> entries;
    {
        std::lock_guard<std::mutex> lock(m_subscribe_mutex);
        entries.reserve(m_subscribe_requests.size());
        for (const auto& request : m_subscribe_requests) {
            entries.push_back(request.get());
        }
    }
    int ret = 0;
    for (SubscribeRequest* request : entries) {
        for (unsigned int i = 1; i <= try_count; ++i) {
            bool refused = false;
            ret = m_datafeed_client->TrySubscribe(request, &refused);
            m_subscriptions->Replayed(*request, ret);
            if (ret == 0) {
                break;
            }
            if (refused) {
                // Final: the node keeps its other subscriptions and the link.
                ErrorPrint("Replayed subscription refused by the service, skipped");
                ret = 0;
                break;
            }
            if (!PauseUnlessStopped(Seconds(BaseConfig::GetInstance().GetSubscirbeTryInterval()))) {
                return ret;
            }
        }
    }
    return ret;
}

}  // namespace com::mivo::kmr::client
