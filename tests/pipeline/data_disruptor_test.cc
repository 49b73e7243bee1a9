#include <gtest/gtest.h>

#include "common/base_config.h"
#include "pipeline/data_disruptor.h"
#include "pipeline_test_kit.h"

namespace com::mivo::kmr::client {
namespace {

using namespace pipeline_test;

class DataDisruptorTest : public ::testing::Test {
protected:
    void SetUp() override {
        BaseConfig::GetInstance().SetHandleThreadNum(3);
        for (uint32_t site : {1u, 2u}) {
            AddSite(site);
        }
    }
    void TearDown() override { BaseConfig::GetInstance().SetHandleThreadNum(5); }

    void AddSite(uint32_t site) {
        m_flows[site] = std::make_shared<SiteFlow>(site, 64 << 20);
        m_raw[site] = DataDisruptor::CreateRawDataQueue(m_flows[site]);
    }

    void Send(uint32_t site, int64_t channel, int64_t sequence) {
        std::string payload;
        AppendRecord(payload, MakeStock(channel, sequence));
        const bool compressed = sequence % 2 == 0;
        PushRaw(*m_raw[site], *m_flows[site], compressed ? Compress(payload) : payload, compressed);
    }

    LogCapture m_log;
    RecordingHandle m_handle;
    SiteFlowMap m_flows;
    RawDataQueueMap m_raw;
};

TEST_F(DataDisruptorTest, StartsOneDecompressionThreadAndPoolPerSite) {
    const int before = ThreadCount();
    DataDisruptor disruptor(&m_handle, m_raw, m_flows);
    EXPECT_EQ(disruptor.m_site_count, 2);
    EXPECT_EQ(disruptor.m_handle_thread_num, 3u);
    disruptor.Start();
    EXPECT_EQ(ThreadCount(), before + 2 * (1 + 3));
    ASSERT_EQ(disruptor.m_decompress_threads.size(), 2u);
    for (auto& entry : disruptor.m_decompress_threads) {
        EXPECT_EQ(entry.second->m_thread_num, 3);
        EXPECT_EQ(entry.second->m_message_handle, &m_handle);
        EXPECT_EQ(entry.second->m_raw_data_queue, m_raw[entry.first]);
    }
    EXPECT_EQ(m_log.Count("Start data disruptor"), 1);
    EXPECT_EQ(m_log.Count("Create user callback threads, num=3"), 1);
    EXPECT_EQ(m_log.Count("Create decompress threads, num=2"), 1);
    EXPECT_EQ(m_log.Count("Create decompress threads finish"), 1);
    EXPECT_TRUE(WaitUntil([&] { return m_log.Count("Strat decompress thread success") == 2; }));

    Send(1, 5, 1);
    Send(2, 5, 1);
    ASSERT_TRUE(m_handle.WaitFor(2));

    // Stop ends the decompression threads only; the callback threads stay.
    disruptor.Stop();
    EXPECT_EQ(ThreadCount(), before + 2 * 3);
    EXPECT_EQ(m_log.Count("Stop decompress threads"), 1);
    EXPECT_EQ(m_log.Count("Stop decompress finish"), 1);
    disruptor.Stop();
    EXPECT_EQ(m_log.Count("Stop decompress finish"), 2);
}

TEST_F(DataDisruptorTest, SiteAttachedAfterStartGetsItsOwnStage) {
    DataDisruptor disruptor(&m_handle, m_raw, m_flows);
    disruptor.Start();
    AddSite(3);
    disruptor.AttachSite(3);
    ASSERT_EQ(disruptor.m_decompress_threads.count(3), 1u);
    for (int i = 1; i <= 50; ++i) {
        Send(3, i % 4, i);
    }
    ASSERT_TRUE(m_handle.WaitFor(50));
    // Re-attaching a site whose queues were replaced swaps its stage.
    auto old_stage = disruptor.m_decompress_threads[1];
    AddSite(1);
    disruptor.AttachSite(1);
    EXPECT_NE(disruptor.m_decompress_threads[1], old_stage);
    EXPECT_FALSE(old_stage->IsRunning());
    Send(1, 0, 51);
    ASSERT_TRUE(m_handle.WaitFor(51));
}

TEST_F(DataDisruptorTest, AttachAfterStopStartsNothing) {
    DataDisruptor disruptor(&m_handle, m_raw, m_flows);
    disruptor.Start();
    disruptor.Stop();
    AddSite(4);
    disruptor.AttachSite(4);
    EXPECT_EQ(disruptor.m_decompress_threads.count(4), 0u);
}

TEST_F(DataDisruptorTest, SiteWithoutFlowIsSkipped) {
    m_raw[9] = DataDisruptor::CreateRawDataQueue(std::make_shared<SiteFlow>(9, 1 << 20));
    DataDisruptor disruptor(&m_handle, m_raw, m_flows);
    disruptor.Start();
    EXPECT_EQ(disruptor.m_decompress_threads.size(), 2u);
    EXPECT_EQ(disruptor.m_decompress_threads.count(9), 0u);
}

// Frames, records and buffers in flight when everything goes are released
// (the sanitizer builds check for leaks), and cycles leave no thread behind.
TEST_F(DataDisruptorTest, RepeatedCyclesReleaseEverythingInFlight) {
    const int before = ThreadCount();
    for (int cycle = 0; cycle < 5; ++cycle) {
        m_raw.clear();
        m_flows.clear();
        AddSite(1);
        AddSite(2);
        {
            DataDisruptor disruptor(&m_handle, m_raw, m_flows);
            disruptor.Start();
            for (int i = 0; i < 300; ++i) {
                Send(1 + i % 2, i % 7, i);
            }
            disruptor.Stop();
            for (int i = 0; i < 20; ++i) {
                Send(1, 1, i);  // left in the raw data queue
            }
        }
        m_raw.clear();
        for (auto& flow : m_flows) {
            EXPECT_EQ(flow.second->OutstandingBuffers(), 0);
        }
        EXPECT_EQ(ThreadCount(), before);
    }
}

}  // namespace
}  // namespace com::mivo::kmr::client
