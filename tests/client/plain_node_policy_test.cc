// Nodes that the node table marks plain while the session uses TLS.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "client/socket_connect_test_peer.h"
#include "common/base_config.h"

namespace com::mivo::kmr::client::testing {
namespace {

class PlainNodeUnderTls : public ::testing::Test {
protected:
    void SetUp() override { BaseConfig::GetInstance().SetUseSSL(true); }
    void TearDown() override {
        BaseConfig::GetInstance().SetUseSSL(false);
        BaseConfig::GetInstance().SetRefusePlainNodes(false);
    }

    static std::string Address(const ScriptedNode& node) {
        return "127.0.0.1:" + std::to_string(node.Port());
    }

    // One site (type 4) over the nodes, with its first connection attempt made.
    static std::unique_ptr<ConnectionRig> Connect(const std::vector<const ScriptedNode*>& nodes) {
        SiteNodeMap table;
        int priority = 9;
        for (const ScriptedNode* node : nodes) {
            table.emplace(priority--, node->Host());
        }
        auto rig = std::make_unique<ConnectionRig>(table, 4);
        rig->connection->TryConnect();
        return rig;
    }

    LogRecorder log;
};

TEST_F(PlainNodeUnderTls, IsReachedWithAWarningNamingTheNode) {
    ScriptedNode node;
    auto rig = Connect({&node});

    ASSERT_TRUE(rig->WaitState(SocketConnectThread::CONNECT_STATE_SUCCESS));
    EXPECT_TRUE(log.Has("Datafeed node " + Address(node) +
                        " of site type 4 is not TLS although TLS is on: the session token travels in clear"));
    EXPECT_EQ(node.Accepted(), 1);
}

TEST_F(PlainNodeUnderTls, IsRefusedWhenTheConfigurationSaysSo) {
    BaseConfig::GetInstance().SetRefusePlainNodes(true);
    ScriptedNode first;
    ScriptedNode second;
    auto rig = Connect({&first, &second});

    ASSERT_TRUE(rig->WaitState(SocketConnectThread::CONNECT_STATE_FAILED));
    EXPECT_TRUE(log.Has("Datafeed node " + Address(first) +
                        " of site type 4 is not TLS although TLS is on: refused"));
    EXPECT_TRUE(log.Has("Datafeed node " + Address(second) +
                        " of site type 4 is not TLS although TLS is on: refused"));
    EXPECT_EQ(first.Accepted(), 0);
    EXPECT_EQ(second.Accepted(), 0);
    EXPECT_FALSE(log.Has("the session token travels in clear"));
}

TEST_F(PlainNodeUnderTls, RefusalLeavesPlainSessionsAlone) {
    BaseConfig::GetInstance().SetUseSSL(false);
    BaseConfig::GetInstance().SetRefusePlainNodes(true);
    ScriptedNode node;
    auto rig = Connect({&node});

    ASSERT_TRUE(rig->WaitState(SocketConnectThread::CONNECT_STATE_SUCCESS));
    EXPECT_FALSE(log.Has("is not TLS"));
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
