// The walk over discovery servers: which callbacks fire in which order, when
// the walk pauses, and what it returns.
#include <future>
#include <memory>
#include <regex>
#include <thread>

#include "tests/client/discovery_test_kit.h"

namespace com::mivo::kmr::client::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using DiscoveryWalkTest = DiscoveryTest;

TEST_F(DiscoveryWalkTest, OneServerAcceptingFillsTokenAndNodeTable) {
    m_service.AddDatafeedNode(NodeSpec(3, 5));
    m_service.AddDatafeedNode(NodeSpec(1, 2));
    m_service.AddDatafeedNode(NodeSpec(1, 9));
    StartDiscoveryServers(1);
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());

    EXPECT_EQ(client.TryLoginDiscovery(), 0);

    EXPECT_THAT(m_record.Walk(), ElementsAre("response", "success 127.0.0.1 [1,3]"));
    EXPECT_EQ(client.GetToken(), m_service.Accounts().LastToken(kUser));
    EXPECT_FALSE(client.GetToken().empty());
    EXPECT_EQ(client.GetCurrentUsedHost().ToString(), HostOf(0).ToString());

    const DatafeedNodeMap& nodes = client.GetDatafeedNodes();
    ASSERT_EQ(nodes.size(), 2u);
    const SiteNodeMap& site1 = nodes.at(1);
    ASSERT_EQ(site1.size(), 2u);
    EXPECT_EQ(site1.begin()->first, 9);  // highest priority first
    EXPECT_EQ(site1.begin()->second.GetServerPort(), m_service.Node(2).Port());
    EXPECT_EQ(nodes.at(3).at(5).GetServerPort(), m_service.Node(0).Port());
    EXPECT_FALSE(nodes.at(3).at(5).IsSsl());

    // The request the server saw carries the client's trace id.
    const auto logins = m_service.Requests().OfType(com::mivo::zel::model::LOGIN_REQUEST);
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].trace_id, client.GetCurTraceId());
    EXPECT_TRUE(std::regex_match(client.GetCurTraceId(), std::regex("sdk_login_[1-9][0-9]{15}")));

    EXPECT_TRUE(m_record.Logged("Login discovery server successfully!"));
    EXPECT_EQ(m_record.LogsWith("Datafeed service site type: ").size(), 3u);
    EXPECT_TRUE(m_record.Logged("The connection to discovery is over."));
}

TEST_F(DiscoveryWalkTest, FirstTwoServersDownThirdAccepts) {
    m_service.AddDatafeedNode(NodeSpec(4, 1));
    StartDiscoveryServers(3);
    const auto hosts = AllHosts();
    m_service.Discovery(0).Down();
    m_service.Discovery(1).Down();
    DiscoveryClient client(&m_record);
    InitClient(client, hosts);

    EXPECT_EQ(client.TryLoginDiscovery(), 0);

    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "pause", "failed 127.0.0.2", "pause",
                                             "response", "success 127.0.0.3 [4]"));
    EXPECT_EQ(m_record.LogsWith("will retry after 5 seconds if need").size(), 2u);
    EXPECT_EQ(client.GetCurrentUsedHost().GetServerIp(), "127.0.0.3");
}

TEST_F(DiscoveryWalkTest, EveryServerDownPausesAfterEachAndEndsRetryable) {
    StartDiscoveryServers(3);
    const auto hosts = AllHosts();
    for (int i = 0; i < 3; ++i) {
        m_service.Discovery(i).Down();
    }
    DiscoveryClient client(&m_record);
    InitClient(client, hosts);

    EXPECT_EQ(client.TryLoginDiscovery(), -1030);

    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "pause", "failed 127.0.0.2", "pause",
                                             "failed 127.0.0.3", "pause", "none"));
    EXPECT_EQ(m_record.LogsWith("Discovery socket occurs errno: ").size(), 3u);
    EXPECT_TRUE(client.GetToken().empty());

    // A later walk starts at the main server again and may succeed.
    m_service.Discovery(1).Up(nullptr);
    EXPECT_EQ(client.TryLoginDiscovery(), 0);
    EXPECT_EQ(client.GetCurrentUsedHost().GetServerIp(), "127.0.0.2");
}

