// Reading the discovery login response: frames that come in pieces, frames
// that break the rules, and what the response puts into the node table.
#include <string>
#include <thread>

#include "tests/client/discovery_test_kit.h"

namespace com::mivo::kmr::client::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using DiscoveryResponseTest = DiscoveryTest;

TEST_F(DiscoveryResponseTest, ResponseInManySmallWritesIsReadWhole) {
    m_service.AddDatafeedNode(NodeSpec(2, 1));
    StartDiscoveryServers(1);
    m_service.Discovery(0).Faults().split_write_bytes = 3;
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());

    EXPECT_EQ(client.TryLoginDiscovery(), 0);

    EXPECT_THAT(m_record.Walk(), ElementsAre("response", "success 127.0.0.1 [2]"));
    EXPECT_EQ(client.GetToken(), m_service.Accounts().LastToken(kUser));
    EXPECT_EQ(m_record.LogsWith("Decode login rsp success, ").size(), 1u);
}

// Each broken answer of the main server fails only that attempt; the backup
// then logs the client in.
struct BrokenAnswer {
    SimSabotage sabotage;
    const char* expected_log;
};

class DiscoveryBrokenAnswerTest : public DiscoveryTest, public ::testing::WithParamInterface<BrokenAnswer> {};

TEST_P(DiscoveryBrokenAnswerTest, FailsTheAttemptAndMovesOn) {
    StartDiscoveryServers(2);
    m_service.Discovery(0).Faults().sabotage = GetParam().sabotage;
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());

    EXPECT_EQ(client.TryLoginDiscovery(), 0);

    EXPECT_THAT(m_record.Walk(),
                ElementsAre("failed 127.0.0.1", "pause", "response", "success 127.0.0.2 []"));
    EXPECT_TRUE(m_record.Logged(GetParam().expected_log)) << m_record.Dump();
}

// The simulated service's broken frames carry a meta length of 0, which fails
// before the payload length is looked at (the crafted frames of
// discovery_frame_test reach the payload checks).
INSTANTIATE_TEST_SUITE_P(
    Sabotage, DiscoveryBrokenAnswerTest,
    ::testing::Values(BrokenAnswer{SimSabotage::kOversizedLength,
                                   "Read discovery login response meta data failed! Try to relogin"},
                      BrokenAnswer{SimSabotage::kNegativeLength,
                                   "Read discovery login response meta data failed! Try to relogin"},
                      BrokenAnswer{SimSabotage::kGarbage,
                                   "Read discovery login response meta data failed! Try to relogin"}));

TEST_F(DiscoveryResponseTest, WrongTraceIdMovesToTheNextServer) {
    StartDiscoveryServers(2);
    m_service.Discovery(0).Faults().wrong_trace_id = true;
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());

    EXPECT_EQ(client.TryLoginDiscovery(), 0);

    EXPECT_THAT(m_record.Walk(),
                ElementsAre("failed 127.0.0.1", "pause", "response", "success 127.0.0.2 []"));
    EXPECT_TRUE(m_record.Logged("Check discovery login response meta data failed! Try to relogin"));
    EXPECT_EQ(m_service.Requests().ForServer("discovery1").at(0).trace_id, client.GetCurTraceId());
}

TEST_F(DiscoveryResponseTest, UnansweredRequestEndsAtTheReadTimeout) {
    BaseConfig::GetInstance().SetReadTimeout(1);
    StartDiscoveryServers(2);
    m_service.Discovery(0).Faults().sabotage = SimSabotage::kSilence;
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());

    EXPECT_EQ(client.TryLoginDiscovery(), 0);

    EXPECT_THAT(m_record.Walk(),
                ElementsAre("failed 127.0.0.1", "pause", "response", "success 127.0.0.2 []"));
    EXPECT_TRUE(m_record.Logged("Discovery socket READ IDLE!"));
}

