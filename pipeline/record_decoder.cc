#include "pipeline/record_decoder.h"

namespace com::mivo::kmr::client {

namespace {

constexpr uint32_t kChannelField = 1;

bool ReadVarint(const uint8_t*& at, const uint8_t* end, uint64_t* value) {
    uint64_t result = 0;
    for (int shift = 0; shift < 64 && at < end; shift += 7) {
        const uint8_t byte = *at++;
        result |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) {
            *value = result;
            return true;
        }
    }
    return false;
}

bool Skip(const uint8_t*& at, const uint8_t* end, uint64_t count) {
    if (count > static_cast<uint64_t>(end - at)) {
        return false;
    }
    at += count;
    return true;
}

}  // namespace

RecordDecoder::RecordDecoder() : m_block(new char[kBlockSize]) {
    google::protobuf::ArenaOptions options;
    options.initial_block = m_block.get();
    options.initial_block_size = kBlockSize;
    m_arena = std::make_unique<google::protobuf::Arena>(options);
}

// The arena goes before the block it lives in.
RecordDecoder::~RecordDecoder() {
    m_arena.reset();
}

const RecordDecoder::MarketData* RecordDecoder::Decode(const char* data, size_t length) {
    // Reset keeps the initial block; only a record larger than it costs
    // extra blocks, given back here at the next record.
    m_arena->Reset();
    MarketData* record = google::protobuf::Arena::CreateMessage<MarketData>(m_arena.get());
    if (length > static_cast<size_t>(INT32_MAX) || !record->ParseFromArray(data, static_cast<int>(length))) {
        return nullptr;
    }
    return record;
}

bool RecordDecoder::PeekChannel(const char* data, size_t length, int64_t* channel) {
    const uint8_t* at = reinterpret_cast<const uint8_t*>(data);
    const uint8_t* end = at + length;
    int64_t found = 0;
    while (at < end) {
        uint64_t tag = 0;
        if (!ReadVarint(at, end, &tag)) {
            return false;
        }
        uint64_t value = 0;
        switch (tag & 7) {
            case 0:
                if (!ReadVarint(at, end, &value)) {
                    return false;
                }
                if ((tag >> 3) == kChannelField) {
                    found = static_cast<int64_t>(value);
                }
                break;
            case 1:
                if (!Skip(at, end, 8)) {
                    return false;
                }
                break;
            case 2:
                if (!ReadVarint(at, end, &value) || !Skip(at, end, value)) {
                    return false;
                }
                break;
            case 5:
                if (!Skip(at, end, 4)) {
                    return false;
                }
                break;
            default:
                return false;
        }
    }
    *channel = found;
    return true;
}

}  // namespace com::mivo::kmr::client
