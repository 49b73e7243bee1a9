#include <lz4.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "common/base_log.h"
#include "pipeline/decompress_thread.h"
#include "pipeline/record_decoder.h"
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
    if (raw_data == nullptr || raw_data->m_payload == nullptr) {
        return;
    }
    PayloadBuffer* buffer = raw_data->m_payload;
    raw_data->m_payload = nullptr;
    if ((raw_data->m_flags & kCompressedFlag) != 0) {
        WaitForBudget();
        PayloadBuffer* plain = Decompress(*buffer);
        buffer->Unref();
        if (plain == nullptr) {
            ErrorPrint("ProcessRawData Decompressed market data failed!");
            if (m_flow) {
                SiteCounters::Add(m_flow->Counters().decode_errors, 1);
            }
            return;
        }
        buffer = plain;
        if (m_flow) {
            SiteCounters::Add(m_flow->Counters().decompressed_bytes, buffer->m_length);
        }
    }
    Split(buffer);
    Reclaim();
}

// A decompressed frame is several times its wire size. Frames admitted by
// the reader before it was held back would otherwise all grow here at once:
// while the site is over budget and its callback threads still hold records
// (which they will give back), the next frame waits. With nothing held
// downstream it goes ahead, so a budget smaller than one frame still moves.
void DecompressThread::WaitForBudget() {
    if (!m_flow || m_inline) {
        return;
    }
    const SiteCounters& counters = m_flow->Counters();
    while (!m_flow->MayAdmit() && counters.queued_records.load(std::memory_order_relaxed) > 0 &&
           !m_stop.load(std::memory_order_acquire)) {
        Reclaim();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

PayloadBuffer* DecompressThread::Decompress(const PayloadBuffer& payload) {
    if (payload.m_length < 4 || !m_flow) {
        return nullptr;
    }
    const int32_t size = WireOrder::ReadInt32(payload.Data());
    const int64_t compressed_len = static_cast<int64_t>(payload.m_length) - 4;
    if (size < 0 || size > MaxDecompressedSize(compressed_len) || compressed_len > INT32_MAX) {
        return nullptr;
    }
    PayloadBuffer* plain = m_flow->Acquire(static_cast<size_t>(size));
    if (plain == nullptr) {
        return nullptr;
    }
    // The output capacity is exactly the declared size: a block that would
    // produce more, or less, is damaged.
    const int produced =
        LZ4_decompress_safe(payload.Data() + 4, plain->Data(), static_cast<int>(compressed_len), size);
    if (produced != size) {
        plain->Unref();
        return nullptr;
    }
    return plain;
}

void DecompressThread::Split(PayloadBuffer* buffer) {
    if (m_pending.size() != m_thread_pool->m_threads.size()) {
        m_pending.assign(m_thread_pool->m_threads.size(), nullptr);
    }
    const char* data = buffer->Data();
    const size_t length = buffer->m_length;
    size_t at = 0;
    size_t records = 0;
    size_t discarded = 0;
    while (length - at >= 4) {
        const int32_t record_len = WireOrder::ReadInt32(data + at);
        if (record_len < 0) {
            LogFrameDamage("a negative record length", at, length);
            break;
        }
        if (length - at - 4 < static_cast<size_t>(record_len)) {
            LogFrameDamage("a record cut off", at, length);
            break;
        }
        const char* record = data + at + 4;
        const size_t index = WorkerIndex(record, static_cast<size_t>(record_len));
        if (index < m_pending.size()) {
            RecordBatch*& batch = m_pending[index];
            if (batch == nullptr) {
                batch = TakeBatch();
            }
            batch->m_records.push_back({static_cast<uint32_t>(at + 4), static_cast<uint32_t>(record_len)});
        } else {
            ++discarded;
        }
        ++records;
        at += static_cast<size_t>(record_len) + 4;
    }
    if (at < length && length - at < 4) {
        LogFrameDamage("trailing bytes", at, length);
    }
    if (m_flow) {
        SiteCounters::Add(m_flow->Counters().records, records);
        SiteCounters::Add(m_flow->Counters().discarded_records, discarded);
    }
    HandOver(buffer);
}

size_t DecompressThread::WorkerIndex(const char* record, size_t length) const {
    const auto& threads = m_thread_pool->m_threads;
    if (m_thread_num <= 0 || threads.empty()) {
        return SIZE_MAX;
    }
    int64_t channel = 0;
    if (!RecordDecoder::PeekChannel(record, length, &channel)) {
        channel = 0;  // it will not decode: any thread may count it
    }
    // The magnitude as unsigned keeps the most negative channel (2^63) valid.
    const uint64_t magnitude =
        channel < 0 ? uint64_t{0} - static_cast<uint64_t>(channel) : static_cast<uint64_t>(channel);
    return static_cast<size_t>(magnitude % static_cast<uint64_t>(threads.size()));
}

// One reference per batch goes with it; the frame's own reference ends here.
void DecompressThread::HandOver(PayloadBuffer* buffer) {
    const auto& threads = m_thread_pool->m_threads;
    if (threads.empty() && !m_discard_warned && buffer->m_length > 0) {
        m_discard_warned = true;
        WarnPrint("No callback thread for market data, records are discarded");
    }
    for (size_t i = 0; i < m_pending.size(); ++i) {
        RecordBatch* batch = m_pending[i];
        if (batch == nullptr) {
            continue;
        }
        m_pending[i] = nullptr;
        buffer->AddRefs(1);
        batch->m_buffer = buffer;
        const auto count = static_cast<int64_t>(batch->m_records.size());
        if (m_flow) {
            m_flow->Counters().queued_records.fetch_add(count, std::memory_order_relaxed);
        }
        if (m_flow) {
            SiteCounters::Add(m_flow->Counters().handed_batches, 1);
        }
        if (!threads[i]->m_inbound_queue.Put(batch)) {
            ErrorPrint("BlockingReaderWriterQueue[%d] is full", threads[i]->m_index);
            if (m_flow) {
                m_flow->Counters().queued_records.fetch_sub(count, std::memory_order_relaxed);
            }
            CWorkerThread::DiscardBatch(batch);
        }
    }
    buffer->Unref();
}

RecordBatch* DecompressThread::TakeBatch() {
    if (m_spare_batches.empty()) {
        return new RecordBatch();
    }
    RecordBatch* batch = m_spare_batches.back();
    m_spare_batches.pop_back();
    m_spare_count.store(m_spare_batches.size(), std::memory_order_relaxed);
    batch->m_records.clear();
    return batch;
}

void DecompressThread::Reclaim() {
    const auto& threads = m_thread_pool->m_threads;
    for (const auto& worker : threads) {
        RecordBatch* batch = nullptr;
        while (worker->m_return_queue.TryTake(batch)) {
            m_spare_batches.push_back(batch);
        }
    }
    m_spare_count.store(m_spare_batches.size(), std::memory_order_relaxed);
}

void DecompressThread::LogFrameDamage(const char* what, size_t offset, size_t length) {
    if (m_flow) {
        SiteCounters::Add(m_flow->Counters().decode_errors, 1);
    }
    uint64_t left_out = 0;
    if (m_damage_log.Allow(&left_out)) {
        ErrorPrint(
            "Market data frame damaged: %s at byte %zu of %zu, the rest of the frame is dropped (%llu "
            "more such frames since the last line)",
            what, offset, length, static_cast<unsigned long long>(left_out));
    }
}

}  // namespace com::mivo::kmr::client
