#include <lz4.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "common/base_log.h"
#include "pipeline/decompress_thread.h"
#include "pipeline/pipeline_tuning.h"
#include "protocol/wire_order.h"

namespace com::mivo::kmr::client {

namespace {

constexpr int16_t kCompressedFlag = 0x4000;

// LZ4 cannot expand data by more than 255 to 1, so a declared size beyond
// this comes from a damaged header and is refused before any allocation.
int64_t MaxDecompressedSize(int64_t compressed_len) {
    return compressed_len * 255 + 64;
}

}  // namespace

void DecompressThread::ProcessRawData(RawData* raw_data) {
    if (raw_data == nullptr || raw_data->m_data == nullptr) {
        return;
    }
    const char* data = raw_data->m_data;
    int32_t len = raw_data->m_data_len;
    if ((raw_data->m_flags & kCompressedFlag) != 0 && !Decompress(*raw_data, data, len)) {
        ErrorPrint("ProcessRawData Decompressed market data failed!");
        return;
    }

    int64_t left = len;
    while (left >= 4) {
        const int32_t record_len = WireOrder::ReadInt32(data);
        if (record_len < 0) {
            ErrorPrint("ProcessRawData Decode market data failed!");
            return;
        }
        if (left < static_cast<int64_t>(record_len) + 4) {
            return;  // cut off: the rest of the payload is ignored
        }
        MarketData* record = NewRecord();
        if (!record->ParseFromArray(data + 4, record_len)) {
            ErrorPrint("ParseFromArray failed!");
            ErrorPrint("ProcessRawData Decode market data failed!");
            ReleaseRecord(record);
            return;
        }
        Route(record);
        Reclaim();
        data += static_cast<int64_t>(record_len) + 4;
        left -= static_cast<int64_t>(record_len) + 4;
    }
}

bool DecompressThread::Decompress(const RawData& raw_data, const char*& data, int32_t& len) {
    if (raw_data.m_data_len < 4) {
        return false;
    }
    const int32_t size = WireOrder::ReadInt32(raw_data.m_data);
    const int32_t compressed_len = raw_data.m_data_len - 4;
    if (size < 0 || size > MaxDecompressedSize(compressed_len)) {
        return false;
    }
    if (static_cast<size_t>(size) > m_decompress_buf.size()) {
        try {
            m_decompress_buf.resize(static_cast<size_t>(size) * 2);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    // The output capacity is exactly the declared size: a block that would
    // produce more, or less, is damaged.
    const int produced =
        LZ4_decompress_safe(raw_data.m_data + 4, m_decompress_buf.data(), compressed_len, size);
    if (produced != size) {
        return false;
    }
    data = m_decompress_buf.data();
    len = size;
    return true;
}

DecompressThread::MarketData* DecompressThread::NewRecord() {
    if (m_spare_records.empty()) {
        return new MarketData();
    }
    MarketData* record = m_spare_records.back();
    m_spare_records.pop_back();
    m_spare_count.store(m_spare_records.size(), std::memory_order_relaxed);
    return record;
}

void DecompressThread::ReleaseRecord(MarketData* record) {
    if (m_spare_records.size() < kMaxSpareRecords && PipelineTuning::RecycleRecords()) {
        record->Clear();
        m_spare_records.push_back(record);
        m_spare_count.store(m_spare_records.size(), std::memory_order_relaxed);
    } else {
        delete record;
    }
}

void DecompressThread::Route(MarketData* record) {
    const auto& threads = m_thread_pool->m_threads;
    if (m_thread_num <= 0 || threads.empty()) {
        if (!m_discard_warned) {
            m_discard_warned = true;
            WarnPrint("No callback thread for market data, records are discarded");
        }
        ReleaseRecord(record);
        return;
    }
    // The magnitude as unsigned keeps the most negative channel (2^63) valid.
    const int64_t channel = record->zelmessagechannel();
    const uint64_t magnitude =
        channel < 0 ? uint64_t{0} - static_cast<uint64_t>(channel) : static_cast<uint64_t>(channel);
    const size_t index = static_cast<size_t>(magnitude % static_cast<uint64_t>(threads.size()));
    CWorkerThread* worker = threads[index].get();
    if (!worker->m_inbound_queue.Put(record)) {
        ErrorPrint("BlockingReaderWriterQueue[%d] is full", worker->m_index);
        delete record;
    }
}

void DecompressThread::Reclaim() {
    const auto& threads = m_thread_pool->m_threads;
    const size_t count = std::min(threads.size(), static_cast<size_t>(m_thread_num > 0 ? m_thread_num : 0));
    for (size_t i = 0; i < count; ++i) {
        MarketData* record = nullptr;
        if (threads[i]->m_return_queue.TryTake(record)) {
            ReleaseRecord(record);
        }
    }
}

}  // namespace com::mivo::kmr::client
