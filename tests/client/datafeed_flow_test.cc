// A host slower than the feed, against the simulated service: the site's
// memory stays within its budget, nothing is lost or reordered, and the link
// is not reset although heartbeat answers wait behind unread market data.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <thread>

#include "SysSubscribe.pb.h"
#include "client/datafeed_client.h"
#include "common/base_config.h"
#include "common/test_seam.h"
#include "pipeline/pipeline_test_kit.h"
#include "sim/sim_data_types.h"
#include "sim/sim_record_stamp.h"
#include "sim/sim_service.h"

namespace com::mivo::kmr::client {
namespace {

using com::mivo::zel::model::MarketData;
using pipeline_test::WaitUntil;

// Sleeps in every callback and checks the node's per-channel sequence numbers.
class SlowHandle : public MessageHandle {
public:
    void OnMarketData(const MarketData& data) override {
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        int64_t sequence = 0, sent = 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_records;
        if (!SimRecordStamp::Read(data, &sequence, &sent)) {
            ++m_gaps;
            return;
        }
        int64_t& last = m_last[data.zelmessagechannel()];
        m_gaps += sequence != last + 1 ? 1 : 0;
        last = sequence;
    }
    void OnDisconnected(int, const std::string&) override { ++m_disconnects; }

    int64_t Records() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }
    int64_t Gaps() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_gaps;
    }
    std::atomic<int> m_disconnects{0};

private:
    std::mutex m_mutex;
    std::map<int64_t, int64_t> m_last;
    int64_t m_records = 0, m_gaps = 0;
};

class DatafeedFlowTest : public ::testing::Test {
protected:
    static constexpr int64_t kRecords = 6000;

    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        // Heartbeats every 100 ms: six unanswered ones would reset the link
        // long before the slow host has worked through the feed.
        TestSeam::SetTimeDivisor(100);
        BaseConfig::GetInstance().SetSiteMemoryBudgetMb(1);
        BaseConfig::GetInstance().SetHandleThreadNum(2);
    }
    void TearDown() override {
        m_client.reset();
        if (m_service) {
            m_service->Stop();
        }
        TestSeam::SetTimeDivisor(1);
        BaseConfig::GetInstance().SetSiteMemoryBudgetMb(256);
        BaseConfig::GetInstance().SetHandleThreadNum(5);
    }

    void Run(SimCompression compression) {
        SimServiceOptions options;
        options.feed.records_per_second = 0;
        options.feed.max_records = kRecords;
        options.feed.channels = 8;
        options.feed.compression = compression;
        m_service = std::make_unique<SimService>(options);
        m_service->AddAccount({"flow-user", "flow-secret", {}});
        m_service->AddDatafeedNode({"", 1, 9, SimEndpoint()});
        ASSERT_TRUE(m_service->Start());
        DatafeedNodeMap table;
        for (auto& node : m_service->NodeTable()) {
            table[node.site_type].emplace(node.priority,
                                          ServerHost(node.endpoint.ip, node.endpoint.port, false));
        }
        m_client = std::make_unique<DatafeedClient>(&m_handle);
        m_client->Init("flow-user", m_service->Accounts().IssueToken("flow-user"), table);
        m_client->Start();
        ASSERT_EQ(m_client->TryLoginDatafeed(), 0);
        com::mivo::zel::model::SubscribeRequest request;
        request.set_subscribeactiontype(com::mivo::zel::model::COVERAGE);
        request.mutable_subscribebydatatype()->add_zeldatatypes(SimDataTypes::kMdStock);
        ASSERT_EQ(m_client->TrySubscribe(&request), 0);

        const SiteCounters* counters = m_client->GetSiteCounters(1);
        ASSERT_NE(counters, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return m_handle.Records() == kRecords; }, std::chrono::seconds(120)))
            << m_handle.Records() << " of " << kRecords;
        EXPECT_EQ(m_handle.Gaps(), 0);
        EXPECT_EQ(m_handle.m_disconnects, 0);
        EXPECT_EQ(m_service->Node(0).CounterValues().logins_accepted, 1);
        EXPECT_EQ(m_log.Count("Not receive heartbeat from datafeed service"), 0);

        // Held back at least once, each time said once and once resumed.
        const uint64_t stalls = counters->stalls.load();
        EXPECT_GE(stalls, 1u);
        EXPECT_EQ(m_log.Count("reading paused until callbacks catch up"), static_cast<int>(stalls));
        EXPECT_TRUE(
            WaitUntil([&] { return m_log.Count("reading resumed after") == static_cast<int>(stalls); }));
        // The budget, plus the frame admitted last and what it decompresses to.
        EXPECT_LE(counters->peak_held_bytes.load(), (1 << 20) + 2 * 65536 + 2 * 4096);
        EXPECT_TRUE(WaitUntil([&] { return counters->held_bytes.load() == 0; }));
        EXPECT_EQ(counters->queued_records.load(), 0);
        EXPECT_EQ(counters->records.load(), static_cast<uint64_t>(kRecords));
        EXPECT_EQ(counters->decode_errors.load(), 0u);
    }

    LogCapture m_log;
    SlowHandle m_handle;
    std::unique_ptr<SimService> m_service;
    std::unique_ptr<DatafeedClient> m_client;
};

TEST_F(DatafeedFlowTest, SlowHostHoldsThePlainFeedBackWithinTheBudget) {
    Run(SimCompression::kNever);
}

TEST_F(DatafeedFlowTest, SlowHostHoldsTheCompressedFeedBackWithinTheBudget) {
    Run(SimCompression::kAlways);
}

}  // namespace
}  // namespace com::mivo::kmr::client
