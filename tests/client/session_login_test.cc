// Login and subscription of the session controller against the simulated
// service.
#include <stdexcept>

#include "client/session_fixture.h"
#include "common/result_codes.h"

namespace com::mivo::kmr::client {
namespace {

using com::mivo::zel::model::ADD;
using com::mivo::zel::model::CANCEL;
using com::mivo::zel::model::COVERAGE;

constexpr int kZelStock = 3;
constexpr int kZelTrade = 9;

TEST_F(SessionTest, LoginAndSubscribeEndToEnd) {
    StartService({1, 2});
    MakeClient();
    ASSERT_EQ(Login(), 0);
    EXPECT_EQ(m_handle.discovery_success.load(), 1);
    EXPECT_EQ(m_handle.datafeed_success.load(), 1);
    EXPECT_EQ(m_log.Count("=== daemon thread start ==="), 1);

    ASSERT_EQ(m_client->SubscribeByDatatype(COVERAGE, Types({kZelStock})), 0);
    // One answer per site.
    EXPECT_EQ(m_handle.subscribe_responses.load(), 2);
    EXPECT_EQ(m_log.Count("SubscribeByDatatype success"), 1);
    EXPECT_EQ(m_log.Count("SubscribeByDatatype, request: {"), 1);
    const std::string id = m_service->Universe().Securities().front().id;
    ASSERT_EQ(m_client->SubscribeById(ADD, Ids(kZelTrade, {id})), 0);
    EXPECT_EQ(m_handle.subscribe_responses.load(), 4);
    EXPECT_TRUE(WaitUntil([&] { return m_handle.market_data.load() > 100; }));
    EXPECT_EQ(SubscribesAt(0).size(), 2u);
    EXPECT_EQ(SubscribesAt(1).size(), 2u);
}

TEST_F(SessionTest, RefusedSubscriptionCostsOnlyThatRequest) {
    Configure({{"nuvexia_config_subscribe_try_count", "3"}, {"nuvexia_config_subscribe_try_interval", "5"}});
    StartService();
    MakeClient();
    ASSERT_EQ(Login(), 0);
    ASSERT_EQ(m_client->SubscribeByDatatype(COVERAGE, Types({kZelStock})), 0);
    ASSERT_TRUE(WaitUntil([&] { return m_handle.market_data.load() > 0; }));
    const int accepted_logins = static_cast<int>(m_service->Node(0).Counters().logins_accepted.load());

    m_service->Node(0).Faults().refuse_subscribe = true;
    EXPECT_EQ(m_client->SubscribeByDatatype(ADD, Types({kZelTrade})), -1040);
    // Final at the first answer: no second try, no pause (5 s would show).
    EXPECT_EQ(SubscribesAt(0).size(), 2u);
    EXPECT_EQ(m_log.Count("try again"), 0);
    EXPECT_EQ(m_service->Node(0).Counters().subscribe_refused.load(), 1);
    EXPECT_EQ(m_log.Count(LOG_LEVEL_ERROR, "refused the subscription: error code 403"), 1);
    EXPECT_EQ(m_handle.subscribe_responses.load(), 1);
    m_service->Node(0).Faults().refuse_subscribe = false;

    // The link and the accepted subscription stay: data keeps flowing on the
    // same connection, nothing is replayed, no login is needed.
    const int64_t records = m_handle.market_data.load();
    EXPECT_TRUE(WaitUntil([&] { return m_handle.market_data.load() > records + 20; }));
    EXPECT_EQ(m_service->Node(0).Counters().logins_accepted.load(), accepted_logins);
    const auto subscribes = SubscribesAt(0);
    ASSERT_EQ(subscribes.size(), 2u);
    EXPECT_EQ(subscribes.front().first, subscribes.back().first);
    EXPECT_EQ(m_handle.disconnected.load(), 0);
    // The next request goes through the same link.
    ASSERT_EQ(m_client->SubscribeByDatatype(ADD, Types({kZelTrade})), 0);
    EXPECT_EQ(SubscribesAt(0).back().first, subscribes.front().first);
}

TEST_F(SessionTest, SubscribeBeforeLoginIsKeptAndReplayedByTheFirstPass) {
    StartService();
    MakeClient();
    // No site to ask yet: accepted at once and kept.
    ASSERT_EQ(m_client->SubscribeByDatatype(COVERAGE, Types({kZelStock})), 0);
    EXPECT_EQ(m_handle.subscribe_responses.load(), 0);
    ASSERT_EQ(Login(), 0);
    ASSERT_TRUE(m_log.WaitFor("In daemon thread, Some datafeed need redo subscibe"));
    ASSERT_TRUE(WaitUntil([&] { return m_handle.subscribe_responses.load() == 1; }));
    ASSERT_EQ(SubscribesAt(0).size(), 1u);
    EXPECT_EQ(SubscribesAt(0).front().second.subscribeactiontype(), COVERAGE);
    EXPECT_TRUE(WaitUntil([&] { return m_handle.market_data.load() > 0; }));
}

TEST_F(SessionTest, DiscoveryRefusalGivesUpAfterOneAttempt) {
    Configure({{"nuvexia_config_login_try_count", "3"}});
    StartService();
    m_service->AddDiscoveryServer();  // a backup that must stay untried
    m_service->Discovery(0).Faults().refuse_login = true;
    MakeClient();
    const std::string backup = "127.0.0.1:" + std::to_string(m_service->Discovery(1).Port());
    EXPECT_EQ(Login({backup}), -1031);
    EXPECT_EQ(m_log.Count("=== try to login discovery service [1/3] ... ==="), 1);
    EXPECT_EQ(m_log.Count("=== try to login discovery service [2/3]"), 0);
    EXPECT_EQ(m_handle.discovery_failed.load(), 1);
    EXPECT_TRUE(m_service->Requests().ForServer(m_service->Discovery(1).Name()).empty());
    EXPECT_EQ(m_log.Count("=== daemon thread start ==="), 0);
}

TEST_F(SessionTest, UnreachableDiscoveryGivesRetryAfterEveryAttempt) {
    StartService();
    m_service->Discovery(0).Down();
    MakeClient();
    EXPECT_EQ(Login(), -1030);
    EXPECT_EQ(m_log.Count("=== try to login discovery service [2/2] ... ==="), 1);
    EXPECT_EQ(m_handle.no_discovery.load(), 2);
    EXPECT_EQ(m_log.Count("=== daemon thread start ==="), 0);
}

TEST_F(SessionTest, DatafeedLoginFailureClosesTheSitesAndStartsNoDaemon) {
    StartService();
    m_service->Node(0).Faults().refuse_login = true;
    MakeClient();
    EXPECT_EQ(Login(), -1033);
    EXPECT_EQ(m_log.Count("Try to login datafeed service [2/2]"), 1);
    EXPECT_EQ(m_log.Count("Login datafeed service failed, ret=-1033"), 2);
    EXPECT_EQ(m_handle.datafeed_failed.load(), 2);
    EXPECT_EQ(m_log.Count("=== daemon thread start ==="), 0);
}

TEST_F(SessionTest, LoginTryCountZeroSucceedsWithoutAnyConnection) {
    Configure({{"nuvexia_config_login_try_count", "0"}});
    StartService();
    MakeClient();
    EXPECT_EQ(Login(), 0);
    EXPECT_EQ(m_service->Requests().Size(), 0u);
    EXPECT_EQ(m_handle.discovery_success.load(), 0);
    EXPECT_TRUE(m_log.WaitFor("=== daemon thread start ==="));
}

TEST_F(SessionTest, MalformedBackupRaisesBeforeAnyConnection) {
    StartService();
    MakeClient();
    EXPECT_THROW(Login({"127.0.0.1:"}), std::invalid_argument);
    EXPECT_THROW(Login({"127.0.0.1:abc"}), std::invalid_argument);
    EXPECT_THROW(Login({"127.0.0.1:99999999999"}), std::out_of_range);
    EXPECT_EQ(m_service->Requests().Size(), 0u);
    EXPECT_EQ(m_log.Count("=== try to login discovery service"), 0);
    // The client is still usable afterwards.
    EXPECT_EQ(Login(), 0);
}

// The cipher has room for 495 bytes; a longer password was sent empty.
TEST_F(SessionTest, PasswordTooLongToSendIsRefusedBeforeAnyConnection) {
    StartService();
    MakeClient();
    const std::string password(496, 'p');
    EXPECT_EQ(
        m_client->LoginByServiceDiscovery(kUser, password, "127.0.0.1", m_service->Discovery(0).Port(), {}),
        RESULT_BAD_PARAMETERS);
    EXPECT_EQ(m_service->Requests().Size(), 0u);
    EXPECT_EQ(m_handle.discovery_success.load(), 0);
}

TEST_F(SessionTest, SecondLoginReplacesTheSessionWithOneDaemon) {
    StartService({1, 2});
    MakeClient();
    ASSERT_EQ(Login(), 0);
    ASSERT_EQ(m_client->SubscribeByDatatype(COVERAGE, Types({kZelStock})), 0);
    ASSERT_EQ(m_client->SubscribeByDatatype(CANCEL, Types({kZelStock})), 0);
    ASSERT_EQ(Login(), 0);
    EXPECT_EQ(m_log.Count("=== daemon thread start ==="), 2);
    EXPECT_EQ(m_log.Count("=== daemon thread quit ==="), 1);
    EXPECT_EQ(m_handle.discovery_success.load(), 2);
    // The new session got the registry, in order.
    for (int node = 0; node < 2; ++node) {
        ASSERT_TRUE(WaitUntil([&] { return SubscribesAt(node).size() == 4u; }));
        const auto subscribes = SubscribesAt(node);
        EXPECT_EQ(subscribes[2].second.subscribeactiontype(), COVERAGE);
        EXPECT_EQ(subscribes[3].second.subscribeactiontype(), CANCEL);
        EXPECT_NE(subscribes[1].first, subscribes[2].first);
    }
    m_client.reset();
    EXPECT_EQ(m_log.Count("=== daemon thread quit ==="), 2);
}

}  // namespace
}  // namespace com::mivo::kmr::client
