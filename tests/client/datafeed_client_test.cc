#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "SysSubscribe.pb.h"
#include "client/datafeed_client.h"
#include "common/test_seam.h"
#include "pipeline/pipeline_test_kit.h"
#include "sim/sim_data_types.h"
#include "sim/sim_record_stamp.h"
#include "sim/sim_service.h"

namespace com::mivo::kmr::client {
namespace {

using com::mivo::zel::model::MarketData;
using com::mivo::zel::model::SubscribeRequest;
using com::mivo::zel::model::SubscribeResponse;
using pipeline_test::ThreadCount;
using pipeline_test::WaitUntil;

// Checks the generator's per-channel sequence numbers as records arrive.
// Each site has its own callback threads and every channel of a site stays
// on one of them, so (thread, channel) names one stream.
class FeedHandle : public MessageHandle {
public:
    void OnMarketData(const MarketData& data) override {
        int64_t sequence = 0, sent = 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_records;
        if (!SimRecordStamp::Read(data, &sequence, &sent)) {
            ++m_unstamped;
            return;
        }
        int64_t& last = m_last[{std::this_thread::get_id(), data.zelmessagechannel()}];
        if (sequence != last + 1) {
            ++m_out_of_order;
        }
        last = sequence;
        m_md_family += data.has_mdstock() || data.has_mdorder() ? 1 : 0;
    }
    void OnSubscribeResponse(const SubscribeResponse& response) override {
        EXPECT_TRUE(response.issuccess());
        ++m_subscribed;
    }
    void OnLoginDataServiceSuccess() override { ++m_login_success; }
    void OnLoginDataServiceFailed() override { ++m_login_failed; }

    int64_t Records() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }
    int64_t OutOfOrder() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_out_of_order;
    }
    int64_t Unstamped() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_unstamped;
    }
    int64_t MdFamily() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_md_family;
    }

    std::atomic<int> m_subscribed{0};
    std::atomic<int> m_login_success{0};
    std::atomic<int> m_login_failed{0};

private:
    std::mutex m_mutex;
    std::map<std::pair<std::thread::id, int64_t>, int64_t> m_last;
    int64_t m_records = 0, m_out_of_order = 0, m_unstamped = 0, m_md_family = 0;
};

class DatafeedClientTest : public ::testing::Test {
protected:
    static constexpr const char* kUser = "feed-user";
    static constexpr int64_t kRecordsPerSite = 4000;

    void SetUp() override {
        // Sockets closed at teardown while the other side still writes must
        // not end the test process.
        std::signal(SIGPIPE, SIG_IGN);
        // Short enough for quick tests, long enough that the heartbeat (shortened
        // alike) never declares a slow sanitizer build dead mid-test.
        TestSeam::SetTimeDivisor(10);
    }
    void TearDown() override {
        m_client.reset();
        if (m_service) {
            m_service->Stop();
        }
        TestSeam::SetTimeDivisor(1);
    }

    void StartService(SimCompression compression, int sites = 2) {
        SimServiceOptions options;
        options.feed.records_per_second = 0;  // as fast as the socket takes them
        options.feed.max_records = kRecordsPerSite;
        options.feed.batch_records = 50;
        options.feed.channels = 8;
        options.feed.compression = compression;
        m_service = std::make_unique<SimService>(options);
        m_service->AddAccount({kUser, "feed-secret", {}});
        for (int site = 1; site <= sites; ++site) {
            m_service->AddDatafeedNode({"", site, 9, SimEndpoint()});
        }
        ASSERT_TRUE(m_service->Start());
        m_token = m_service->Accounts().IssueToken(kUser);
    }

    DatafeedNodeMap Table() {
        DatafeedNodeMap table;
        for (auto& node : m_service->NodeTable()) {
            table[node.site_type].emplace(node.priority,
                                          ServerHost(node.endpoint.ip, node.endpoint.port, false));
        }
        return table;
    }

    void StartClient() {
        m_client = std::make_unique<DatafeedClient>(&m_handle);
        m_client->Init(kUser, m_token, Table());
        m_client->Start();
    }

    static SubscribeRequest StockAndOrders() {
        SubscribeRequest request;
        request.set_subscribeactiontype(com::mivo::zel::model::COVERAGE);
        for (int type : {SimDataTypes::kZelStock, SimDataTypes::kMdStock, SimDataTypes::kZelOrder,
                         SimDataTypes::kMdOrder}) {
            request.mutable_subscribebydatatype()->add_zeldatatypes(type);
        }
        return request;
    }

    int64_t RecordsSent() {
        int64_t sent = 0;
        for (int i = 0; i < m_service->NodeCount(); ++i) {
            sent += m_service->Node(i).CounterValues().records_sent;
        }
        return sent;
    }

    // Every record the nodes sent arrives whole and in order per channel.
    void ExpectCompleteFeed(int sites) {
        ASSERT_TRUE(WaitUntil([&] { return RecordsSent() == sites * kRecordsPerSite; }));
        ASSERT_TRUE(WaitUntil([&] { return m_handle.Records() == sites * kRecordsPerSite; }))
            << m_handle.Records() << " of " << sites * kRecordsPerSite;
        EXPECT_EQ(m_handle.OutOfOrder(), 0);
        EXPECT_EQ(m_handle.Unstamped(), 0);
        EXPECT_GT(m_handle.MdFamily(), 0);
        EXPECT_LT(m_handle.MdFamily(), m_handle.Records());
    }

