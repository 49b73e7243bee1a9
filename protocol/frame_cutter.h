#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/zel_export.h"
#include "protocol/message_header.h"

namespace com::mivo::kmr::client {

// One complete frame cut from a byte stream. The pointers address the
// cutter's own buffer: they stay valid until the next call that adds bytes
// (Feed, Reserve) or Reset. Taking further frames leaves them valid.
struct FrameView {
    MessageHeader header;
    const char* meta = nullptr;
    size_t meta_length = 0;
    const char* payload = nullptr;
    size_t payload_length = 0;
    // Header, meta record and payload together: the bytes this frame took from the stream.
    size_t frame_length = 0;
};

// Cuts a byte stream into frames of [12-byte header][meta record][payload].
// Socket-free and incremental: feed the bytes as they arrive, in pieces of
// any size, and take complete frames one at a time. Lengths over the limits
// (or negative) poison the stream: Take answers BAD_LENGTH until Reset,
// because nothing after a damaged header can be trusted to be a frame start.
class ZEL_API FrameCutter {
public:
    enum class Result {
        NEED_MORE,   // no complete frame buffered yet
        FRAME,       // frame filled in
        BAD_LENGTH,  // a header's meta or payload length is out of bounds
    };

    struct Limits {
        int32_t max_meta_length;
        int32_t max_payload_length;
    };

    // The service's frame limits.
    FrameCutter();
    explicit FrameCutter(Limits limits);

    FrameCutter(const FrameCutter&) = delete;
    FrameCutter& operator=(const FrameCutter&) = delete;

    // Appends bytes to the stream.
    void Feed(const char* data, size_t length);

    // Room for at least min_bytes at the end of the stream, for a reader that
    // writes in place (recv); *room receives the usable size. Commit then
    // says how many bytes were written there.
    char* Reserve(size_t min_bytes, size_t* room);
    void Commit(size_t length);

    Result Take(FrameView& frame);

    // The header of the next frame once its 12 bytes are buffered (its
    // lengths unchecked); false while fewer bytes are there.
    bool PeekHeader(MessageHeader& header) const;

    // Bytes fed and not yet taken as frames.
    size_t Buffered() const { return m_end - m_begin; }
    bool IsPoisoned() const { return m_poisoned; }
    const Limits& GetLimits() const { return m_limits; }

    // Forgets every buffered byte and the poisoned state; keeps the memory.
    void Reset();
    // Forgets the bytes and returns the memory (a lost link's buffer may be large).
    void Release();

private:
    void MakeRoom(size_t min_bytes);

    Limits m_limits;
    std::vector<char> m_buffer;
    size_t m_begin = 0;  // first byte not yet taken
    size_t m_end = 0;    // one past the last byte fed
    bool m_poisoned = false;
};

}  // namespace com::mivo::kmr::client
