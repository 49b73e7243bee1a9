// zel-sim's flags, config file and control commands.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim/sim_command_line.h"
#include "sim/sim_control.h"
#include "sim/sim_service.h"

namespace com::mivo::kmr::client::testing {
namespace {

bool Parse(std::vector<std::string> args, SimLaunchPlan* plan, std::string* error) {
    return SimCommandLine::Parse(args, plan, error);
}

TEST(SimCommandLineTest, NoArgumentsGiveTheDemoLayout) {
    SimLaunchPlan plan;
    std::string error;
    ASSERT_TRUE(Parse({}, &plan, &error)) << error;
    ASSERT_EQ(plan.discovery.size(), 1u);
    EXPECT_EQ(plan.discovery[0].endpoint.ip, "127.0.0.1");
    EXPECT_EQ(plan.discovery[0].endpoint.port, 0);
    ASSERT_EQ(plan.nodes.size(), 4u);
    EXPECT_EQ(plan.nodes[0].name, "site1-node0");
    EXPECT_EQ(plan.nodes[1].priority, 8);
    EXPECT_EQ(plan.nodes[3].name, "site2-node1");
    ASSERT_EQ(plan.accounts.size(), 1u);
    EXPECT_EQ(plan.accounts[0].user, "demo");
    EXPECT_EQ(plan.options.feed.securities, 3000);
}

TEST(SimCommandLineTest, FlagsDescribeServersFeedAndSchedule) {
    SimLaunchPlan plan;
    std::string error;
    ASSERT_TRUE(Parse({"--ip",
                       "127.0.0.2",
                       "--discovery",
                       "9550",
                       "--discovery=127.0.0.3:9551",
                       "--site",
                       "7:3:9600",
                       "--node",
                       "8:4:0:tls",
                       "--account",
                       "a:b:c",
                       "--rate",
                       "0",
                       "--tick",
                       "5",
                       "--lz4",
                       "above:2048",
                       "--tls",
                       "--drop-node-after",
                       "10",
                       "--down-for",
                       "4",
                       "--at",
                       "2.5:mute all on"},
                      &plan, &error))
        << error;
    ASSERT_EQ(plan.discovery.size(), 2u);
    EXPECT_EQ(plan.discovery[0].endpoint.ip, "127.0.0.2");
    EXPECT_EQ(plan.discovery[0].endpoint.port, 9550);
    EXPECT_EQ(plan.discovery[1].endpoint.ip, "127.0.0.3");
    EXPECT_TRUE(plan.discovery[1].endpoint.tls);
    ASSERT_EQ(plan.nodes.size(), 4u);
    EXPECT_EQ(plan.nodes[2].endpoint.port, 9602);
    EXPECT_EQ(plan.nodes[2].priority, 7);
    EXPECT_EQ(plan.nodes[3].name, "site8-node0");
    EXPECT_EQ(plan.accounts[0].password, "b:c") << "passwords may hold colons";
    EXPECT_EQ(plan.options.feed.records_per_second, 0);
    EXPECT_EQ(plan.options.feed.tick_ms, 5);
    EXPECT_EQ(plan.options.feed.compression, SimCompression::kAboveSize);
    EXPECT_EQ(plan.options.feed.compress_above_bytes, 2048);
    ASSERT_EQ(plan.schedule.size(), 3u);
    EXPECT_EQ(plan.schedule[0].second, "mute all on");
    EXPECT_EQ(plan.schedule[1], std::make_pair(10.0, std::string("down site7-node0")));
    EXPECT_EQ(plan.schedule[2], std::make_pair(14.0, std::string("up site7-node0")));
}

TEST(SimCommandLineTest, BadInputIsNamed) {
    const std::vector<std::vector<std::string>> bad = {
        {"--rate", "-1"},       {"--rate", "fast"},
        {"--site", "1:0"},      {"--node", "1"},
        {"--discovery", "x:1"}, {"--discovery", "70000"},
        {"--lz4", "sometimes"}, {"--account", "nopassword"},
        {"--securities"},       {"stray"},
        {"--nonsense", "1"},    {"--at", "soon:down all"},
        {"--tick", "0"},        {"--tick", "1001"},
    };
    for (const auto& args : bad) {
        SimLaunchPlan plan;
        std::string error;
        EXPECT_FALSE(Parse(args, &plan, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimCommandLineTest, ConfigFileHoldsTheSameOptions) {
    const std::string path = ::testing::TempDir() + "zel_sim_test.conf";
    {
        std::ofstream file(path);
        file << "# demo layout\n\nsite 3:1\nrate=250   # per connection\n  securities 100\n";
    }
    SimLaunchPlan plan;
    std::string error;
    ASSERT_TRUE(Parse({"--config", path, "--seed", "7"}, &plan, &error)) << error;
    EXPECT_EQ(plan.nodes.size(), 1u);
    EXPECT_EQ(plan.nodes[0].site_type, 3);
    EXPECT_EQ(plan.options.feed.records_per_second, 250);
    EXPECT_EQ(plan.options.feed.securities, 100);
    EXPECT_EQ(plan.options.feed.seed, 7u);

    {
        std::ofstream file(path);
        file << "site 1\nbatch zero\n";
    }
    SimLaunchPlan broken;
    EXPECT_FALSE(Parse({"--config", path}, &broken, &error));
    EXPECT_NE(error.find(":2:"), std::string::npos) << error;
    std::remove(path.c_str());
    EXPECT_FALSE(Parse({"--config", path}, &broken, &error));
}

TEST(SimControlTest, CommandsFlipFaultsAndTakeServersDown) {
    SimServiceOptions options;
    options.feed.securities = 10;
    SimService service(options);
    service.AddDiscoveryServer();
    service.AddDatafeedNode(SimNodeSpec());
    ASSERT_TRUE(service.Start());
    SimControl control(service);
    SimServer& node = service.Node(0);

    EXPECT_EQ(control.Execute("mute site1-node0 on").rfind("ok", 0), 0u);
    EXPECT_TRUE(node.Faults().mute_heartbeat);
    EXPECT_EQ(control.Execute("refuse-login all on").rfind("ok", 0), 0u);
    EXPECT_TRUE(service.Discovery(0).Faults().refuse_login);
    control.Execute("delay site1-node0 250");
    EXPECT_EQ(node.Faults().response_delay_ms, 250);
    control.Execute("sabotage site1-node0 garbage 2");
    EXPECT_EQ(node.Faults().sabotage, SimSabotage::kGarbage);
    EXPECT_EQ(node.Faults().sabotage_count, 2);
    control.Execute("clear all");
    EXPECT_FALSE(node.Faults().mute_heartbeat);
    EXPECT_EQ(node.Faults().sabotage, SimSabotage::kNone);

    EXPECT_EQ(control.Execute("down site1-node0"), "ok down site1-node0");
    EXPECT_FALSE(node.IsUp());
    EXPECT_EQ(control.Execute("up site1-node0"), "ok up site1-node0");
    EXPECT_TRUE(node.IsUp());

    control.Execute("rate 0");
    EXPECT_EQ(service.Node(0).FeedOptions().records_per_second, 0);
    control.Execute("lz4 always");
    EXPECT_EQ(service.Node(0).FeedOptions().compression, SimCompression::kAlways);

    EXPECT_EQ(control.Execute(""), "");
    EXPECT_EQ(control.Execute("# a comment"), "");
    EXPECT_EQ(control.Execute("mute nowhere on").rfind("error:", 0), 0u);
    EXPECT_EQ(control.Execute("mute site1-node0 maybe").rfind("error:", 0), 0u);
    EXPECT_EQ(control.Execute("delay site1-node0 -5").rfind("error:", 0), 0u);
    EXPECT_EQ(control.Execute("sabotage site1-node0 garbage 0").rfind("error:", 0), 0u);
    EXPECT_EQ(control.Execute("rate lots").rfind("error:", 0), 0u);
    EXPECT_NE(control.Execute("stats").find("site1-node0"), std::string::npos);
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