TEST_F(DiscoveryResponseTest, PeerClosingBeforeAnsweringMovesOn) {
    StartDiscoveryServers(2);
    m_service.Discovery(0).Faults().sabotage = SimSabotage::kSilence;
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());
    std::thread closer([this] {
        m_service.Requests().WaitUntil([](const std::vector<SimRequest>& log) { return !log.empty(); },
                                       std::chrono::seconds(30));
        m_service.Discovery(0).CloseConnections(SimCloseMode::kClean);
    });

    EXPECT_EQ(client.TryLoginDiscovery(), 0);
    closer.join();

    EXPECT_THAT(m_record.Walk(),
                ElementsAre("failed 127.0.0.1", "pause", "response", "success 127.0.0.2 []"));
    EXPECT_TRUE(m_record.Logged("Discovery socket closed by peers"));
}

TEST_F(DiscoveryResponseTest, BodyLongerThanOneKilobyteIsRefused) {
    // The node's site name travels in the node table and makes the body long.
    m_service.AddDatafeedNode(NodeSpec(6, 3, std::string(1500, 'n')));
    StartDiscoveryServers(1);
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());

    EXPECT_NE(client.TryLoginDiscovery(), 0);

    EXPECT_EQ(m_record.Walk().at(0), "failed 127.0.0.1") << m_record.Dump();
    EXPECT_TRUE(m_record.Logged("Read discovery login response body failed! Try to relogin"));
    EXPECT_TRUE(client.GetDatafeedNodes().empty());
}

TEST_F(DiscoveryResponseTest, EmptyNodeListGivesAnEmptyTableWithoutNodeLines) {
    StartDiscoveryServers(1);
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());

    EXPECT_EQ(client.TryLoginDiscovery(), 0);

    EXPECT_TRUE(client.GetDatafeedNodes().empty());
    EXPECT_THAT(m_record.Walk(), ElementsAre("response", "success 127.0.0.1 []"));
    EXPECT_FALSE(m_record.Logged("Receive datafeed service node info:"));
    EXPECT_FALSE(m_record.Logged("Datafeed service site type"));
}

TEST_F(DiscoveryResponseTest, TokenNeverReachesTheLog) {
    StartDiscoveryServers(1);
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());

    ASSERT_EQ(client.TryLoginDiscovery(), 0);

    const std::string token = client.GetToken();
    ASSERT_FALSE(token.empty());
    const auto payload = m_record.LogsWith("Receive discovery login response, payload: ");
    ASSERT_EQ(payload.size(), 1u);
    EXPECT_NE(payload[0].find("\"token\":\"******\""), std::string::npos) << payload[0];
    EXPECT_THAT(m_record.LogsWith(token), IsEmpty());
    EXPECT_THAT(m_record.LogsWith(kPassword), IsEmpty());
    // The handler still gets the real token.
    EXPECT_EQ(m_record.LastResponse().token(), token);
}

TEST_F(DiscoveryResponseTest, TableWithTooManySiteTypesFailsTheLogin) {
    const int sites = static_cast<int>(DiscoveryClient::MAX_SITE_TYPES) + 1;
    for (int site = 1; site <= sites; ++site) {
        m_service.AddDatafeedNode(NodeSpec(site, 1, "s"));
    }
    StartDiscoveryServers(1);
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());

    EXPECT_NE(client.TryLoginDiscovery(), 0);

    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "none")) << m_record.Dump();
    EXPECT_TRUE(m_record.Logged("Datafeed node table refused: 17 site types, at most 16 are served"));
    EXPECT_TRUE(client.GetDatafeedNodes().empty());
    EXPECT_FALSE(m_record.Logged("Datafeed service site type"));
}

TEST(DiscoveryNodeTable, RepeatedPriorityKeepsTheFirstNodeAndLogsInOrder) {
    WalkRecord record;
    SetLogHandle(&record);
    DiscoveryClient client(&record);
    com::mivo::zel::model::LoginResponse response;
    const auto add = [&response](const char* ip, int port, int site, int priority, bool ssl) {
        auto* server = response.add_servers();
        server->set_ip(ip);
        server->set_port(port);
        server->set_sitetype(site);
        server->set_ippriority(priority);
        server->set_isssl(ssl);
    };
    add("10.0.0.1", 1001, 2, 5, false);
    add("10.0.0.2", 1002, 2, 5, true);  // same site and priority: dropped
    add("10.0.0.3", 1003, 2, 9, true);
    add("10.0.0.4", 1004, 1, 5, false);  // same priority, other site: kept

    client.UpdateDatafeedNodes(&response.servers());
    SetLogHandle(nullptr);

    const DatafeedNodeMap& nodes = client.GetDatafeedNodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes.at(2).size(), 2u);
    EXPECT_EQ(nodes.at(2).at(5).ToString(), "10.0.0.1:1001");
    EXPECT_FALSE(nodes.at(2).at(5).IsSsl());
    EXPECT_TRUE(nodes.at(2).at(9).IsSsl());
    EXPECT_THAT(record.LogsWith("Datafeed service site type"),
                ElementsAre("Datafeed service site type: 1, node priority: 5, host: 10.0.0.4:1004",
                            "Datafeed service site type: 2, node priority: 9, host: 10.0.0.3:1003",
                            "Datafeed service site type: 2, node priority: 5, host: 10.0.0.1:1001"));

    // A new list replaces the table; an empty one empties it.
    response.clear_servers();
    client.UpdateDatafeedNodes(&response.servers());
    EXPECT_TRUE(client.GetDatafeedNodes().empty());
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing

