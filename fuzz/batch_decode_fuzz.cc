// A market data batch through the decompression stage (plain or LZ4, split
// into length-prefixed records and handed over), and a record decoded from
// the same bytes the way the callback threads decode it, rendered as the
// JSON the Python callbacks receive.
//
// Input: [flags byte: bit 0 = LZ4][payload].
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_kit.h"
#include "pipeline/decompress_thread.h"
#include "pipeline/record_decoder.h"
#include "pipeline/site_flow.h"
#include "python/j2pb_error.h"
#include "python/json_record_writer.h"

using namespace com::mivo::kmr::client;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel_fuzz::QuietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* flow = new std::shared_ptr<SiteFlow>(std::make_shared<SiteFlow>(1, int64_t{64} << 20));
    // No callback threads: the batches are released at once.
    static auto* stage = new DecompressThread(nullptr, *flow);
    static auto* decoder = new RecordDecoder();
    if (size < 1 || size > (1u << 20)) {
        return 0;
    }
    const char* payload = reinterpret_cast<const char*>(data) + 1;
    const size_t length = size - 1;

    PayloadBuffer* buffer = (*flow)->Acquire(length);
    if (buffer == nullptr) {
        return 0;
    }
    if (length > 0) {
        std::memcpy(buffer->Data(), payload, length);
    }
    RawData raw{};
    raw.m_flags = (data[0] & 1) != 0 ? 0x4000 : 0;
    raw.m_payload = buffer;
    stage->ProcessRawData(&raw);

    // json_writer_fuzz compares this writer with the reference converter.
    if (const auto* record = decoder->Decode(payload, length)) {
        try {
            ZEL_FUZZ_CHECK(!JsonRecordWriter::Write(*record).empty());
        } catch (const j2pb_error&) {
            // A text that is not UTF-8 is reported, not written.
        }
    }
    return 0;
}
