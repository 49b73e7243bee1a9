#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/payload_buffer.h"

namespace com::mivo::kmr::client {

// The records of one frame that go to one callback thread, in stream order:
// where each record's encoding lies in the buffer. The batch holds one
// reference to the buffer until its callback thread has delivered every
// record. Batches travel back to the decompression thread and are reused
// with their slice storage.
struct RecordBatch {
    struct Slice {
        uint32_t offset;
        uint32_t length;
    };
    PayloadBuffer* m_buffer = nullptr;
    std::vector<Slice> m_records;
};

}  // namespace com::mivo::kmr::client
