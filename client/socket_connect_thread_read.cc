// The frame reader: cuts the input into frames, checks their meta records and
// dispatches them; market data goes to the site's raw data queue.
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/bufferevent_ssl.h>
#include <event2/util.h>
#include <google/protobuf/util/json_util.h>
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
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"
#include "protocol/wire_order.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::ESysMessageType;
using com::mivo::zel::model::LoginResponse;
using com::mivo::zel::model::MetaData;
using com::mivo::zel::model::SubscribeResponse;

namespace {

constexpr size_t kHeaderLength = ServiceContract::HEADER_LENGTH;

std::string ToJson(const google::protobuf::Message& message) {
    std::string json;
    (void)google::protobuf::util::MessageToJsonString(message, &json);
    return json;
}

// The counters only feed the heartbeat's rates; a long outage must not wrap them negative.
void AddSaturating(int32_t& counter, int64_t amount) {
    int64_t sum = static_cast<int64_t>(counter) + amount;
    counter = sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
}

// Copies length bytes that start offset bytes into the input, straight from
// libevent's chunks into dst. Plain memcpy: on the machines measured (see the
// transport benchmark) glibc's copy stays fast whatever the distance between
// source and destination, faster than any hand-made block loop.
bool CopyPayloadOut(struct evbuffer* input, size_t offset, char* dst, size_t length) {
    if (length == 0) {
        return true;
    }
    struct evbuffer_ptr start;
    if (evbuffer_ptr_set(input, &start, offset, EVBUFFER_PTR_SET) != 0) {
        return false;
    }
    struct evbuffer_iovec vecs[16];
    size_t copied = 0;
    while (copied < length) {
        int n = evbuffer_peek(input, static_cast<ev_ssize_t>(length - copied), &start, vecs, 16);
        if (n <= 0) {
            return false;
        }
        int used = n < 16 ? n : 16;
        for (int i = 0; i < used && copied < length; ++i) {
            size_t part = vecs[i].iov_len < length - copied ? vecs[i].iov_len : length - copied;
            std::memcpy(dst + copied, vecs[i].iov_base, part);
            copied += part;
        }
        if (copied < length && evbuffer_ptr_set(input, &start, offset + copied, EVBUFFER_PTR_SET) != 0) {
            return false;
        }
    }
    return true;
}

// libevent 2.1 reads a socket 4 KiB at a time, each read costing a poll, a
// size query and the read itself: a busy plain socket is read on here in
// large pieces straight into the input buffer (no extra copy). The
// bufferevent still sees end of stream and errors itself on its next read.
// TLS sockets are left to their own layer.
//
// Returns the error number of a failed read (0 otherwise): the read consumed
// the socket's error, so the caller reports it as libevent would have.
int PullFromSocket(struct bufferevent* bev, struct evbuffer* input) {
    constexpr size_t kPiece = 256 * 1024;
    constexpr int kMaxPieces = 4;
    if (bufferevent_openssl_get_ssl(bev) != nullptr) {
        return 0;
    }
    evutil_socket_t fd = bufferevent_getfd(bev);
    if (fd < 0) {
        return 0;
    }
    int error = 0;
    // The bufferevent keeps the end of its input frozen except while it reads.
    evbuffer_unfreeze(input, 0);
    for (int piece = 0; piece < kMaxPieces; ++piece) {
        struct evbuffer_iovec vec[2];
        int n = evbuffer_reserve_space(input, kPiece, vec, 2);
        if (n <= 0) {
            break;
        }
        size_t got_total = 0;
        int used = 0;
        bool drained = false;
        for (int i = 0; i < n; ++i) {
            ssize_t got = ::recv(fd, vec[i].iov_base, vec[i].iov_len, 0);
            if (got < 0) {
                int err = EVUTIL_SOCKET_ERROR();
                if (err != EAGAIN && err != EWOULDBLOCK && err != EINTR) {
                    error = err;
                }
            }
            if (got <= 0) {
                drained = true;
                break;
            }
            got_total += static_cast<size_t>(got);
            used = i + 1;
            if (static_cast<size_t>(got) < vec[i].iov_len) {
                vec[i].iov_len = static_cast<size_t>(got);
                drained = true;
                break;
            }
        }
        evbuffer_commit_space(input, vec, used);
        if (drained || got_total < kPiece) {
            break;
        }
    }
    evbuffer_freeze(input, 0);
    return error;
}

int32_t ResponseBodyLength(const char* payload, int32_t payload_length) {
    return payload_length >= ServiceContract::PAYLOAD_PREFIX_LENGTH ? WireOrder::ReadInt32(payload) : 0;
}

}  // namespace

