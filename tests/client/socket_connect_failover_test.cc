// Node failover, login refusal, TLS sessions and cross-thread use of the
// datafeed connection, against the simulated service.
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <set>

#include "client/socket_connect_test_peer.h"
#include "common/base_config.h"
#include "sim/sim_service.h"
#include "support/test_certificates.h"

namespace com::mivo::kmr::client::testing {
namespace {

using State = SocketConnectThread;

class FailoverTest : public ::testing::Test {
protected:
    void StartService(SimServiceOptions options = SimServiceOptions(), bool tls = false) {
        BaseConfig::GetInstance().SetUseSSL(tls);
        service = std::make_unique<SimService>(options);
        service->AddAccount({"alice", "secret", {}});
        for (int priority : {9, 5, 1}) {
            SimNodeSpec desc;
            desc.site_type = 1;
            desc.priority = priority;
            desc.endpoint.tls = tls;
            service->AddDatafeedNode(desc);
        }
        std::string error;
        ASSERT_TRUE(service->Start(&error)) << error;
    }

    void MakeRig(SSL_CTX* ctx = nullptr) {
        SiteNodeMap nodes;
        for (const auto& desc : service->NodeTable()) {
            nodes.emplace(desc.priority, ServerHost(desc.endpoint.ip, desc.endpoint.port, desc.endpoint.tls));
        }
        rig = std::make_unique<ConnectionRig>(nodes, 1, ctx);
        rig->token = service->Accounts().IssueToken("alice");
    }

    std::string HostOf(int node) { return "127.0.0.1:" + std::to_string(service->Node(node).Port()); }

    void TearDown() override {
        rig.reset();
        if (service) {
            service->Stop();
        }
        BaseConfig::GetInstance().SetUseSSL(false);
    }

    LogRecorder log;
    std::unique_ptr<SimService> service;
    std::unique_ptr<ConnectionRig> rig;
};

TEST_F(FailoverTest, WalksDownThePrioritiesPastNodesThatAreDown) {
    StartService();
    service->Node(0).Down();
    service->Node(1).Down();
    MakeRig();
    rig->connection->TryConnect();
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_SUCCESS));
    EXPECT_EQ(rig->connection->getCurrentHostStr(), HostOf(2));
    EXPECT_EQ(log.Count("Connect to datafeed service failed, try to reconnect other node"), 2u);
    auto tries = log.Matching("Try to connect datafeed node, site type: 1, server index: ");
    ASSERT_EQ(tries.size(), 3u);
    EXPECT_NE(tries[0].find("server index: 0, current host: " + HostOf(0)), std::string::npos);
    EXPECT_NE(tries[1].find("server index: 1, current host: " + HostOf(1)), std::string::npos);
    EXPECT_NE(tries[2].find("server index: 2, current host: " + HostOf(2)), std::string::npos);
    // A refused connection is an error: the user hears of it.
    EXPECT_EQ(rig->handle.Count("Disconnected 1 " + HostOf(0)), 1u);
    EXPECT_EQ(rig->handle.Count("Disconnected 1 " + HostOf(1)), 1u);
    EXPECT_EQ(rig->handle.Count("NodeSuccess 1 " + HostOf(2)), 1u);
    auto logins = service->Requests().OfType(model::LOGIN_REQUEST);
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].server, service->Node(2).Name());
}

