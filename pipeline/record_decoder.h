#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <google/protobuf/arena.h>

#include "MarketData.pb.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Decodes MarketData records into an arena that reuses one block, so that a
// steady feed allocates nothing per record (a reused heap record would free
// and re-allocate its sub-message and repeated fields each time). One owner
// thread.
class ZEL_API RecordDecoder {
public:
    using MarketData = com::mivo::zel::model::MarketData;

    static constexpr size_t kBlockSize = size_t{64} * 1024;

    RecordDecoder();
    ~RecordDecoder();

    RecordDecoder(const RecordDecoder&) = delete;
    RecordDecoder& operator=(const RecordDecoder&) = delete;

    // The record, valid until the next Decode; null when the bytes do not
    // parse as a MarketData.
    const MarketData* Decode(const char* data, size_t length);

    // ZELMessageChannel of an encoded record without decoding it (the last
    // occurrence wins, as in a full decode); 0 when absent. False when the
    // top-level fields cannot be walked: a full decode would fail too, or
    // decide, so such a record may go to any callback thread.
    static bool PeekChannel(const char* data, size_t length, int64_t* channel);

private:
    std::unique_ptr<char[]> m_block;
    std::unique_ptr<google::protobuf::Arena> m_arena;
};

}  // namespace com::mivo::kmr::client
