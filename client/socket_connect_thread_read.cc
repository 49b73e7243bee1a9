// The frame reader: cuts the input into frames, checks their meta records and
// dispatches them; market data goes to the site's raw data queue, as long as
// the site's flow admits it.
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/bufferevent_ssl.h>
#include <event2/event.h>
#include <event2/util.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "MetaData.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"
#include "client/socket_connect_thread.h"
#include "common/base_log.h"
#include "pipeline/decompress_thread.h"
#include "protocol/logged_message.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"
#include "protocol/wire_order.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::ESysMessageType;
using com::mivo::zel::model::LoginResponse;
using com::mivo::zel::model::MetaData;
using com::mivo::zel::model::SubscribeResponse;

namespace {

// The counters only feed the heartbeat's rates; a long outage must not wrap them negative.
void AddSaturating(int32_t& counter, int64_t amount) {
    int64_t sum = static_cast<int64_t>(counter) + amount;
    counter = sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
}

int32_t ResponseBodyLength(const char* payload, int32_t payload_length) {
    return payload_length >= ServiceContract::PAYLOAD_PREFIX_LENGTH ? WireOrder::ReadInt32(payload) : 0;
}

}  // namespace

// libevent 2.1 reads a socket 4 KiB at a time, each read costing a poll, a
// size query and the read itself: a busy plain socket is read on here in
// large pieces straight into the cutter (no extra copy). The bufferevent
// still sees end of stream and errors itself on its next read. TLS sockets
// are left to their own layer.
int SocketConnectThread::PullInput(struct bufferevent* bev) {
    constexpr size_t kPiece = size_t{256} * 1024;
    constexpr int kMaxPieces = 4;
    struct evbuffer* input = bufferevent_get_input(bev);
    const size_t pending = evbuffer_get_length(input);
    if (pending > 0) {
        size_t room = 0;
        char* at = m_cutter.Reserve(pending, &room);
        const int moved = evbuffer_remove(input, at, pending);
        m_cutter.Commit(moved > 0 ? static_cast<size_t>(moved) : 0);
    }
    if (bufferevent_openssl_get_ssl(bev) != nullptr) {
        return 0;
    }
    evutil_socket_t fd = bufferevent_getfd(bev);
    if (fd < 0) {
        return 0;
    }
    for (int piece = 0; piece < kMaxPieces; ++piece) {
        size_t room = 0;
        char* at = m_cutter.Reserve(kPiece, &room);
        ssize_t got = ::recv(fd, at, room, 0);
        if (got < 0) {
            int err = EVUTIL_SOCKET_ERROR();
            return err != EAGAIN && err != EWOULDBLOCK && err != EINTR ? err : 0;
        }
        if (got == 0) {
            return 0;
        }
        m_cutter.Commit(static_cast<size_t>(got));
        if (static_cast<size_t>(got) < room) {
            return 0;
        }
    }
    return 0;
}

void SocketConnectThread::ReadCallback(struct bufferevent* bev, void* context) {
    auto* self = static_cast<SocketConnectThread*>(context);
    if (self->m_flow->IsHeldBack()) {
        // Reading was switched off; what is left in flight waits in libevent.
        return;
    }
    if (int error = self->PullInput(bev)) {
        errno = error;
        EventCallback(bev, BEV_EVENT_READING | BEV_EVENT_ERROR, context);
        return;
    }
    self->CutFrames(bev);
}

void SocketConnectThread::CutFrames(struct bufferevent* bev) {
    while (m_bev.get() == bev && bev != nullptr) {
        if (!m_flow->MayAdmit() && HoldBackReader()) {
            return;
        }
        FrameView frame;
        switch (m_cutter.Take(frame)) {
            case FrameCutter::Result::NEED_MORE:
                return;
            case FrameCutter::Result::BAD_LENGTH:
                ErrorPrint("msg parse fail,Message length is abnormal");
                FailReader();
                return;
            case FrameCutter::Result::FRAME:
                break;
        }
        if (!DispatchFrame(frame)) {
            return;
        }
    }
}

