#pragma once

#include <lz4.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MarketData.pb.h"
#include "common/base_log.h"
#include "pipeline/message_handle.h"
#include "pipeline/raw_data.h"
#include "pipeline/record_batch.h"
#include "pipeline/site_flow.h"
#include "protocol/wire_order.h"
#include "support/log_capture.h"
#include "support/thread_count.h"
#include "support/wait_until.h"

namespace com::mivo::kmr::client::pipeline_test {

using com::mivo::zel::model::MarketData;

using ::com::mivo::kmr::client::testing::ThreadCount;
using ::com::mivo::kmr::client::testing::WaitUntil;

struct Delivery {
    std::thread::id thread;
    int64_t channel;
    int64_t sequence;
    bool md_family;
};

// Records every OnMarketData call.
class RecordingHandle : public MessageHandle {
public:
    void OnMarketData(const MarketData& data) override {
        Delivery d{std::this_thread::get_id(), data.zelmessagechannel(), 0, data.has_mdstock()};
        d.sequence = data.has_mdstock() ? data.mdstock().numtrades() : data.zelstock().numtrades();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_deliveries.push_back(d);
        m_cv.notify_all();
    }
    // Waits (generously) until at least n records arrived.
    bool WaitFor(size_t n, std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, limit, [&] { return m_deliveries.size() >= n; });
    }
    std::vector<Delivery> Deliveries() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_deliveries;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Delivery> m_deliveries;
};

inline MarketData MakeStock(int64_t channel, int64_t sequence, bool md_family = false) {
    MarketData data;
    data.set_zelmessagechannel(channel);
    if (md_family) {
        data.mutable_mdstock()->set_numtrades(sequence);
        data.mutable_mdstock()->set_securityid("600000.SH");
        data.mutable_mdstock()->add_buypricequeue(10.5);
    } else {
        data.mutable_zelstock()->set_numtrades(sequence);
        data.mutable_zelstock()->set_securityid("000001.SZ");
        data.mutable_zelstock()->add_buypricequeue(105000);
    }
    return data;
}

inline void AppendLength(std::string& payload, int32_t length) {
    char prefix[4];
    WireOrder::WriteInt32(prefix, length);
    payload.append(prefix, 4);
}

inline void AppendRecord(std::string& payload, const MarketData& data) {
    std::string bytes = data.SerializeAsString();
    AppendLength(payload, static_cast<int32_t>(bytes.size()));
    payload += bytes;
}

// [S][raw LZ4 block of the plain payload]
inline std::string Compress(const std::string& plain) {
    std::string out(4 + LZ4_compressBound(static_cast<int>(plain.size())), '\0');
    WireOrder::WriteInt32(&out[0], static_cast<int32_t>(plain.size()));
    int n = LZ4_compress_default(plain.data(), &out[4], static_cast<int>(plain.size()),
                                 static_cast<int>(out.size() - 4));
    out.resize(4 + n);
    return out;
}

// A frame as the reader makes it: the payload copied into a buffer of the flow.
inline RawData MakeRaw(SiteFlow& flow, const std::string& payload, bool compressed) {
    RawData raw{};
    raw.m_flags = compressed ? 0x4000 : 0;
    raw.m_payload = flow.Acquire(payload.size());
    std::memcpy(raw.m_payload->Data(), payload.data(), payload.size());
    return raw;
}

inline void PushRaw(RawDataQueue& queue, SiteFlow& flow, const std::string& payload, bool compressed) {
    RawData* slot = nullptr;
    while ((slot = queue.alloc()) == nullptr) {
        std::this_thread::yield();
    }
    *slot = MakeRaw(flow, payload, compressed);
    queue.push();
}

// A batch for one callback thread: the records encoded one after the other
// (each with its length prefix) in a new buffer of the flow.
inline RecordBatch* MakeBatch(SiteFlow& flow, const std::vector<MarketData>& records) {
    std::string payload;
    auto* batch = new RecordBatch();
    for (const MarketData& record : records) {
        const size_t at = payload.size() + 4;
        AppendRecord(payload, record);
        batch->m_records.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(payload.size() - at)});
    }
    batch->m_buffer = flow.Acquire(payload.size());
    std::memcpy(batch->m_buffer->Data(), payload.data(), payload.size());
    return batch;
}

}  // namespace com::mivo::kmr::client::pipeline_test