TEST_F(DiscoveryWalkTest, RefusalStopsTheWalkWithoutPauseOrBackups) {
    StartDiscoveryServers(2);
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts(), "wrong password");

    EXPECT_EQ(client.TryLoginDiscovery(), -1031);

    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "none"));
    EXPECT_TRUE(m_record.Logged(
        "Login discovery server successfully, but meet error: user name or password wrong, please check"));
    EXPECT_TRUE(m_service.Requests().ForServer("discovery1").empty());
    EXPECT_TRUE(client.GetDatafeedNodes().empty());
}

TEST_F(DiscoveryWalkTest, RefusalAfterSuccessKeepsTheEarlierTokenAndNodes) {
    m_service.AddDatafeedNode(NodeSpec(1, 1));
    StartDiscoveryServers(1);
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());
    ASSERT_EQ(client.TryLoginDiscovery(), 0);
    const std::string token = client.GetToken();

    m_service.Discovery(0).Faults().refuse_login = true;
    EXPECT_EQ(client.TryLoginDiscovery(), -1031);
    EXPECT_EQ(client.GetToken(), token);
    EXPECT_EQ(client.GetDatafeedNodes().size(), 1u);
    EXPECT_TRUE(m_record.Logged("meet error: login refused by the service, please check"));
}

TEST_F(DiscoveryWalkTest, AddressThatIsNotDottedIpv4FailsTheAttempt) {
    StartDiscoveryServers(1);
    DiscoveryClient client(&m_record);
    InitClient(client, {ServerHost("localhost", HostOf(0).GetServerPort(), false),
                        ServerHost("127.0.0.1", 0, false), HostOf(0)});

    EXPECT_EQ(client.TryLoginDiscovery(), 0);

    EXPECT_THAT(m_record.Walk(), ElementsAre("failed localhost", "pause", "failed 127.0.0.1", "pause",
                                             "response", "success 127.0.0.1 []"));
    // Neither entry got as far as a connection.
    EXPECT_THAT(m_record.LogsWith("Try to connect discovery server: localhost"), IsEmpty());
    EXPECT_THAT(m_record.LogsWith("Try to connect discovery server: 127.0.0.1:0"), IsEmpty());
}

TEST_F(DiscoveryWalkTest, TlsWithoutContextGivesUp) {
    StartDiscoveryServers(2);
    DiscoveryClient client(&m_record);
    const auto hosts = AllHosts();
    client.InitParams(kUser, kPassword, true, hosts[0], {hosts[1]});

    EXPECT_EQ(client.TryLoginDiscovery(), -1031);

    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "none"));
    EXPECT_TRUE(m_record.Logged("Create ssl failed!"));
    EXPECT_TRUE(m_record.Logged("Please init ssl env before login!"));
    EXPECT_EQ(m_service.Requests().Size(), 0u);
}

TEST_F(DiscoveryWalkTest, WalkWithoutServersEndsRetryable) {
    DiscoveryClient client(&m_record);
    EXPECT_EQ(client.TryLoginDiscovery(), -1030);
    EXPECT_THAT(m_record.Walk(), ElementsAre("none"));
}

// Holds a walk inside its first attempt: the server never answers.
class RunningWalk {
public:
    RunningWalk(DiscoveryClient* client, SimService& service) : m_service(service) {
        m_result = std::async(std::launch::async, [client] { return client->TryLoginDiscovery(); });
        m_service.Requests().WaitUntil([](const std::vector<SimRequest>& log) { return !log.empty(); },
                                       std::chrono::seconds(30));
    }
    int Result() { return m_result.get(); }

private:
    SimService& m_service;
    std::future<int> m_result;
};

