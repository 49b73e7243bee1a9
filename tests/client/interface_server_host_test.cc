#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/node_map.h"
#include "client/server_host.h"

namespace com::mivo::kmr::client {
namespace {

TEST(ServerHostText, IpAndPortRoundTrip) {
    const ServerHost host(std::string("10.0.0.1:9552"));
    EXPECT_EQ(host.GetServerIp(), "10.0.0.1");
    EXPECT_EQ(host.GetServerPort(), 9552);
    EXPECT_EQ(host.ToString(), "10.0.0.1:9552");
}

TEST(ServerHostText, PortFollowsTheDecimalConversion) {
    // Without a colon the whole text is the ip and the port stops at the first dot.
    const ServerHost no_colon(std::string("10.0.0.1"));
    EXPECT_EQ(no_colon.GetServerIp(), "10.0.0.1");
    EXPECT_EQ(no_colon.GetServerPort(), 10);

    EXPECT_EQ(ServerHost(std::string("10.0.0.1:  +42")).GetServerPort(), 42);
    EXPECT_EQ(ServerHost(std::string("10.0.0.1:-7")).GetServerPort(), -7);
    EXPECT_EQ(ServerHost(std::string("10.0.0.1:9552tail")).GetServerPort(), 9552);

    // Only the first colon splits.
    const ServerHost two_colons(std::string("host:1:2"));
    EXPECT_EQ(two_colons.GetServerIp(), "host");
    EXPECT_EQ(two_colons.GetServerPort(), 1);
}

TEST(ServerHostText, MalformedPortsThrowTheStandardExceptions) {
    EXPECT_THROW(ServerHost(std::string("10.0.0.1:")), std::invalid_argument);
    EXPECT_THROW(ServerHost(std::string("10.0.0.1:port")), std::invalid_argument);
    EXPECT_THROW(ServerHost(std::string("")), std::invalid_argument);
    EXPECT_THROW(ServerHost(std::string("localhost")), std::invalid_argument);
    EXPECT_THROW(ServerHost(std::string("10.0.0.1:2147483648")), std::out_of_range);
    EXPECT_THROW(ServerHost(std::string("10.0.0.1:-99999999999")), std::out_of_range);
}

TEST(ServerHostValue, CopiesAreIndependent) {
    ServerHost original("10.1.2.3", 9552, true);
    const ServerHost copy(original);
    ServerHost assigned;
    assigned = original;
    original = ServerHost("192.168.0.1", 1, false);

    for (const ServerHost* host : std::initializer_list<const ServerHost*>{&copy, &assigned}) {
        EXPECT_EQ(host->GetServerIp(), "10.1.2.3");
        EXPECT_EQ(host->GetServerPort(), 9552);
        EXPECT_TRUE(host->IsSsl());
    }
    EXPECT_EQ(original.ToString(), "192.168.0.1:1");
    EXPECT_EQ(ServerHost().GetServerIp(), "");
}

TEST(NodeTable, SiteNodesIterateByDescendingPriorityAndKeepTheFirstHost) {
    SiteNodeMap nodes;
    nodes.emplace(1, ServerHost("10.0.0.1", 1, false));
    nodes.emplace(5, ServerHost("10.0.0.5", 5, false));
    nodes.emplace(3, ServerHost("10.0.0.3", 3, true));
    const bool inserted = nodes.emplace(5, ServerHost("10.0.0.99", 99, true)).second;
    nodes.insert({-2, ServerHost("10.0.0.2", 2, false)});

    EXPECT_FALSE(inserted);
    std::vector<int> priorities;
    for (const auto& node : nodes) {
        priorities.push_back(node.first);
    }
    EXPECT_EQ(priorities, (std::vector<int>{5, 3, 1, -2}));
    EXPECT_EQ(nodes.at(5).ToString(), "10.0.0.5:5");
}

TEST(NodeTable, SitesIterateByAscendingType) {
    DatafeedNodeMap table;
    table[7][1] = ServerHost("10.0.0.7", 7, false);
    table[-1][1] = ServerHost("10.0.0.8", 8, false);
    table[2][1] = ServerHost("10.0.0.9", 9, false);
    std::vector<int> sites;
    for (const auto& site : table) {
        sites.push_back(site.first);
    }
    EXPECT_EQ(sites, (std::vector<int>{-1, 2, 7}));
}

}  // namespace
}  // namespace com::mivo::kmr::client