    LogCapture m_log;
    FeedHandle m_handle;
    std::unique_ptr<SimService> m_service;
    std::string m_token;
    std::unique_ptr<DatafeedClient> m_client;
};

TEST_F(DatafeedClientTest, TwoSitesLogInSubscribeAndReceiveThePlainFeedInOrder) {
    StartService(SimCompression::kNever);
    StartClient();
    EXPECT_EQ(m_log.Count("Start datafeed client"), 1);
    EXPECT_EQ(m_log.Count("Create decompress threads, num=2"), 1);

    ASSERT_EQ(m_client->TryLoginDatafeed(), 0);
    EXPECT_EQ(m_handle.m_login_success, 1);
    EXPECT_TRUE(m_client->isAllConnected());
    // Every site already logged in: nothing is reset, nothing waits.
    ASSERT_EQ(m_client->TryLoginDatafeed(), 0);
    EXPECT_EQ(m_handle.m_login_success, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m_service->Node(i).CounterValues().logins_accepted, 1);
    }

    SubscribeRequest request = StockAndOrders();
    ASSERT_EQ(m_client->TrySubscribe(&request), 0);
    EXPECT_EQ(m_handle.m_subscribed, 2);
    EXPECT_TRUE(m_client->isAllSubscibed());
    ExpectCompleteFeed(2);
}

TEST_F(DatafeedClientTest, CompressedFeedArrivesCompleteAndInOrder) {
    StartService(SimCompression::kAlways);
    StartClient();
    ASSERT_EQ(m_client->TryLoginDatafeed(), 0);
    SubscribeRequest request = StockAndOrders();
    ASSERT_EQ(m_client->TrySubscribe(&request), 0);
    ExpectCompleteFeed(2);
    EXPECT_GT(m_service->Node(0).CounterValues().compressed_frames_sent, 0);
    EXPECT_EQ(m_log.Count("Decompressed market data failed"), 0);
}

TEST_F(DatafeedClientTest, SiteDownFailsTheLoginAndTheSubscriptionButTheOtherSiteFlows) {
    StartService(SimCompression::kNever);
    m_service->Node(1).Down();
    StartClient();
    EXPECT_EQ(m_client->TryLoginDatafeed(), -1033);
    EXPECT_EQ(m_handle.m_login_failed, 1);
    EXPECT_FALSE(m_client->isAllConnected());

    SubscribeRequest request = StockAndOrders();
    EXPECT_EQ(m_client->TrySubscribe(&request), -1040);
    EXPECT_EQ(m_handle.m_subscribed, 1);
    EXPECT_EQ(m_log.Count("Datafeed node not connect, dont send subscribe request to this service"), 1);
    EXPECT_FALSE(m_client->isAllSubscibed());
    ExpectCompleteFeed(1);
}

TEST_F(DatafeedClientTest, RequestsWithoutSubjectFailAtOnce) {
    DatafeedClient client(&m_handle);
    EXPECT_EQ(client.TrySubscribe(nullptr), -1026);
    EXPECT_EQ(client.TryLoginDatafeed(), -1033);  // empty table
    EXPECT_EQ(m_handle.m_login_failed + m_handle.m_login_success, 0);
    EXPECT_TRUE(client.isAllConnected());
    EXPECT_TRUE(client.isAllSubscibed());
    SubscribeRequest request;
    EXPECT_EQ(client.TrySubscribe(&request), 0);  // no connection: nothing to fail
    EXPECT_EQ(m_handle.m_subscribed, 0);
}

TEST_F(DatafeedClientTest, NewSiteFromUpdateDatafeedNodeGetsItsOwnPipelineStage) {
    StartService(SimCompression::kNever, 3);
    DatafeedNodeMap table = Table();
    DatafeedNodeMap first_two = table;
    first_two.erase(3);
    m_client = std::make_unique<DatafeedClient>(&m_handle);
    m_client->Init(kUser, m_token, first_two);
    m_client->Start();
    ASSERT_EQ(m_client->TryLoginDatafeed(), 0);

    // A site of the table without a connection is neither logging nor
    // logged in: the attempt fails at once and creates nothing.
    m_client->Init(kUser, m_token, table);
    EXPECT_EQ(m_client->TryLoginDatafeed(), -1033);
    EXPECT_EQ(m_service->Node(2).CounterValues().connections_accepted, 0);

    m_client->UpdateDatafeedNode();
    ASSERT_EQ(m_client->TryLoginDatafeed(), 0);
    SubscribeRequest request = StockAndOrders();
    ASSERT_EQ(m_client->TrySubscribe(&request), 0);
    EXPECT_EQ(m_handle.m_subscribed, 3);
    ExpectCompleteFeed(3);
}

TEST_F(DatafeedClientTest, RepeatedClientsLeaveNoThreadBehind) {
    StartService(SimCompression::kAlways);
    const int before = ThreadCount();
    for (int cycle = 0; cycle < 3; ++cycle) {
        StartClient();
        ASSERT_EQ(m_client->TryLoginDatafeed(), 0);
        SubscribeRequest request = StockAndOrders();
        ASSERT_EQ(m_client->TrySubscribe(&request), 0);
        // Torn down mid-stream: frames, buffers and records in flight are released.
        ASSERT_TRUE(WaitUntil([&] { return m_handle.Records() > 100 * (cycle + 1); }));
        if (cycle == 1) {
            m_client->Stop();
        }
        m_client.reset();
        EXPECT_EQ(ThreadCount(), before);
    }
}

}  // namespace
}  // namespace com::mivo::kmr::client
