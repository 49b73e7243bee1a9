// What a host program reads about a running session through the factory:
// the per-site statistics snapshot (struct and JSON) and the subscription
// list, against the simulated service.
#include "client/client_factory.h"
#include "client/session_fixture.h"
#include "client/statistics_json.h"

namespace com::mivo::kmr::client {
namespace {

using com::mivo::zel::model::ADD;
using com::mivo::zel::model::COVERAGE;

constexpr int kZelStock = 3;
constexpr int kZelTrade = 9;

class HostStatisticsTest : public SessionTest {
protected:
    void TearDown() override {
        ClientFactory::Uninstance();
        SessionTest::TearDown();
    }

    ClientInterface* FactoryClient() {
        ClientInterface* client = ClientFactory::Instance()->CreateClient(&m_handle);
        EXPECT_NE(client, nullptr);
        return client;
    }

    int FactoryLogin(ClientInterface* client) {
        return client->LoginByServiceDiscovery(kUser, kPassword, "127.0.0.1", m_service->Discovery(0).Port(),
                                               {});
    }

    std::string NodeAddress(int node) { return "127.0.0.1:" + std::to_string(m_service->Node(node).Port()); }
};

TEST_F(HostStatisticsTest, WithoutAClientThereIsNothingToReport) {
    ClientFactory::Uninstance();
    const ClientStatistics statistics = ClientFactory::GetStatistics();
    EXPECT_FALSE(statistics.has_client);
    EXPECT_TRUE(statistics.sites.empty());
    EXPECT_EQ(ClientFactory::GetStatisticsJson(), "{\"has_client\":false,\"sites\":[]}");
    EXPECT_EQ(ClientFactory::GetSubscriptionsJson(), "{\"has_client\":false,\"subscriptions\":[]}");
}

TEST_F(HostStatisticsTest, SnapshotNamesEverySiteNodeAndLinkState) {
    StartService({1, 2});
    ClientInterface* client = FactoryClient();
    ASSERT_NE(client, nullptr);
    // A client that has not logged in has no sites yet.
    EXPECT_TRUE(ClientFactory::GetStatistics().has_client);
    EXPECT_TRUE(ClientFactory::GetStatistics().sites.empty());

    ASSERT_EQ(FactoryLogin(client), 0);
    ClientStatistics statistics = ClientFactory::GetStatistics();
    ASSERT_EQ(statistics.sites.size(), 2u);
    EXPECT_EQ(statistics.sites[0].site_type, 1);
    EXPECT_EQ(statistics.sites[1].site_type, 2);
    EXPECT_EQ(statistics.sites[0].node, NodeAddress(0));
    EXPECT_EQ(statistics.sites[1].node, NodeAddress(1));
    EXPECT_EQ(statistics.sites[0].link_state, "up");
    EXPECT_EQ(statistics.sites[1].link_state, "up");

    // Records flowing show in every count of the site that carries them.
    ASSERT_EQ(client->SubscribeByDatatype(COVERAGE, Types({kZelStock})), 0);
    ASSERT_TRUE(WaitUntil([] { return ClientFactory::GetStatistics().sites[0].records > 100; }));
    statistics = ClientFactory::GetStatistics();
    const SiteStatistics& site = statistics.sites[0];
    EXPECT_EQ(site.logins, 1u);
    EXPECT_EQ(site.reconnects, 0u);
    EXPECT_GT(site.frames, 0u);
    EXPECT_GT(site.wire_bytes, site.frames * 12);  // every frame has its 12-byte header
    EXPECT_EQ(site.decompressed_bytes, 0u);        // nothing came LZ4-compressed
    EXPECT_EQ(site.decode_errors, 0u);
    EXPECT_GE(site.ms_since_last_frame, 0);
    EXPECT_LT(site.ms_since_last_frame, 60000);

    // A lost link shows as a reconnect once the site is logged in again.
    m_service->Node(0).CloseConnections(SimCloseMode::kReset);
    EXPECT_TRUE(WaitUntil([] {
        const ClientStatistics now = ClientFactory::GetStatistics();
        return now.sites[0].reconnects == 1 && now.sites[0].logins == 2 && now.sites[0].link_state == "up";
    }));

    // A node that goes away shows as not up until the site is back.
    m_service->Node(1).Down();
    EXPECT_TRUE(WaitUntil([] { return ClientFactory::GetStatistics().sites[1].link_state != "up"; }));
    EXPECT_EQ(ClientFactory::GetStatistics().sites[0].link_state, "up");
}

TEST_F(HostStatisticsTest, HeartbeatAnswersAreTimed) {
    StartService({1});
    ClientInterface* client = FactoryClient();
    ASSERT_NE(client, nullptr);
    ASSERT_EQ(FactoryLogin(client), 0);
    // The heartbeat runs on the shortened test clock.
    ASSERT_TRUE(WaitUntil(
        [] { return ClientFactory::GetStatistics().sites[0].ms_since_last_heartbeat_answer >= 0; }));
    EXPECT_LT(ClientFactory::GetStatistics().sites[0].ms_since_last_heartbeat_answer, 60000);
}

TEST_F(HostStatisticsTest, SnapshotGoesToTheLogEveryConfiguredInterval) {
    StartService({1});
    ClientInterface* client = FactoryClient();
    ASSERT_NE(client, nullptr);
    ASSERT_EQ(FactoryLogin(client), 0);
    EXPECT_EQ(m_log.Count("statistics: {"), 0);  // off by default
    Configure({{"nuvexia_config_statistics_log_interval", "1"}});
    ASSERT_TRUE(m_log.WaitFor("statistics: {\"has_client\":true,\"sites\":[{\"site_type\":1,"));
    Configure({{"nuvexia_config_statistics_log_interval", "0"}});
    const int lines = m_log.Count("statistics: {");
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_LE(m_log.Count("statistics: {"), lines + 1);  // one may have been on its way
}

TEST_F(HostStatisticsTest, SnapshotIsReadableFromCallbacksAndDuringShutdown) {
    // A host that reads statistics inside OnMarketData must not block the
    // callback thread nor the shutdown that waits for it.
    class ReadingHandle : public CountingHandle {
    public:
        void OnMarketData(const com::mivo::zel::model::MarketData& data) override {
            CountingHandle::OnMarketData(data);
            snapshots += ClientFactory::GetStatistics().sites.size() > 0 ? 1 : 0;
        }
        std::atomic<int64_t> snapshots{0};
    } handle;
    StartService({1});
    ClientInterface* client = ClientFactory::Instance()->CreateClient(&handle);
    ASSERT_NE(client, nullptr);
    ASSERT_EQ(FactoryLogin(client), 0);
    ASSERT_EQ(client->SubscribeByDatatype(COVERAGE, Types({kZelStock})), 0);
    ASSERT_TRUE(WaitUntil([&] { return handle.snapshots.load() > 50; }));
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            (void)ClientFactory::GetStatisticsJson();
        }
    });
    ClientFactory::Uninstance();
    stop = true;
    reader.join();
    EXPECT_FALSE(ClientFactory::GetStatistics().has_client);
}