TEST_F(FailoverTest, AllNodesDownStaysFailedUntilReset) {
    StartService();
    for (int i = 0; i < 3; ++i) {
        service->Node(i).Down();
    }
    MakeRig();
    rig->connection->TryConnect();
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_FAILED));
    EXPECT_EQ(log.Count("Try to connect to all datafeed node for site type: 1, but still failed"), 1u);
    EXPECT_EQ(rig->connection->getCurrentHostStr(), "");

    // No wrap-around: the first node coming back changes nothing yet.
    ASSERT_TRUE(service->Node(0).Up(nullptr));
    rig->connection->TryConnect();
    EXPECT_TRUE(rig->connection->isLoginFailed());
    EXPECT_EQ(log.Count("Try to connect to all datafeed node for site type: 1, but still failed"), 2u);

    rig->connection->Reset();
    EXPECT_EQ(rig->connection->getState(), State::CONNECT_STATE_NONE);
    EXPECT_TRUE(rig->connection->isNotSubscribed());
    rig->connection->TryConnect();
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_SUCCESS));
    EXPECT_EQ(rig->connection->getCurrentHostStr(), HostOf(0));
}

TEST_F(FailoverTest, RefusedLoginMovesToTheNextNode) {
    StartService();
    service->Node(0).Faults().refuse_login = true;
    MakeRig();
    rig->connection->TryConnect();
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_SUCCESS));
    EXPECT_EQ(rig->connection->getCurrentHostStr(), HostOf(1));
    std::vector<std::string> expected = {"NodeFailed 1 " + HostOf(0), "NodeSuccess 1 " + HostOf(1),
                                         "ServiceResponse ok"};
    EXPECT_EQ(rig->handle.Events(), expected);
    EXPECT_TRUE(log.Has("Login datafeed node failed, site type: 1"));
}

TEST_F(FailoverTest, UpdateNodeListRestartsAtTheFirstNode) {
    StartService();
    service->Node(0).Down();
    MakeRig();
    rig->connection->TryConnect();
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_SUCCESS));
    EXPECT_EQ(rig->connection->getCurrentHostStr(), HostOf(1));
    SiteNodeMap ignored;
    rig->connection->UpdateNodeList(ignored);
    EXPECT_EQ(rig->connection->getCurrentHostStr(), HostOf(0));
    EXPECT_EQ(rig->connection->getServerHost().size(), 3u);
}

TEST(SocketSetup, SetupFailuresLeaveTheConnectionIdle) {
    LogRecorder log;
    BaseConfig::GetInstance().SetUseSSL(true);
    {
        SiteNodeMap nodes;
        nodes.emplace(3, ServerHost("localhost", 9552, false));
        ConnectionRig rig(nodes);
        rig.connection->TryConnect();
        EXPECT_EQ(rig.connection->getState(), State::CONNECT_STATE_NONE);
        EXPECT_TRUE(log.Has("Call inet_pton for localhost:9552"));
    }
    {
        SiteNodeMap nodes;
        nodes.emplace(3, ServerHost("127.0.0.1", 9552, true));
        ConnectionRig rig(nodes);  // no TLS context
        rig.connection->TryConnect();
        EXPECT_EQ(rig.connection->getState(), State::CONNECT_STATE_NONE);
        EXPECT_TRUE(log.Has("Create ssl failed!, m_ssl_ctx is nullptr"));
        EXPECT_TRUE(log.Has("Please init ssl env before login datafeed service!"));
        // Setup failures do not cost the node.
        EXPECT_EQ(rig.connection->getCurrentHostStr(), "127.0.0.1:9552");
    }
    BaseConfig::GetInstance().SetUseSSL(false);
}

TEST(SocketSetup, TlsNodeIsReachedOverTcpWhenTlsIsOff) {
    LogRecorder log;
    BaseConfig::GetInstance().SetUseSSL(false);
    ScriptedNode node;
    SiteNodeMap nodes;
    nodes.emplace(1, ServerHost("127.0.0.1", node.Port(), true));
    ConnectionRig rig(nodes);
    rig.connection->TryConnect();
    ASSERT_TRUE(rig.WaitState(State::CONNECT_STATE_SUCCESS));
}

