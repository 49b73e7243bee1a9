// The daemon thread: reconnect with the old token or a new one, replay of
// the registry, clock steps, and stopping while a reconnect runs.
#include <algorithm>
#include <future>

#include "client/session_fixture.h"

namespace com::mivo::kmr::client {
namespace {

using com::mivo::zel::model::ADD;
using com::mivo::zel::model::CANCEL;
using com::mivo::zel::model::COVERAGE;
using com::mivo::zel::model::ESubscribeActionType;

constexpr int kZelStock = 3;
constexpr int kZelTrade = 9;

const std::vector<ESubscribeActionType> kRegistry = {COVERAGE, CANCEL, ADD};

class ReconnectTest : public SessionTest {
protected:
    // Logs in and builds a registry of three entries: a coverage, its
    // cancel, and an add by id. Only the replay in this order leaves data
    // flowing.
    void LoginWithRegistry(std::vector<int> sites = {1}) {
        StartService(sites);
        MakeClient();
        ASSERT_EQ(Login(), 0);
        for (const auto& security : m_service->Universe().Securities()) {
            for (int type : security.data_types) {
                if (type == kZelTrade && m_id.empty()) {
                    m_id = security.id;
                }
            }
        }
        ASSERT_FALSE(m_id.empty());
        ASSERT_EQ(m_client->SubscribeByDatatype(COVERAGE, Types({kZelStock})), 0);
        ASSERT_EQ(m_client->SubscribeByDatatype(CANCEL, Types({kZelStock})), 0);
        ASSERT_EQ(m_client->SubscribeById(ADD, Ids(kZelTrade, {m_id})), 0);
        ASSERT_EQ(SubscribesAt(0).size(), 3u);
    }

    // The actions a node received on its newest connection.
    std::vector<ESubscribeActionType> ActionsOnLastConnection(int node) {
        const auto subscribes = SubscribesAt(node);
        std::vector<ESubscribeActionType> actions;
        if (subscribes.empty()) {
            return actions;
        }
        for (const auto& entry : subscribes) {
            if (entry.first == subscribes.back().first) {
                actions.push_back(entry.second.subscribeactiontype());
            }
        }
        return actions;
    }

    // The registry arrived whole on a connection other than the given one.
    bool ReplayedAfter(int node, uint64_t old_connection) {
        const auto subscribes = SubscribesAt(node);
        return !subscribes.empty() && subscribes.back().first != old_connection &&
               ActionsOnLastConnection(node) == kRegistry;
    }

    // Destroys the client on another thread; false if that never ends.
    bool DestroyClient() {
        auto done = std::async(std::launch::async, [this] { m_client.reset(); });
        return done.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    }