namespace com::mivo::kmr::client::testing {
namespace {

class DiscoveryNodeLimits : public ::testing::Test {
protected:
    void SetUp() override { SetLogHandle(&m_record); }
    void TearDown() override { SetLogHandle(nullptr); }

    void Add(int site, int priority, int port = 9000) {
        auto* server = m_response.add_servers();
        server->set_ip("10.0.0.1");
        server->set_port(port);
        server->set_sitetype(site);
        server->set_ippriority(priority);
    }
    bool Update() { return m_client.UpdateDatafeedNodes(&m_response.servers()); }

    WalkRecord m_record;
    DiscoveryClient m_client{&m_record};
    com::mivo::zel::model::LoginResponse m_response;
};

TEST_F(DiscoveryNodeLimits, PortOutsideOneTo65535LeavesOnlyThatNodeOut) {
    Add(1, 1, 65536 + 9000);  // would become port 9000 if truncated
    Add(1, 2, 0);
    Add(1, 3, -5);
    Add(1, 4, 65535);
    Add(2, 1, 70000);

    EXPECT_TRUE(Update());

    const DatafeedNodeMap& nodes = m_client.GetDatafeedNodes();
    ASSERT_EQ(nodes.size(), 1u);
    ASSERT_EQ(nodes.at(1).size(), 1u);
    EXPECT_EQ(nodes.at(1).at(4).GetServerPort(), 65535);
    EXPECT_EQ(m_record.LogsWith("has no valid port, node left out").size(), 4u);
    EXPECT_TRUE(
        m_record.Logged("Datafeed node 10.0.0.1:74536 of site type 1 has no valid port, node left out"));
}

TEST_F(DiscoveryNodeLimits, SiteTypesAndNodesPerSiteAreBounded) {
    const int most = static_cast<int>(DiscoveryClient::MAX_SITE_TYPES);
    for (int site = 0; site < most; ++site) {
        Add(site, 1);
    }
    for (int priority = 2; priority <= static_cast<int>(DiscoveryClient::MAX_NODES_PER_SITE); ++priority) {
        Add(0, priority);
    }
    ASSERT_TRUE(Update());
    EXPECT_EQ(m_client.GetDatafeedNodes().size(), DiscoveryClient::MAX_SITE_TYPES);
    EXPECT_EQ(m_client.GetDatafeedNodes().at(0).size(), DiscoveryClient::MAX_NODES_PER_SITE);

    // One node more in a site: refused, and the table in use stays.
    Add(0, 99);
    EXPECT_FALSE(Update());
    EXPECT_TRUE(
        m_record.Logged("Datafeed node table refused: site type 0 has 17 nodes, at most 16 are served"));
    EXPECT_EQ(m_client.GetDatafeedNodes().at(0).size(), DiscoveryClient::MAX_NODES_PER_SITE);

    // A repeated priority is no node of its own.
    m_response.mutable_servers()->RemoveLast();
    Add(0, 1);
    EXPECT_TRUE(Update());

    // One site type more: refused.
    Add(most, 1);
    EXPECT_FALSE(Update());
    EXPECT_TRUE(m_record.Logged("Datafeed node table refused: 17 site types, at most 16 are served"));
    EXPECT_EQ(m_client.GetDatafeedNodes().size(), DiscoveryClient::MAX_SITE_TYPES);
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
