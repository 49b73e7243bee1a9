// Discovery login against the simulated service, driven by a raw client.
#include <gtest/gtest.h>

#include "protocol/service_contract.h"
#include "sim_test_fixture.h"
#include "support/test_certificates.h"

namespace com::mivo::kmr::client::testing {
namespace {

using com::mivo::zel::model::LoginResponse;

class SimDiscoveryTest : public SimServiceTest {};

TEST_F(SimDiscoveryTest, AcceptedLoginEchoesTraceIdAndPublishesEveryNode) {
    StartService();
    RawFrameClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", DiscoveryPort()));
    ASSERT_TRUE(client.SendDiscoveryLogin(kUser, kPassword));
    RawFrame frame;
    ASSERT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kFrame);

    ASSERT_TRUE(frame.meta_parsed);
    EXPECT_EQ(frame.meta.sysmessagetype(), com::mivo::zel::model::LOGIN_RESPONSE);
    EXPECT_EQ(frame.meta.zelsysmessagenum(), 1);
    EXPECT_EQ(frame.meta.traceid(), client.LastTraceId());
    LoginResponse response;
    ASSERT_TRUE(RawFrameClient::DecodeResponse(frame, &response));
    EXPECT_LE(static_cast<int>(response.ByteSizeLong()), ServiceContract::MAX_DISCOVERY_RESPONSE_BODY);
    EXPECT_TRUE(response.issuccess());
    EXPECT_EQ(response.token().size(), 32u);
    EXPECT_EQ(m_service->Accounts().LastToken(kUser), response.token());
    ASSERT_EQ(response.servers_size(), 2);
    EXPECT_EQ(response.servers(0).port(), NodePort(0));
    EXPECT_EQ(response.servers(0).ippriority(), 9);
    EXPECT_EQ(response.servers(1).ippriority(), 5);
    EXPECT_EQ(response.servers(1).sitetype(), 1);
    EXPECT_EQ(response.servers(1).ip(), "127.0.0.1");
    EXPECT_FALSE(response.servers(1).isssl());

    EXPECT_NE(DiscoveryLogin().token(), response.token()) << "every login gets a fresh token";
    EXPECT_EQ(m_service->Discovery(0).CounterValues().logins_accepted, 2);
}

TEST_F(SimDiscoveryTest, RefusalsCarryAMessageAndNoToken) {
    StartService();
    LoginResponse wrong_password = DiscoveryLogin(kUser, "not-it");
    EXPECT_FALSE(wrong_password.issuccess());
    EXPECT_EQ(wrong_password.errorcontext().message(), "user name or password wrong");
    EXPECT_TRUE(wrong_password.token().empty());
    EXPECT_EQ(wrong_password.servers_size(), 0);

    EXPECT_EQ(DiscoveryLogin("nobody", kPassword).errorcontext().message(), "user name or password wrong");

    m_service->Discovery(0).Faults().refuse_login = true;
    LoginResponse refused = DiscoveryLogin();
    EXPECT_FALSE(refused.issuccess());
    EXPECT_EQ(refused.errorcontext().message(), "login refused by the service");
    m_service->Discovery(0).Faults().refuse_login = false;
    EXPECT_TRUE(DiscoveryLogin().issuccess());
    EXPECT_EQ(m_service->Discovery(0).CounterValues().logins_refused, 3);
}

TEST_F(SimDiscoveryTest, DatafeedLoginTypeIsRefusedAtDiscovery) {
    StartService();
    RawFrameClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", DiscoveryPort()));
    ASSERT_TRUE(client.SendDatafeedLogin(kUser, "some-token"));
    RawFrame frame;
    ASSERT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kFrame);
    LoginResponse response;
    ASSERT_TRUE(RawFrameClient::DecodeResponse(frame, &response));
    EXPECT_FALSE(response.issuccess());
    EXPECT_EQ(response.errorcontext().message(), "wrong login type for discovery: 2");
}

TEST_F(SimDiscoveryTest, RequestLogKeepsTheRequestButNeverThePassword) {
    StartService();
    ASSERT_TRUE(DiscoveryLogin().issuccess());
    auto requests = m_service->Requests().ForServer("discovery0");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].message_type, com::mivo::zel::model::LOGIN_REQUEST);
    EXPECT_EQ(requests[0].trace_id.rfind("sdk_login_", 0), 0u);
    EXPECT_NE(requests[0].text.find("\"password\":\"***\""), std::string::npos) << requests[0].text;
    EXPECT_EQ(requests[0].text.find(kPassword), std::string::npos);
    com::mivo::zel::model::LoginRequest parsed;
    ASSERT_TRUE(parsed.ParseFromString(requests[0].body));
    EXPECT_EQ(parsed.uwp().username(), kUser);
    EXPECT_FALSE(parsed.linkinfo().devicemac().empty());
}

TEST_F(SimDiscoveryTest, TlsListenersServeTheSameLogin) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.Ok()) << certificates.Error();
    SimServiceOptions options;
    options.cert_file = certificates.CertFile();
    options.key_file = certificates.KeyFile();
    m_service = std::make_unique<SimService>(options);
    m_service->AddAccount({kUser, kPassword, {}});
    SimDiscoverySpec discovery;
    discovery.endpoint.tls = true;
    m_service->AddDiscoveryServer(discovery);
    SimNodeSpec node;
    node.endpoint.tls = true;
    m_service->AddDatafeedNode(node);
    std::string error;
    ASSERT_TRUE(m_service->Start(&error)) << error;

    RawFrameClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", DiscoveryPort(), certificates.CaFile()));
    ASSERT_TRUE(client.SendDiscoveryLogin(kUser, kPassword));
    RawFrame frame;
    ASSERT_EQ(client.ReadFrame(&frame), RawFrameClient::ReadResult::kFrame);
    LoginResponse response;
    ASSERT_TRUE(RawFrameClient::DecodeResponse(frame, &response));
    EXPECT_TRUE(response.issuccess());
    ASSERT_EQ(response.servers_size(), 1);
    EXPECT_TRUE(response.servers(0).isssl());

    RawFrameClient feed;
    ASSERT_TRUE(feed.Connect("127.0.0.1", NodePort(), certificates.CaFile()));
    ASSERT_TRUE(feed.SendDatafeedLogin(kUser, response.token()));
    ASSERT_TRUE(feed.ReadUntil(com::mivo::zel::model::LOGIN_RESPONSE, &frame));
    ASSERT_TRUE(RawFrameClient::DecodeResponse(frame, &response));
    EXPECT_TRUE(response.issuccess());
}

TEST(SimServiceSetup, TlsListenerWithoutCertificateDoesNotStart) {
    SimService service;
    SimDiscoverySpec discovery;
    discovery.endpoint.tls = true;
    service.AddDiscoveryServer(discovery);
    std::string error;
    EXPECT_FALSE(service.Start(&error));
    EXPECT_NE(error.find("TLS"), std::string::npos) << error;
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
