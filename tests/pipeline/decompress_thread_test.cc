#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <map>
#include <set>
#include <thread>

#include "pipeline/data_disruptor.h"
#include "pipeline/decompress_thread.h"
#include "pipeline_test_kit.h"

namespace com::mivo::kmr::client {
namespace {

using namespace pipeline_test;

// The test thread plays the decompression thread: it calls ProcessRawData
// itself and is the producer of the workers' inbound queues.
class DecompressTest : public ::testing::Test {
protected:
    void SetUp() override { Build(5); }

    void Build(unsigned workers) {
        m_thread.reset();
        m_raw = DataDisruptor::CreateRawDataQueue(m_flow);
        m_thread = std::make_unique<DecompressThread>(m_raw, m_flow);
        m_thread->CreateCallbackThreads(workers, &m_handle);
    }

    // Runs one payload through ProcessRawData, which takes the frame's buffer.
    void Process(const std::string& payload, bool compressed = false) {
        RawData raw = MakeRaw(*m_flow, payload, compressed);
        m_thread->ProcessRawData(&raw);
        EXPECT_EQ(raw.m_payload, nullptr);
    }

    uint64_t DecodeErrors() { return m_flow->Counters().decode_errors.load(); }

    // Every buffer has come back once the callback threads are done.
    bool AllBuffersBack() {
        return WaitUntil([&] { return m_flow->OutstandingBuffers() == 0 && m_flow->HeldBytes() == 0; });
    }

    int WorkerOf(std::thread::id id) {
        for (auto& worker : m_thread->m_thread_pool->m_threads) {
            if (worker->GetThreadId() == id) {
                return worker->m_index;
            }
        }
        return -1;
    }

    // Lets the workers finish what they have and checks nothing more arrives.
    std::vector<Delivery> Settle(size_t expected) {
        EXPECT_TRUE(m_handle.WaitFor(expected));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return m_handle.Deliveries();
    }

