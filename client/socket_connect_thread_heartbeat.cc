// Heartbeat: a one-shot timer re-armed after every successful send, carrying
// the traffic received since the previous heartbeat.
#include <event2/bufferevent.h>
#include <event2/event.h>

#include <chrono>

#include "client/socket_connect_thread.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/standard_lib_kits.h"
#include "common/test_seam.h"
#include "protocol/frame_buffer.h"
#include "protocol/nuvexia_message_impl.h"

namespace com::mivo::kmr::client {

int SocketConnectThread::HeartbeatTraffic(int32_t recv_bytes, int64_t interval) {
    return static_cast<int>(static_cast<double>(recv_bytes) * 1 / 1024 / static_cast<double>(interval));
}

int SocketConnectThread::HeartbeatTps(int32_t recv_count, int64_t interval) {
    return static_cast<int>(recv_count / interval);
}

int64_t SocketConnectThread::HeartbeatClockSeconds() {
    int divisor = TestSeam::GetTimeDivisor();
    if (divisor <= 1) {
        return StandardLibKits::GetInstance()->GetCurrentUnixTimestampSeconds();
    }
    // With the pauses shortened the clock runs faster by the same factor, so
    // that rates come out per (design) second.
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count() * divisor / 1000;
}

struct timeval SocketConnectThread::HeartbeatPause() const {
    auto interval = std::chrono::seconds(m_heartbeat_interval.tv_sec) +
                    std::chrono::microseconds(m_heartbeat_interval.tv_usec);
    auto pause = TestSeam::Scaled(std::chrono::duration_cast<std::chrono::milliseconds>(interval));
    struct timeval tv;
    tv.tv_sec = static_cast<time_t>(pause.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((pause.count() % 1000) * 1000);
    return tv;
}

int SocketConnectThread::StartHeartbeat() {
    InfoPrint("Start send heatbeat to datafeed service, site type: %d, service host: %s.",
              static_cast<int>(m_site_type), getCurrentHostStr().c_str());
    // One login, one running heartbeat: a timer left from an earlier login goes.
    m_heartbeat_event.reset(evtimer_new(m_base.get(), &SocketConnectThread::SendHeartbeatWrapper, this));
    if (!m_heartbeat_event) {
        ErrorPrint("Create heartbeat event failed");
        return RESULT_HEARTBEAT_TIMER_FAILED;
    }
    m_last_heartbeat_time = HeartbeatClockSeconds();
    struct timeval tv = HeartbeatPause();
    if (evtimer_add(m_heartbeat_event.get(), &tv) != 0) {
        ErrorPrint("Create heartbeat timer failed");
        m_heartbeat_event.reset();
        return RESULT_HEARTBEAT_TIMER_FAILED;
    }
    return 0;
}

void SocketConnectThread::SendHeartbeatWrapper(int fd, short events, void* context) {
    (void)fd;
    (void)events;
    auto* self = static_cast<SocketConnectThread*>(context);
    // Answers queue behind market data our own budget keeps unread: a slow
    // host is not a dead node.
    if (self->TakeReaderHeldBack()) {
        self->m_heartbeat_count = 0;
    }
    if (self->m_heartbeat_count >= static_cast<int32_t>(BaseConfig::GetInstance().GetHeartbeatMaxCount())) {
        ErrorPrint("Not receive heartbeat from datafeed service");
        self->LoseLink();
        self->DoReset();
    }
    self->SendHeartbeat();
}

void SocketConnectThread::SendHeartbeat() {
    DebugPrint("Send Hearbeat to datafeed node, site type: %d, current host: %s",
               static_cast<int>(m_site_type), getCurrentHostStr().c_str());
    ++m_heartbeat_count;
    m_current_time = HeartbeatClockSeconds();
    int64_t interval = m_current_time - m_last_heartbeat_time;
    if (interval == 0) {
        return;
    }
    int tps = HeartbeatTps(m_recv_count, interval);
    int traffic = HeartbeatTraffic(m_recv_bytes, interval);
    FrameBuffer frame;
    int length = NuvexiaMessage::PrepareHeartBeat(frame.Slot(), traffic, tps);

    std::unique_lock<std::mutex> lock(m_send_mutex);
    if (m_bev != nullptr && frame.Get() != nullptr && length > 0) {
        bufferevent_write(m_bev.get(), frame.Get(), static_cast<size_t>(length));
        lock.unlock();
        struct timeval tv = HeartbeatPause();
        if (!m_heartbeat_event || evtimer_add(m_heartbeat_event.get(), &tv) != 0) {
            ErrorPrint("Create heartbeat event failed");
            m_heartbeat_event.reset();
        }
        DebugPrint("Send heartbeat success, traffic: %d KB/s, tps: %d/s, interval: %d(s)", traffic, tps,
                   static_cast<int>(interval));
        m_last_heartbeat_time = m_current_time;
        m_recv_bytes = 0;
        m_recv_count = 0;
    } else {
        ErrorPrint("Send heartbeat msg failed");
        lock.unlock();
    }
}

}  // namespace com::mivo::kmr::client
