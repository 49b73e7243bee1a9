#pragma once

#include "protocol/nuvexia_message_impl.h"

namespace com::mivo::kmr::client {

// Owns a frame that the codec's builders allocate, so that every path out of
// the caller frees it, early returns included.
class FrameBuffer {
public:
    FrameBuffer() = default;
    ~FrameBuffer() { NuvexiaMessage::ReleaseBuffer(m_buf); }

    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    // The slot a builder writes the new frame into (freeing what was there).
    char*& Slot() { return m_buf; }
    const char* Get() const { return m_buf; }

private:
    char* m_buf = nullptr;
};

}  // namespace com::mivo::kmr::client
