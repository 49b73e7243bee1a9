// Teardown while another thread is inside the client (a discovery walk, a
// datafeed login, a subscribe) ends that call and finishes promptly; and a
// service that keeps refusing discovery logins is asked again ever more
// slowly instead of in a tight loop.
#include <future>

#include "ESysMessageType.pb.h"
#include "client/session_fixture.h"
#include "support/misbehaving_peer.h"

namespace com::mivo::kmr::client {
namespace {

namespace model = com::mivo::zel::model;
using testing::MisbehavingPeer;
using Answer = MisbehavingPeer::Answer;

class TeardownTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        // Limits far longer than teardown may take.
        Configure({{"nuvexia_config_login_try_count", "3"}, {"nuvexia_config_login_try_interval", "30"}});
        m_discovery.SetNodeTable({MisbehavingPeer::Node(1, m_node.Ip(), m_node.Port())});
    }

    // Starts a login on another thread.
    std::future<int> LoginInBackground() {
        MakeClient();
        return std::async(std::launch::async, [this] {
            return m_client->LoginByServiceDiscovery(kUser, kPassword, m_discovery.Ip(), m_discovery.Port(),
                                                     {});
        });
    }

    // Destroys the client on this thread's behalf; false when that takes
    // longer than teardown is allowed to.
    bool DestroyWithinFiveSeconds() {
        auto done = std::async(std::launch::async, [this] { m_client.reset(); });
        return done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    }

    MisbehavingPeer m_discovery{MisbehavingPeer::Role::kDiscovery};
    MisbehavingPeer m_node{MisbehavingPeer::Role::kDatafeed};
};

TEST_F(TeardownTest, DuringADatafeedLoginThatIsNeverAnswered) {
    m_node.SetLogin(Answer::kSilent);
    auto login = LoginInBackground();
    ASSERT_TRUE(m_node.WaitForRequests(model::LOGIN_REQUEST, 1));
    ASSERT_TRUE(DestroyWithinFiveSeconds());
    ASSERT_EQ(login.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(login.get(), 0);
}

TEST_F(TeardownTest, DuringADiscoveryLoginThatIsNeverAnswered) {
    m_discovery.SetLogin(Answer::kSilent);
    auto login = LoginInBackground();
    ASSERT_TRUE(m_discovery.WaitForRequests(model::LOGIN_REQUEST, 1));
    ASSERT_TRUE(DestroyWithinFiveSeconds());
    ASSERT_EQ(login.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(login.get(), 0);
}

TEST_F(TeardownTest, DuringASubscribeThatIsNeverAnswered) {
    m_node.SetSubscribe(Answer::kSilent);
    ASSERT_EQ(LoginInBackground().get(), 0);
    auto subscribe = std::async(
        std::launch::async, [this] { return m_client->SubscribeByDatatype(model::COVERAGE, Types({3})); });
    ASSERT_TRUE(m_node.WaitForRequests(model::SUBSCRIBE_REQUEST, 1));
    ASSERT_TRUE(DestroyWithinFiveSeconds());
    ASSERT_EQ(subscribe.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(subscribe.get(), -1040);
}

TEST_F(SessionTest, RefusedDiscoveryLoginsInAReconnectBackOff) {
    // Daemon checks every second; at this test's speed the first pause is 20 ms.
    StartService();
    MakeClient();
    ASSERT_EQ(Login(), 0);
    m_service->Discovery(0).Faults().refuse_login = true;
    m_service->Node(0).Down();
    ASSERT_TRUE(m_log.WaitFor("Relogin discovery service failed 1 time(s)"));
    const int64_t first = m_service->Discovery(0).Counters().logins_refused.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const int64_t refused = m_service->Discovery(0).Counters().logins_refused.load() - first;
    // Pauses of about 20, 40, 80, ... ms up to a second: a handful of
    // attempts, where a loop without pauses makes thousands.
    EXPECT_GE(refused, 2);
    EXPECT_LE(refused, 12);
    // The attempts are not logged one by one for ever.
    EXPECT_LE(m_log.Count("=== try to relogin discovery service ["), 6);
}

}  // namespace
}  // namespace com::mivo::kmr::client
