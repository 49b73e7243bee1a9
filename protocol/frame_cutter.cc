#include "protocol/frame_cutter.h"

#include <cstring>

#include "protocol/service_contract.h"

namespace com::mivo::kmr::client {

FrameCutter::FrameCutter()
    : FrameCutter(Limits{ServiceContract::MAX_META_LENGTH, ServiceContract::MAX_PAYLOAD_LENGTH}) {}

FrameCutter::FrameCutter(Limits limits) : m_limits(limits) {}

void FrameCutter::MakeRoom(size_t min_bytes) {
    if (m_buffer.size() - m_end >= min_bytes) {
        return;
    }
    // Slide the unread bytes to the front before growing: a steady stream of
    // frames then lives in one buffer of about a frame and a read.
    const size_t kept = m_end - m_begin;
    if (m_begin > 0) {
        if (kept > 0) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_begin, kept);
        }
        m_begin = 0;
        m_end = kept;
    }
    if (m_buffer.size() - m_end < min_bytes) {
        size_t size = m_buffer.empty() ? 4096 : m_buffer.size();
        while (size - m_end < min_bytes) {
            size *= 2;
        }
        m_buffer.resize(size);
    }
}

void FrameCutter::Feed(const char* data, size_t length) {
    if (length == 0) {
        return;
    }
    MakeRoom(length);
    std::memcpy(m_buffer.data() + m_end, data, length);
    m_end += length;
}

char* FrameCutter::Reserve(size_t min_bytes, size_t* room) {
    MakeRoom(min_bytes == 0 ? 1 : min_bytes);
    if (room != nullptr) {
        *room = m_buffer.size() - m_end;
    }
    return m_buffer.data() + m_end;
}

void FrameCutter::Commit(size_t length) {
    const size_t room = m_buffer.size() - m_end;
    m_end += length < room ? length : room;
}

bool FrameCutter::PeekHeader(MessageHeader& header) const {
    if (Buffered() < static_cast<size_t>(MessageHeader::SIZE)) {
        return false;
    }
    header.ReadFrom(m_buffer.data() + m_begin);
    return true;
}

FrameCutter::Result FrameCutter::Take(FrameView& frame) {
    if (m_poisoned) {
        return Result::BAD_LENGTH;
    }
    MessageHeader header;
    if (!PeekHeader(header)) {
        return Result::NEED_MORE;
    }
    // Compared unsigned: a negative length is as bad as a huge one.
    if (static_cast<uint32_t>(header.m_metaLength) > static_cast<uint32_t>(m_limits.max_meta_length) ||
        static_cast<uint32_t>(header.m_payloadLength) > static_cast<uint32_t>(m_limits.max_payload_length)) {
        m_poisoned = true;
        return Result::BAD_LENGTH;
    }
    const size_t meta_length = static_cast<size_t>(header.m_metaLength);
    const size_t payload_length = static_cast<size_t>(header.m_payloadLength);
    const size_t frame_length = MessageHeader::SIZE + meta_length + payload_length;
    if (Buffered() < frame_length) {
        return Result::NEED_MORE;
    }
    const char* start = m_buffer.data() + m_begin;
    frame.header = header;
    frame.meta = start + MessageHeader::SIZE;
    frame.meta_length = meta_length;
    frame.payload = frame.meta + meta_length;
    frame.payload_length = payload_length;
    frame.frame_length = frame_length;
    m_begin += frame_length;
    return Result::FRAME;
}

void FrameCutter::Reset() {
    m_begin = 0;
    m_end = 0;
    m_poisoned = false;
}

void FrameCutter::Release() {
    Reset();
    std::vector<char>().swap(m_buffer);
}

}  // namespace com::mivo::kmr::client