TEST_F(HostStatisticsTest, SubscriptionListHoldsAcceptedRequestsWithTheirLastResult) {
    StartService({1});
    ClientInterface* client = FactoryClient();
    ASSERT_NE(client, nullptr);
    ASSERT_EQ(FactoryLogin(client), 0);
    ASSERT_EQ(client->SubscribeByDatatype(COVERAGE, Types({kZelStock})), 0);
    const std::string id = m_service->Universe().Securities().front().id;
    ASSERT_EQ(client->SubscribeById(ADD, Ids(kZelTrade, {id})), 0);
    // A refused request never enters the registry, so it is not listed.
    m_service->Node(0).Faults().refuse_subscribe = true;
    EXPECT_NE(client->SubscribeByDatatype(ADD, Types({kZelTrade})), 0);
    m_service->Node(0).Faults().refuse_subscribe = false;

    SubscriptionList list = ClientFactory::GetSubscriptions();
    EXPECT_TRUE(list.has_client);
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].kind, "data_type");
    EXPECT_EQ(list.entries[0].action, static_cast<int>(COVERAGE));
    EXPECT_EQ(list.entries[0].request, "{\"subscribeByDataType\":{\"zelDataTypes\":[3]}}");
    EXPECT_EQ(list.entries[1].kind, "security_id");
    EXPECT_EQ(list.entries[1].action, static_cast<int>(ADD));
    EXPECT_NE(list.entries[1].request.find(id), std::string::npos);
    for (const SubscriptionEntry& entry : list.entries) {
        EXPECT_EQ(entry.sends, 1u);
        EXPECT_EQ(entry.last_result, 0);
        EXPECT_GE(entry.ms_since_last_result, 0);
    }

    // A lost link replays every entry; each counts its sends, and a send
    // that found the link still down shows its failure until one succeeds.
    m_service->Node(0).CloseConnections(SimCloseMode::kReset);
    ASSERT_TRUE(WaitUntil([] {
        const SubscriptionList now = ClientFactory::GetSubscriptions();
        return now.entries.size() == 2 && now.entries[1].sends >= 2 && now.entries[0].last_result == 0 &&
               now.entries[1].last_result == 0;
    }));
    list = ClientFactory::GetSubscriptions();
    EXPECT_GE(list.entries[0].sends, 2u);

    const std::string json = ClientFactory::GetSubscriptionsJson();
    EXPECT_EQ(json.rfind("{\"has_client\":true,\"subscriptions\":[{\"kind\":\"data_type\",\"action\":0,"
                         "\"request\":{\"subscribeByDataType\":{\"zelDataTypes\":[3]}},\"sends\":",
                         0),
              0u)
        << json;
}