bool SocketConnectThread::DispatchFrame(const FrameView& frame) {
    SiteCounters& counters = m_flow->Counters();
    SiteCounters::Add(counters.frames, 1);
    SiteCounters::Add(counters.wire_bytes, frame.frame_length);
    counters.last_frame_ns.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count(),
                                 std::memory_order_relaxed);
    // One meta record reused for every frame: its strings keep their storage.
    MetaData& meta = m_frame_meta;
    if (NuvexiaMessage::DecodeMsgMeatData(frame.meta, static_cast<int>(frame.meta_length), meta) != 0 ||
        !ServiceContract::IsTraceIdAccepted(meta.traceid(), m_trace_id)) {
        ErrorPrint("Read datafeed response meta data failed!");
        FailReader();
        return false;
    }
    const int type = static_cast<int>(meta.sysmessagetype());
    const int32_t payload_length = static_cast<int32_t>(frame.payload_length);
    if (ServiceContract::IsMarketDataType(type)) {
        return HandleMarketData(frame.header.m_flags, meta, frame.payload, payload_length);
    }
    switch (type) {
        case com::mivo::zel::model::HEARTBEAT_RESPONSE:
            DebugPrint("Receive heatbeat from :%s", getCurrentHostStr().c_str());
            m_heartbeat_count = 0;
            m_flow->Counters().last_heartbeat_answer_ns.store(
                std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count(),
                std::memory_order_relaxed);
            return true;
        case com::mivo::zel::model::LOGIN_RESPONSE:
            return HandleLoginResponse(frame.payload, payload_length);
        case com::mivo::zel::model::SUBSCRIBE_RESPONSE:
            return HandleSubscribeResponse(frame.payload, payload_length);
        default:
            DebugPrint("Receive not known zelsysmessagetype: %d, channelNo: %d, channelIdx: %d, ", type,
                       meta.channelno(), static_cast<int>(meta.channelindex()));
            return true;
    }
}

void SocketConnectThread::FailReader() {
    m_heartbeat_count = 0;
    LoseLink();
    FreeSocket();
    if (m_message_handle != nullptr) {
        m_message_handle->OnLoginDatafeedNodeFailed(static_cast<int>(m_site_type), getCurrentHostStr());
    }
    SetLoginState(CONNECT_STATE_FAILED);
}

bool SocketConnectThread::HoldBackReader() {
    if (!m_flow->HoldBack()) {
        return false;
    }
    m_held_since_heartbeat = true;
    if (m_bev != nullptr) {
        bufferevent_disable(m_bev.get(), EV_READ);
    }
    InfoPrint(
        "Site type %d holds %lld bytes of market data, budget %lld: reading paused until callbacks catch "
        "up",
        static_cast<int>(m_site_type), static_cast<long long>(m_flow->HeldBytes()),
        static_cast<long long>(m_flow->Budget()));
    return true;
}

// Any pipeline thread, once the held bytes have dropped to half the budget.
void SocketConnectThread::WakeReader(void* context) {
    auto* self = static_cast<SocketConnectThread*>(context);
    event_active(self->m_resume_event.get(), EV_READ, 0);
}

void SocketConnectThread::ResumeCallback(int fd, short events, void* context) {
    (void)fd;
    (void)events;
    static_cast<SocketConnectThread*>(context)->ResumeReader();
}

void SocketConnectThread::ResumeReader() {
    const auto held_for = m_flow->Resumed();
    InfoPrint("Site type %d reading resumed after %lld ms held back, %lld bytes of market data held now",
              static_cast<int>(m_site_type),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(held_for).count()),
              static_cast<long long>(m_flow->HeldBytes()));
    if (m_bev == nullptr) {
        return;
    }
    bufferevent_enable(m_bev.get(), EV_READ);
    // Frames already read go first, then what waits in libevent and the
    // socket: no new bytes may arrive to call the reader again.
    ReadCallback(m_bev.get(), this);
}

bool SocketConnectThread::TakeReaderHeldBack() {
    const bool held = m_held_since_heartbeat || m_flow->IsHeldBack();
    m_held_since_heartbeat = m_flow->IsHeldBack();
    return held;
}

bool SocketConnectThread::HandleMarketData(int16_t flags, const MetaData& meta, const char* payload,
                                           int32_t payload_length) {
    AddSaturating(m_recv_count, 1);
    AddSaturating(m_recv_bytes, payload_length);
    RawData* slot = AllocRawSlot();
    if (slot == nullptr) {
        // Only when the connection is being stopped.
        return false;
    }
    PayloadBuffer* buffer = m_flow->Acquire(static_cast<size_t>(payload_length));
    if (buffer == nullptr) {
        ErrorPrint("No memory for a market data frame of %d bytes", payload_length);
        FailReader();
        return false;
    }
    std::memcpy(buffer->Data(), payload, static_cast<size_t>(payload_length));
    slot->m_flags = flags;
    slot->m_channel_no = meta.channelno();
    slot->m_channel_index = meta.channelindex();
    slot->m_data_type = meta.zeldatatype();
    slot->m_msg_num = meta.zelsysmessagenum();
    slot->m_payload = buffer;
    DecompressThread::SetMoreInputWaiting(m_cutter.Buffered() > 0);
    m_raw_data_queue->push();
    return true;
}