    LogCapture m_log;
    RecordingHandle m_handle;
    std::shared_ptr<SiteFlow> m_flow = std::make_shared<SiteFlow>(1, 64 << 20);
    std::shared_ptr<RawDataQueue> m_raw;
    std::unique_ptr<DecompressThread> m_thread;
};

TEST_F(DecompressTest, RoutesByAbsoluteChannelModuloThreadCount) {
    std::string payload;
    const std::vector<int64_t> channels = {7, -7, 12, 0, INT64_MIN, INT64_MAX, -1};
    for (size_t i = 0; i < channels.size(); ++i) {
        AppendRecord(payload, MakeStock(channels[i], static_cast<int64_t>(i)));
    }
    Process(payload);
    auto deliveries = Settle(channels.size());
    ASSERT_EQ(deliveries.size(), channels.size());
    std::map<int64_t, int> worker_of;
    for (auto& d : deliveries) {
        worker_of[d.channel] = WorkerOf(d.thread);
    }
    EXPECT_EQ(worker_of[7], 2);
    EXPECT_EQ(worker_of[-7], 2);
    EXPECT_EQ(worker_of[12], 2);
    EXPECT_EQ(worker_of[0], 0);
    EXPECT_EQ(worker_of[INT64_MIN], 3);  // 2^63 mod 5
    EXPECT_EQ(worker_of[INT64_MAX], 2);  // (2^63 - 1) mod 5
    EXPECT_EQ(worker_of[-1], 1);
    EXPECT_EQ(DecodeErrors(), 0u);
    EXPECT_EQ(m_flow->Counters().discarded_records.load(), 0u);
}

TEST_F(DecompressTest, KeepsOrderPerChannelAcrossBatchesAndFamilies) {
    const int batches = 400, per_batch = 50, channels = 13;
    std::map<int64_t, int64_t> next;
    for (int b = 0; b < batches; ++b) {
        std::string payload;
        for (int r = 0; r < per_batch; ++r) {
            int64_t channel = (b * 7 + r) % channels - 6;  // negative and positive
            AppendRecord(payload, MakeStock(channel, ++next[channel], (b + r) % 2 == 0));
        }
        Process(b % 3 == 0 ? Compress(payload) : payload, b % 3 == 0);
    }
    auto deliveries = Settle(batches * per_batch);
    ASSERT_EQ(deliveries.size(), static_cast<size_t>(batches * per_batch));
    std::map<int64_t, int64_t> seen;
    std::map<int64_t, std::thread::id> thread_of;
    int md = 0;
    for (auto& d : deliveries) {
        ASSERT_EQ(d.sequence, seen[d.channel] + 1) << "channel " << d.channel;
        seen[d.channel] = d.sequence;
        if (thread_of.count(d.channel) != 0) {
            ASSERT_EQ(thread_of[d.channel], d.thread);
        }
        thread_of[d.channel] = d.thread;
        md += d.md_family ? 1 : 0;
    }
    EXPECT_EQ(seen, next);
    EXPECT_EQ(md, batches * per_batch / 2);
    EXPECT_TRUE(AllBuffersBack());
    EXPECT_EQ(m_flow->Counters().records.load(), static_cast<uint64_t>(batches * per_batch));
    EXPECT_EQ(m_flow->Counters().queued_records.load(), 0);
    // Batches come back to the decompression thread for reuse.
    EXPECT_TRUE(WaitUntil([&] {
        Process("");
        return m_thread->GetSpareBatchCount() > 0;
    }));
}

TEST_F(DecompressTest, CutOffLastRecordDeliversTheCompleteOnesAndIsLoggedOnceASecond) {
    std::string payload;
    AppendRecord(payload, MakeStock(1, 1));
    AppendRecord(payload, MakeStock(1, 2));
    std::string last = MakeStock(1, 3).SerializeAsString();
    AppendLength(payload, static_cast<int32_t>(last.size()));
    payload += last.substr(0, last.size() - 1);
    Process(payload);
    Process(Compress(payload), true);
    auto deliveries = Settle(4);
    ASSERT_EQ(deliveries.size(), 4u);
    EXPECT_EQ(deliveries[1].sequence, 2);
    EXPECT_EQ(DecodeErrors(), 2u);
    // The second damaged frame follows within the second: no new line.
    EXPECT_EQ(m_log.Count("a record cut off"), 1);
    EXPECT_TRUE(AllBuffersBack());
}

TEST_F(DecompressTest, TrailingBytesAreCountedAndEmptyPayloadsAreNot) {
    Process("");
    Process(Compress(""), true);
    EXPECT_EQ(DecodeErrors(), 0u);
    EXPECT_EQ(m_flow->Counters().records.load(), 0u);
    for (size_t len = 1; len <= 3; ++len) {
        std::string payload;
        AppendRecord(payload, MakeStock(1, static_cast<int64_t>(len)));
        payload += std::string(len, '\x01');
        Process(payload);
    }
    auto deliveries = Settle(3);
    EXPECT_EQ(deliveries.size(), 3u);
    EXPECT_EQ(DecodeErrors(), 3u);
    EXPECT_EQ(m_log.Count("trailing bytes"), 1);
}

TEST_F(DecompressTest, UndecodableRecordCostsOnlyItself) {
    std::string payload;
    AppendRecord(payload, MakeStock(1, 1));
    AppendLength(payload, 3);
    payload += "\xff\xff\xff";  // an unterminated tag
    AppendRecord(payload, MakeStock(1, 3));
    AppendLength(payload, 2);
    payload += "\x08\x01";  // decodes: channel 1, no record kind
    AppendRecord(payload, MakeStock(1, 5));
    Process(payload);
    Process(payload);
    auto deliveries = Settle(8);
    ASSERT_EQ(deliveries.size(), 8u);
    const std::vector<int64_t> sequences = {1, 3, 0, 5, 1, 3, 0, 5};
    for (size_t i = 0; i < sequences.size(); ++i) {
        EXPECT_EQ(deliveries[i].sequence, sequences[i]) << i;
        EXPECT_EQ(deliveries[i].channel, 1);
    }
    EXPECT_TRUE(WaitUntil([&] { return DecodeErrors() == 2; }));
    // One line for the first, the second within the same second is left out.
    EXPECT_EQ(m_log.Count("does not decode"), 1);
    EXPECT_TRUE(AllBuffersBack());
}

TEST_F(DecompressTest, NegativeRecordLengthEndsThePayloadWithoutReadingOutside) {
    std::string payload;
    AppendRecord(payload, MakeStock(1, 1));
    AppendLength(payload, -8);
    AppendRecord(payload, MakeStock(1, 3));
    Process(payload);
    AppendLength(payload, INT32_MAX);
    Process(payload.substr(payload.size() - 4));
    auto deliveries = Settle(1);
    EXPECT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(m_log.Count("a negative record length"), 1);
    EXPECT_EQ(DecodeErrors(), 2u);
}

TEST_F(DecompressTest, DecompressionBuffersComeFromThePoolAndGoBack) {
    std::string big;
    int64_t seq = 0;
    while (big.size() <= 6000) {
        AppendRecord(big, MakeStock(4, ++seq));
    }
    for (int round = 0; round < 50; ++round) {
        std::string plain;
        AppendRecord(plain, MakeStock(4, ++seq));
        Process(Compress(round % 2 == 0 ? big : plain), true);
    }
    ASSERT_TRUE(AllBuffersBack());
    // A steady feed reuses what the pool holds: the peak stays at a few buffers.
    EXPECT_LE(m_flow->PeakHeldBytes(), 50 * 16384);
    EXPECT_GT(m_flow->Counters().decompressed_bytes.load(), 25 * big.size());
}

TEST_F(DecompressTest, DamagedCompressedPayloadsAreDroppedWithinTheirBounds) {
    std::string plain;
    for (int i = 1; i <= 20; ++i) {
        AppendRecord(plain, MakeStock(2, i));
    }
    std::string good = Compress(plain);
    std::string negative = good;
    WireOrder::WriteInt32(&negative[0], -1);
    std::string oversized = good;  // more than the block can hold: refused before allocating
    WireOrder::WriteInt32(&oversized[0], INT32_MAX);
    std::string too_big = good;  // the block yields fewer bytes than declared
    WireOrder::WriteInt32(&too_big[0], static_cast<int32_t>(plain.size() + 1));
    std::string too_small = good;  // the block would write past the declared size
    WireOrder::WriteInt32(&too_small[0], static_cast<int32_t>(plain.size() - 1));
    std::string truncated = good.substr(0, good.size() - 5);
    const std::vector<std::string> damaged = {negative, oversized, too_big, too_small, truncated, "\x10\0\0"};
    for (auto& payload : damaged) {
        Process(payload, true);
    }
    EXPECT_EQ(m_log.Count("ProcessRawData Decompressed market data failed!"),
              static_cast<int>(damaged.size()));
    EXPECT_EQ(DecodeErrors(), damaged.size());
    EXPECT_EQ(m_flow->OutstandingBuffers(), 0);
    Process(good, true);
    auto deliveries = Settle(20);
    EXPECT_EQ(deliveries.size(), 20u);
}

TEST_F(DecompressTest, ZeroCallbackThreadsDiscardAndCountEveryRecord) {
    Build(0);
    std::string payload;
    for (int i = 0; i < 10; ++i) {
        AppendRecord(payload, MakeStock(i, i));
    }
    Process(payload);
    Process(payload);
    EXPECT_EQ(m_flow->Counters().records.load(), 20u);
    EXPECT_EQ(m_flow->Counters().discarded_records.load(), 20u);
    EXPECT_EQ(m_flow->Counters().queued_records.load(), 0);
    EXPECT_EQ(DecodeErrors(), 0u);
    EXPECT_TRUE(m_handle.Deliveries().empty());
    EXPECT_TRUE(AllBuffersBack());
}

// The thread itself: frames from the queue, every buffer back to the pool.
TEST_F(DecompressTest, RunningThreadReturnsEveryBufferAndDrainsOnRelease) {
    m_thread->Start();
    for (int i = 1; i <= 200; ++i) {
        std::string payload;
        AppendRecord(payload, MakeStock(3, i));
        PushRaw(*m_raw, *m_flow, payload, false);
        if (i % 50 == 0) {
            // Long enough for the thread to park between bursts.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_TRUE(m_handle.WaitFor(200));
    EXPECT_TRUE(AllBuffersBack());
    m_thread->Stop();
    EXPECT_FALSE(m_thread->IsRunning());
    // Frames queued after the stop stay queued; the queue's last owner gives them back.
    PushRaw(*m_raw, *m_flow, std::string(8, '\0'), false);
    EXPECT_NE(m_raw->front(), nullptr);
    EXPECT_EQ(m_flow->OutstandingBuffers(), 1);
    m_thread.reset();
    m_raw.reset();
    EXPECT_EQ(m_flow->OutstandingBuffers(), 0);
    EXPECT_EQ(m_flow->HeldBytes(), 0);
}

// A frame that finds the thread asleep is processed inside the push; one that
// finds it awake is left to it. Either way each channel keeps its order and
// its callback thread, and no record is delivered on the pushing thread.
TEST_F(DecompressTest, FramesProcessedByThePusherKeepOrderAndNeverRunCallbacksThere) {
    m_thread->Start();
    const int frames = 300, per_frame = 20, channels = 7;
    std::map<int64_t, int64_t> next;
    for (int f = 0; f < frames; ++f) {
        std::string payload;
        for (int r = 0; r < per_frame; ++r) {
            const int64_t channel = (f + r) % channels;
            AppendRecord(payload, MakeStock(channel, ++next[channel]));
        }
        const bool compressed = f % 2 == 0;
        PushRaw(*m_raw, *m_flow, compressed ? Compress(payload) : payload, compressed);
        if (f % 10 == 0) {
            // Long enough for the thread to fall asleep.
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    }
    auto deliveries = Settle(frames * per_frame);
    ASSERT_EQ(deliveries.size(), static_cast<size_t>(frames * per_frame));
    std::map<int64_t, int64_t> seen;
    std::map<int64_t, std::thread::id> thread_of;
    for (const Delivery& d : deliveries) {
        ASSERT_NE(d.thread, std::this_thread::get_id());
        ASSERT_EQ(d.sequence, seen[d.channel] + 1) << "channel " << d.channel;
        seen[d.channel] = d.sequence;
        auto known = thread_of.emplace(d.channel, d.thread);
        ASSERT_EQ(known.first->second, d.thread) << "channel " << d.channel;
    }
    EXPECT_EQ(seen, next);
    EXPECT_GT(m_flow->Counters().inline_frames.load(), 0u);
    EXPECT_TRUE(AllBuffersBack());
    m_thread->Stop();
}

// Over budget a frame must not be processed on the pushing thread: a
// compressed one may have to wait there for the callbacks to give bytes back.
TEST_F(DecompressTest, OverBudgetFramesAreLeftToTheThread) {
    m_flow = std::make_shared<SiteFlow>(1, 1);
    Build(2);
    m_thread->Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // asleep
    PayloadBuffer* held = m_flow->Acquire(64);                  // now over budget
    std::string payload;
    AppendRecord(payload, MakeStock(1, 1));
    PushRaw(*m_raw, *m_flow, payload, false);
    ASSERT_TRUE(m_handle.WaitFor(1));
    EXPECT_EQ(m_flow->Counters().inline_frames.load(), 0u);
    held->Unref();
    EXPECT_TRUE(AllBuffersBack());
    m_thread->Stop();
}

// Stopping while another thread keeps pushing: each frame is delivered once
// or stays queued, and every buffer comes back when the queue goes.
TEST_F(DecompressTest, StopWhileFramesArePushedLosesAndRepeatsNothing) {
    size_t expected = 0;
    for (int round = 0; round < 20; ++round) {
        m_thread->Start();
        std::atomic<bool> done{false};
        int pushed = 0;
        std::thread pusher([&] {
            while (!done.load()) {
                std::string payload;
                AppendRecord(payload, MakeStock(round, ++pushed));
                PushRaw(*m_raw, *m_flow, payload, false);
                if (pushed % 8 == 0) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        m_thread->Stop();
        done.store(true);
        pusher.join();
        // What the stopped thread left in the queue is still there, once.
        for (RawData* raw = m_raw->front(); raw != nullptr; raw = m_raw->front()) {
            m_thread->ProcessRawData(raw);
            m_raw->pop();
        }
        expected += static_cast<size_t>(pushed);
        ASSERT_TRUE(m_handle.WaitFor(expected)) << "round " << round;
        Build(5);
    }
    auto deliveries = Settle(expected);
    EXPECT_EQ(deliveries.size(), expected);
    std::map<int64_t, int64_t> seen;
    for (const Delivery& d : deliveries) {
        ASSERT_EQ(d.sequence, seen[d.channel] + 1) << "channel " << d.channel;
        seen[d.channel] = d.sequence;
    }
    EXPECT_TRUE(AllBuffersBack());
}

}  // namespace
}  // namespace com::mivo::kmr::client