    std::string m_id;
};

TEST_F(ReconnectTest, NodeDropWithValidTokenReplaysTheRegistryInOrder) {
    LoginWithRegistry({1, 2});
    const auto first_connection = SubscribesAt(0).front().first;
    const int answers = m_handle.subscribe_responses.load();

    m_service->Node(0).CloseConnections(SimCloseMode::kReset);
    ASSERT_TRUE(m_log.WaitFor("Relogin datafeed service by pre token successfully! Try to redo subcribe..."));
    ASSERT_TRUE(
        WaitUntil([&] { return SubscribesAt(0).size() == 6u && ActionsOnLastConnection(0) == kRegistry; }));
    EXPECT_NE(SubscribesAt(0).back().first, first_connection);
    EXPECT_EQ(m_log.Count("In daemon thread, client need reconnect after check, try to close socket"), 1);
    EXPECT_EQ(m_log.Count("Retry to login datafeed service [1/2]"), 1);
    EXPECT_EQ(m_log.Count("try to login discovery service"), 1);  // the login's own walk only
    EXPECT_EQ(m_handle.discovery_success.load(), 1);
    // The replay goes to every site; every accepted entry is answered per
    // accepting site.
    EXPECT_TRUE(WaitUntil([&] { return m_handle.subscribe_responses.load() == answers + 6; }));
    // The site that stayed up gets the script again on its old connection.
    const std::vector<ESubscribeActionType> twice = {COVERAGE, CANCEL, ADD, COVERAGE, CANCEL, ADD};
    EXPECT_EQ(ActionsOnLastConnection(1), twice);
    const int64_t records = m_handle.market_data.load();
    EXPECT_TRUE(WaitUntil([&] { return m_handle.market_data.load() > records + 50; }));
}

TEST_F(ReconnectTest, ExpiredTokenLeadsToANewDiscoveryLoginAndReplay) {
    LoginWithRegistry();
    const std::string old_token = m_service->Accounts().LastToken(kUser);
    m_service->Accounts().ExpireAllTokens();
    m_service->Node(0).CloseConnections(SimCloseMode::kReset);

    ASSERT_TRUE(m_log.WaitFor(
        "Reconnect, try to login discovery service directly success, try to login datafeed service again"));
    ASSERT_TRUE(
        WaitUntil([&] { return ActionsOnLastConnection(0) == kRegistry && SubscribesAt(0).size() == 6; }));
    EXPECT_EQ(m_log.Count("Retry to login datafeed service [2/2]"), 1);
    EXPECT_EQ(m_log.Count("Login datafeed service failed, ret=-1033"), 2);
    EXPECT_EQ(m_log.Count("=== try to relogin discovery service [1] ... ==="), 1);
    EXPECT_EQ(m_log.Count("Try to login datafeed service [1/2]"), 2);  // the first login and the new one
    EXPECT_EQ(m_handle.discovery_success.load(), 2);
    EXPECT_NE(m_service->Accounts().LastToken(kUser), old_token);
    const int64_t records = m_handle.market_data.load();
    EXPECT_TRUE(WaitUntil([&] { return m_handle.market_data.load() > records + 50; }));
}

TEST_F(ReconnectTest, RefusedReplayEntriesAreSkippedAndNoLinkIsDropped) {
    Configure({{"nuvexia_config_subscribe_try_count", "1"}});
    LoginWithRegistry({1, 2});
    const auto first_connection = SubscribesAt(0).front().first;
    const auto second_site_connection = SubscribesAt(1).front().first;
    // The node refuses the replay after the reset, then accepts again; a
    // switch flipped by this thread could land in the middle of a pass.
    m_service->Node(0).Faults().refuse_subscribe_count = static_cast<int>(kRegistry.size());
    m_service->Node(0).CloseConnections(SimCloseMode::kReset);

    ASSERT_TRUE(m_log.WaitFor("Relogin datafeed service by pre token successfully!"));
    // A refusal is final for its entry and costs nothing else: no site is
    // reset, the other site keeps its link.
    // Every entry is offered, in order, although each is refused. Until the
    // new connection has received its first request the newest connection
    // is still the first one, whose registry was accepted.
    ASSERT_TRUE(WaitUntil([&] {
        const auto subscribes = SubscribesAt(0);
        const auto actions = ActionsOnLastConnection(0);
        return !subscribes.empty() && subscribes.back().first != first_connection &&
               actions.size() >= kRegistry.size() &&
               std::equal(kRegistry.begin(), kRegistry.end(), actions.begin());
    }));
    EXPECT_TRUE(WaitUntil([&] { return m_service->Node(0).Counters().subscribe_refused.load() == 3; }));
    const int relogin = m_log.Find("Relogin datafeed service by pre token successfully!");
    EXPECT_LT(m_log.Find("Reset connect thread", relogin), 0);

    // Once the node accepts again the next pass replays the registry to it,
    // on the same connection.
    ASSERT_TRUE(WaitUntil([&] {
        const auto actions = ActionsOnLastConnection(0);
        return actions.size() >= 2 * kRegistry.size() &&
               std::equal(kRegistry.begin(), kRegistry.end(),
                          actions.end() - static_cast<long>(kRegistry.size()));
    }));
    EXPECT_EQ(m_service->Node(0).Counters().subscribe_refused.load(), 3);
    EXPECT_NE(SubscribesAt(0).back().first, first_connection);
    EXPECT_EQ(SubscribesAt(1).back().first, second_site_connection);
    const int64_t records = m_handle.market_data.load();
    EXPECT_TRUE(WaitUntil([&] { return m_handle.market_data.load() > records + 50; }));
}

TEST_F(ReconnectTest, CheckIntervalZeroStillLetsCallersThrough) {
    Configure({{"nuvexia_config_daemon_check_interval", "0"}});
    LoginWithRegistry();
    const auto first_connection = SubscribesAt(0).front().first;
    m_service->Node(0).CloseConnections(SimCloseMode::kReset);
    ASSERT_TRUE(m_log.WaitFor("Relogin datafeed service by pre token successfully!"));
    ASSERT_TRUE(WaitUntil([&] { return ReplayedAfter(0, first_connection); }));
    // Passes follow each other without pause, yet subscribe calls get the
    // datafeed client between them.
    EXPECT_EQ(m_client->SubscribeByDatatype(ADD, Types({kZelTrade})), 0);
    EXPECT_EQ(SubscribesAt(0).back().second.subscribeactiontype(), ADD);
}

TEST_F(ReconnectTest, WallClockSetBackIsNoticedOnce) {
    Configure({{"nuvexia_config_daemon_check_interval", "0"}});
    StartService();
    MakeClient();
    std::atomic<int64_t> now{1'800'000'000};
    std::atomic<int> reads{0};
    NuvexiaTcpClientTestPeer::SetWallClock(*m_client, [&] {
        ++reads;
        return now.load();
    });
    ASSERT_EQ(Login(), 0);
    ASSERT_TRUE(WaitUntil([&] { return reads.load() > 10; }));
    EXPECT_EQ(m_log.Count("Back in time"), 0);
    now -= 3600;
    ASSERT_TRUE(m_log.WaitFor("Back in time, reset heartbeat time"));
    const int after = reads.load();
    ASSERT_TRUE(WaitUntil([&] { return reads.load() > after + 10; }));
    EXPECT_EQ(m_log.Count(LOG_LEVEL_DEBUG, "Back in time, reset heartbeat time"), 1);
    m_client.reset();
}

TEST_F(ReconnectTest, DestroyDuringDiscoveryPhaseFinishes) {
    LoginWithRegistry();
    m_service->Accounts().ExpireAllTokens();
    m_service->Discovery(0).Down();
    m_service->Node(0).CloseConnections(SimCloseMode::kReset);
    // Walks keep failing: the daemon loops in the discovery phase.
    ASSERT_TRUE(m_log.WaitFor("=== try to relogin discovery service [3] ... ==="));
    ASSERT_TRUE(DestroyClient());
    EXPECT_EQ(m_log.Count("=== daemon thread quit ==="), 1);
}

TEST_F(ReconnectTest, DestroyDuringALongConfiguredPauseFinishes) {
    Configure({{"nuvexia_config_login_try_interval", "3600"}, {"nuvexia_config_login_try_count", "1"}});
    LoginWithRegistry();
    m_service->Node(0).Down();
    ASSERT_TRUE(m_log.WaitFor("Login datafeed service failed, ret=-1033"));
    // The daemon now waits an hour before its next step.
    ASSERT_TRUE(DestroyClient());
    EXPECT_EQ(m_log.Count("=== daemon thread quit ==="), 1);
}

TEST_F(ReconnectTest, DestroyWhileDiscoveryRefusesFinishes) {
    LoginWithRegistry();
    m_service->Accounts().ExpireAllTokens();
    m_service->Discovery(0).Faults().refuse_login = true;
    m_service->Node(0).CloseConnections(SimCloseMode::kReset);
    // Refused walks follow each other at once.
    ASSERT_TRUE(m_log.WaitFor("=== try to relogin discovery service [3] ... ==="));
    ASSERT_TRUE(DestroyClient());
}

}  // namespace
}  // namespace com::mivo::kmr::client