void SocketConnectThread::ReadCallback(struct bufferevent* bev, void* context) {
    auto* self = static_cast<SocketConnectThread*>(context);
    struct evbuffer* input = bufferevent_get_input(bev);
    if (int error = PullFromSocket(bev, input)) {
        errno = error;
        EventCallback(bev, BEV_EVENT_READING | BEV_EVENT_ERROR, context);
        return;
    }
    size_t available = evbuffer_get_length(input);
    if (available <= kHeaderLength) {
        return;
    }
    MetaData meta;
    while (true) {
        char* header_buf = self->m_header_buf.data();
        if (evbuffer_copyout(input, header_buf, kHeaderLength) < static_cast<ev_ssize_t>(kHeaderLength)) {
            DebugPrint("Data in buff not enough for msg header");
            return;
        }
        MessageHeader header;
        NuvexiaMessage::DecodeMsgHeader(header_buf, header);
        if (!ServiceContract::IsFrameLengthAcceptable(header.m_metaLength, header.m_payloadLength)) {
            ErrorPrint("msg parse fail,Message length is abnormal");
            self->FailReader();
            return;
        }
        const size_t meta_length = static_cast<size_t>(header.m_metaLength);
        const int32_t payload_length = header.m_payloadLength;
        const size_t head_length = kHeaderLength + meta_length;
        const size_t frame_length = head_length + static_cast<size_t>(payload_length);
        if (frame_length > available) {
            return;
        }
        // Header and meta record first: market data payloads are copied
        // straight from the input into their own array, never through here.
        if (self->m_frame_buf.size() < frame_length) {
            self->m_frame_buf.resize(frame_length);
        }
        char* frame = self->m_frame_buf.data();
        if (evbuffer_copyout(input, frame, head_length) < static_cast<ev_ssize_t>(head_length)) {
            self->FailShortCopy();
            return;
        }
        if (NuvexiaMessage::DecodeMsgMeatData(frame + kHeaderLength, static_cast<int>(meta_length), meta) !=
                0 ||
            !ServiceContract::IsTraceIdAccepted(meta.traceid(), self->m_trace_id)) {
            ErrorPrint("Read datafeed response meta data failed!");
            self->FailReader();
            return;
        }

        const int type = static_cast<int>(meta.sysmessagetype());
        bool keep_reading = true;
        if (ServiceContract::IsMarketDataType(type)) {
            keep_reading = self->HandleMarketData(header.m_flags, meta, input, head_length, payload_length);
        } else {
            char* payload = frame + head_length;
            if (!CopyPayloadOut(input, head_length, payload, static_cast<size_t>(payload_length))) {
                self->FailShortCopy();
                return;
            }
            switch (type) {
                case com::mivo::zel::model::HEARTBEAT_RESPONSE:
                    DebugPrint("Receive heatbeat from :%s", self->getCurrentHostStr().c_str());
                    self->m_heartbeat_count = 0;
                    break;
                case com::mivo::zel::model::LOGIN_RESPONSE:
                    keep_reading = self->HandleLoginResponse(payload, payload_length);
                    break;
                case com::mivo::zel::model::SUBSCRIBE_RESPONSE:
                    keep_reading = self->HandleSubscribeResponse(payload, payload_length);
                    break;
                default:
                    DebugPrint("Receive not known zelsysmessagetype: %d, channelNo: %d, channelIdx: %d, ",
                               type, meta.channelno(), static_cast<int>(meta.channelindex()));
                    break;
            }
        }
        if (!keep_reading || self->m_bev != bev) {
            // The socket was closed or replaced: its bytes go with it.
            return;
        }
        evbuffer_drain(input, frame_length);
        available -= frame_length;
        if (available <= kHeaderLength) {
            return;
        }
    }
}

void SocketConnectThread::FailShortCopy() {
    ErrorPrint("Read data failed");
    LoseLink();
    DoCloseSocket();
    if (m_message_handle != nullptr) {
        m_message_handle->OnLoginDatafeedNodeFailed(static_cast<int>(m_site_type), getCurrentHostStr());
    }
    SetLoginState(CONNECT_STATE_FAILED);
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

bool SocketConnectThread::HandleMarketData(int16_t flags, const MetaData& meta, struct evbuffer* input,
                                           size_t payload_offset, int32_t payload_length) {
    AddSaturating(m_recv_count, 1);
    AddSaturating(m_recv_bytes, payload_length);
    RawData* slot = AllocRawSlot();
    if (slot == nullptr) {
        // Only when the connection is being stopped.
        return false;
    }
    char* data = new char[static_cast<size_t>(payload_length)];
    if (!CopyPayloadOut(input, payload_offset, data, static_cast<size_t>(payload_length))) {
        delete[] data;
        FailShortCopy();
        return false;
    }
    slot->m_flags = flags;
    slot->m_channel_no = meta.channelno();
    slot->m_channel_index = meta.channelindex();
    slot->m_data_type = meta.zeldatatype();
    slot->m_data_len = payload_length;
    slot->m_msg_num = meta.zelsysmessagenum();
    slot->m_data = data;
    m_raw_data_queue->push();
    ReleaseReturnedBuffers(1);
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
        ReleaseReturnedBuffers(64);
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

void SocketConnectThread::ReleaseReturnedBuffers(int max_count) {
    if (!m_raw_data_queue_back) {
        return;
    }
    for (int i = 0; i < max_count; ++i) {
        char** entry = m_raw_data_queue_back->front();
        if (entry == nullptr) {
            return;
        }
        // A null entry is taken off as well: left in place it would block
        // every buffer behind it.
        delete[] * entry;
        *entry = nullptr;
        m_raw_data_queue_back->pop();
    }
}

bool SocketConnectThread::HandleLoginResponse(const char* payload, int32_t payload_length) {
    DebugPrint("Datafeed login response body len: %d", ResponseBodyLength(payload, payload_length));
    LoginResponse response;
    if (NuvexiaMessage::DecodeResponsePayload(payload, payload_length, response) != 0) {
        ErrorPrint("Decode datafeed login response body failed! Try to relogin");
        DoReConnnect();
        return false;
    }
    InfoPrint("Datafeed login response: %s", ToJson(response).c_str());
    const int site = static_cast<int>(m_site_type);
    if (response.issuccess()) {
        InfoPrint("Login datafeed node success, site type: %d", site);
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
    InfoPrint("Datafeed subscribe rsp: %s", ToJson(m_subscribe_rsp).c_str());
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