TEST(StatisticsJsonTest, RendersEveryFieldAndEscapesTexts) {
    ClientStatistics statistics;
    statistics.has_client = true;
    SiteStatistics site;
    site.site_type = 7;
    site.node = "a\"b\\c\n";
    site.link_state = "up";
    site.logins = 1;
    site.reconnects = 2;
    site.records = 3;
    site.frames = 4;
    site.wire_bytes = 5;
    site.decompressed_bytes = 6;
    site.decode_errors = 7;
    site.queued_records = -8;
    site.held_bytes = 9;
    site.stalls = 10;
    site.ms_since_last_frame = -1;
    site.ms_since_last_heartbeat_answer = 12;
    site.discarded_records = 13;
    statistics.sites = {site, SiteStatistics()};
    EXPECT_EQ(StatisticsJson::Render(statistics),
              "{\"has_client\":true,\"sites\":[{\"site_type\":7,\"node\":\"a\\\"b\\\\c\\u000a\","
              "\"link_state\":\"up\",\"logins\":1,\"reconnects\":2,\"records\":3,\"frames\":4,"
              "\"wire_bytes\":5,\"decompressed_bytes\":6,\"decode_errors\":7,\"queued_records\":-8,"
              "\"held_bytes\":9,\"stalls\":10,\"ms_since_last_frame\":-1,"
              "\"ms_since_last_heartbeat_answer\":12,\"discarded_records\":13},"
              "{\"site_type\":0,\"node\":\"\",\"link_state\":\"\",\"logins\":0,\"reconnects\":0,"
              "\"records\":0,\"frames\":0,\"wire_bytes\":0,\"decompressed_bytes\":0,\"decode_errors\":0,"
              "\"queued_records\":0,\"held_bytes\":0,\"stalls\":0,\"ms_since_last_frame\":-1,"
              "\"ms_since_last_heartbeat_answer\":-1,\"discarded_records\":0}]}");
}

}  // namespace
}  // namespace com::mivo::kmr::client