RawData* SocketConnectThread::AllocRawSlot() {
    RawData* slot = m_raw_data_queue->alloc();
    if (slot != nullptr) {
        return slot;
    }
    // The decompression stage is behind. Nothing is dropped: wait for a free
    // slot, but say so once and then at most once a second.
    ErrorPrint("RawDataQueue alloc failed");
    auto last_line = std::chrono::steady_clock::now();
    uint64_t retries = 0;
    while ((slot = m_raw_data_queue->alloc()) == nullptr) {
        if (m_stopping) {
            return nullptr;
        }
        ++retries;
        if (retries < 256) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        auto now = std::chrono::steady_clock::now();
        if (now - last_line >= std::chrono::seconds(1)) {
            ErrorPrint("RawDataQueue alloc failed, still full after %llu retries, site type: %d",
                       static_cast<unsigned long long>(retries), static_cast<int>(m_site_type));
            last_line = now;
        }
    }
    return slot;
}

bool SocketConnectThread::HandleLoginResponse(const char* payload, int32_t payload_length) {
    DebugPrint("Datafeed login response body len: %d", ResponseBodyLength(payload, payload_length));
    LoginResponse response;
    if (NuvexiaMessage::DecodeResponsePayload(payload, payload_length, response) != 0) {
        ErrorPrint("Decode datafeed login response body failed! Try to relogin");
        DoReConnnect();
        return false;
    }
    InfoPrint("Datafeed login response: %s", LoggedMessage::LoginResponseJson(response).c_str());
    const int site = static_cast<int>(m_site_type);
    if (response.issuccess()) {
        InfoPrint("Login datafeed node success, site type: %d", site);
        // Every login after the site's first one follows a lost or replaced link.
        SiteCounters& counters = m_flow->Counters();
        if (counters.logins.fetch_add(1, std::memory_order_relaxed) > 0) {
            SiteCounters::Add(counters.reconnects, 1);
        }
        if (m_message_handle != nullptr) {
            m_message_handle->OnLoginDatafeedNodeSuccess(site, getCurrentHostStr());
            m_message_handle->OnLoginDataServiceResponse(response);
        }
        SetLoginState(CONNECT_STATE_SUCCESS);
        (void)StartHeartbeat();
        return true;
    }
    ErrorPrint("Login datafeed node failed, site type: %d", site);
    ErrorPrint("Datafeed node %s refused the login: error code %d, %s", getCurrentHostStr().c_str(),
               response.errorcontext().errorcode(), response.errorcontext().message().c_str());
    if (m_message_handle != nullptr) {
        m_message_handle->OnLoginDatafeedNodeFailed(site, getCurrentHostStr());
    }
    DoReConnnect();
    return false;
}

bool SocketConnectThread::HandleSubscribeResponse(const char* payload, int32_t payload_length) {
    DebugPrint("Datafeed subscribe response body len: %d", ResponseBodyLength(payload, payload_length));
    if (NuvexiaMessage::DecodeResponsePayload(payload, payload_length, m_subscribe_rsp) != 0) {
        ErrorPrint("Decode datafeed subscribe response body failed! Try to resubscribe");
        LoseLink();
        DoCloseSocket();
        SetSubscribeState(CONNECT_STATE_FAILED);
        return false;
    }
    InfoPrint("Datafeed subscribe rsp: %s", LoggedMessage::Json(m_subscribe_rsp).c_str());
    if (m_subscribe_rsp.issuccess()) {
        SetSubscribeState(CONNECT_STATE_SUCCESS);
        InfoPrint("Receive subscribe response, subscribe success");
        return true;
    }
    // A refusal is final and costs only this request: the link and the
    // subscriptions already on it stay.
    ErrorPrint("Receive subscribe response, subscribe failed");
    ErrorPrint("Datafeed node %s refused the subscription: error code %d, %s", getCurrentHostStr().c_str(),
               m_subscribe_rsp.errorcontext().errorcode(), m_subscribe_rsp.errorcontext().message().c_str());
    m_subscribe_refused = true;
    SetSubscribeState(m_subscribe_state_before.load());
    return true;
}

}  // namespace com::mivo::kmr::client