TEST_F(DiscoveryWalkTest, SecondWalkWhileOneRunsIsRefused) {
    StartDiscoveryServers(1);
    m_service.Discovery(0).Faults().sabotage = SimSabotage::kSilence;
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());
    RunningWalk walk(&client, m_service);

    EXPECT_EQ(client.TryLoginDiscovery(), -1030);
    EXPECT_TRUE(m_record.Logged("Discovery client is running"));

    // Ending the attempt from here lets the running walk finish normally.
    client.CloseSocket();
    EXPECT_EQ(walk.Result(), -1030);
    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "pause", "none"));
    EXPECT_FALSE(m_record.Logged("READ IDLE"));
}

TEST_F(DiscoveryWalkTest, DestroyingTheClientEndsARunningAttempt) {
    StartDiscoveryServers(2);
    m_service.Discovery(0).Faults().sabotage = SimSabotage::kSilence;
    auto client = std::make_unique<DiscoveryClient>(&m_record);
    InitClient(*client, AllHosts());
    RunningWalk walk(client.get(), m_service);

    client.reset();

    // The attempt ended by the break, not by its 30-second read timeout, and
    // the backup was never tried.
    EXPECT_EQ(walk.Result(), -1031);
    EXPECT_FALSE(m_record.Logged("READ IDLE"));
    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "none"));
    EXPECT_TRUE(m_service.Requests().ForServer("discovery1").empty());
}

TEST_F(DiscoveryWalkTest, DestroyingTheClientCutsThePauseShort) {
    TestSeam::SetTimeDivisor(1);  // the whole 5-second pause
    StartDiscoveryServers(2);
    const auto hosts = AllHosts();
    m_service.Discovery(0).Down();
    auto client = std::make_unique<DiscoveryClient>(&m_record);
    InitClient(*client, hosts);
    DiscoveryClient* walking = client.get();
    auto result = std::async(std::launch::async, [walking] { return walking->TryLoginDiscovery(); });
    m_record.WaitForLog("Pause ");

    client.reset();

    EXPECT_EQ(result.get(), -1031);
    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "pause", "none"));
    EXPECT_TRUE(m_service.Requests().ForServer("discovery1").empty());
}

// How the session's daemon ends a walk it runs: stop, then break the loop.
TEST_F(DiscoveryWalkTest, StopFromAnotherThreadEndsTheWalkAfterTheAttempt) {
    StartDiscoveryServers(2);
    m_service.Discovery(0).Faults().sabotage = SimSabotage::kSilence;
    DiscoveryClient client(&m_record);
    InitClient(client, AllHosts());
    RunningWalk walk(&client, m_service);

    client.StopLoginCauseFailed();
    client.CloseSocket();

    EXPECT_EQ(walk.Result(), -1031);
    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "none"));
    EXPECT_TRUE(m_service.Requests().ForServer("discovery1").empty());

    // The next walk starts afresh.
    m_service.Discovery(0).Faults().sabotage = SimSabotage::kNone;
    EXPECT_EQ(client.TryLoginDiscovery(), 0);
}

TEST_F(DiscoveryWalkTest, StopFromAnotherThreadCutsThePauseShort) {
    TestSeam::SetTimeDivisor(1);  // the whole 5-second pause
    StartDiscoveryServers(2);
    const auto hosts = AllHosts();
    m_service.Discovery(0).Down();
    DiscoveryClient client(&m_record);
    InitClient(client, hosts);
    auto result = std::async(std::launch::async, [&client] { return client.TryLoginDiscovery(); });
    m_record.WaitForLog("Pause ");

    client.StopLoginCauseFailed();
    client.CloseSocket();

    EXPECT_EQ(result.get(), -1031);
    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "pause", "none"));
    EXPECT_TRUE(m_service.Requests().ForServer("discovery1").empty());
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