// Every TLS object the client context hands out, by first handshake.
struct HandshakeLog {
    static void Info(const SSL* ssl, int where, int ret) {
        (void)ret;
        if ((where & SSL_CB_HANDSHAKE_START) == 0) {
            return;
        }
        std::lock_guard<std::mutex> lock(Mutex());
        if (SSL_get_ex_data(ssl, Index()) != nullptr) {
            ++Reused();
        }
        SSL_set_ex_data(const_cast<SSL*>(ssl), Index(), &Reused());
        ++Started();
    }
    static int Index() {
        static int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        return index;
    }
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static int& Reused() {
        static int reused = 0;
        return reused;
    }
    static int& Started() {
        static int started = 0;
        return started;
    }
};

TEST_F(FailoverTest, EveryTlsConnectionGetsAFreshSession) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.Ok()) << certificates.Error();
    SimServiceOptions options;
    options.cert_file = certificates.CertFile();
    options.key_file = certificates.KeyFile();
    StartService(options, true);

    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(SSL_CTX_load_verify_locations(ctx, certificates.CaFile().c_str(), nullptr), 1);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_info_callback(ctx, &HandshakeLog::Info);

    MakeRig(ctx);
    rig->connection->TryConnect();
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_SUCCESS));
    // Closed by us, by failover and by a reset: each next attempt needs a new session.
    rig->connection->CloseSocket();
    // Without its socket the site is no longer logged in.
    EXPECT_FALSE(rig->connection->isLoginSuccess());
    rig->connection->Reset();
    rig->connection->TryConnect();
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_SUCCESS));
    service->Node(0).CloseConnections(SimCloseMode::kClean);  // peer closes: failover to node 1
    ASSERT_TRUE(WaitUntil([&] { return rig->connection->getCurrentHostStr() == HostOf(1); }));
    ASSERT_TRUE(rig->WaitState(State::CONNECT_STATE_SUCCESS));
    {
        std::lock_guard<std::mutex> lock(HandshakeLog::Mutex());
        EXPECT_EQ(HandshakeLog::Started(), 3);
        EXPECT_EQ(HandshakeLog::Reused(), 0);
    }
    EXPECT_EQ(service->Requests().OfType(model::LOGIN_REQUEST).size(), 3u);
    rig.reset();
    SSL_CTX_free(ctx);
}

// Resets, closes and attempts from another thread while the loop thread
// reads a busy feed: the sanitizers watch for a socket freed under a callback.
TEST(CrossThread, ResetsAndAttemptsWhileFramesArrive) {
    LogRecorder log;
    BaseConfig::GetInstance().SetUseSSL(false);
    ScriptedNode node;
    SiteNodeMap nodes;
    nodes.emplace(1, node.Host());
    ConnectionRig rig(nodes);
    std::atomic<bool> stop{false};
    std::string burst;
    for (int i = 0; i < 20; ++i) {
        burst += MarketFrame(std::string(3000, 'z'));
    }
    std::thread pusher([&] {
        while (!stop) {
            // Pauses leave the node's own answers (logins) a turn at the socket.
            std::this_thread::sleep_for(std::chrono::microseconds(node.Send(burst) ? 100 : 1000));
        }
    });
    std::thread consumer([&] {
        while (!stop) {
            if (rig.Drain().empty()) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });
    model::SubscribeRequest request;
    for (int round = 0; round < 30; ++round) {
        rig.connection->TryConnect();
        WaitUntil([&] { return rig.connection->isLoginSuccess(); }, std::chrono::seconds(2));
        rig.connection->SendSubscribeMsg(&request);
        if (round % 3 == 0) {
            rig.connection->CloseSocket();
        }
        rig.connection->Reset();
        EXPECT_EQ(rig.connection->getState(), State::CONNECT_STATE_NONE);
    }
    rig.connection->TryConnect();
    EXPECT_TRUE(rig.WaitState(State::CONNECT_STATE_SUCCESS));
    stop = true;
    pusher.join();
    consumer.join();
    rig.connection->Stop();
    EXPECT_EQ(rig.connection->getCurrentHostStr(), node.Host().ToString());
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
