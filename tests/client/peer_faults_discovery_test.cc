// A discovery server that misbehaves: it never completes the connection,
// trickles its answer, refuses, or speaks TLS to a plain client. Every
// attempt ends at a limit that names what happened.
#include <cstdio>
#include <fstream>

#include <openssl/ssl.h>

#include "ESysMessageType.pb.h"
#include "tests/client/discovery_test_kit.h"
#include "tests/support/misbehaving_peer.h"
#include "tests/support/test_certificates.h"

namespace com::mivo::kmr::client::testing {
namespace {

namespace model = com::mivo::zel::model;
using Answer = MisbehavingPeer::Answer;

// Sets one configuration key through a file; no setter exists for it.
void SetConfigKey(const std::string& key, const std::string& value) {
    const std::string path =
        ::testing::TempDir() + "discovery_faults_" + std::to_string(::getpid()) + ".conf";
    {
        std::ofstream file(path);
        file << key << "=" << value << "\n";
    }
    ASSERT_TRUE(BaseConfig::GetInstance().SetConfigFilePath(path));
    std::remove(path.c_str());
}

class DiscoveryFaultTest : public DiscoveryTest {
protected:
    void TearDown() override {
        SetConfigKey("nuvexia_config_login_response_wait_time", "30");
        DiscoveryTest::TearDown();
    }

    int LoginAt(const MisbehavingPeer& peer) {
        DiscoveryClient client(&m_record);
        client.InitParams(kUser, kPassword, false, peer.Host(), {});
        return client.TryLoginDiscovery();
    }

    MisbehavingPeer m_peer{MisbehavingPeer::Role::kDiscovery};
};

// Waits the whole connect limit (5 s): a handshake under a sanitizer must not
// be cut short by a shortened one.
TEST_F(DiscoveryFaultTest, ABlackholedServerIsAConnectTimeoutNotAReadIdle) {
    BaseConfig::GetInstance().SetReadTimeout(30);
    m_peer.SetDoor(MisbehavingPeer::Door::kBlackhole);
    EXPECT_EQ(LoginAt(m_peer), DiscoveryClient::RESULT_RETRY);
    EXPECT_TRUE(m_record.Logged("Connect to discovery server " + m_peer.Host().ToString() + " timed out"))
        << m_record.Dump();
    EXPECT_FALSE(m_record.Logged("READ IDLE")) << m_record.Dump();
}

TEST_F(DiscoveryFaultTest, AnAnswerTrickledByteByByteEndsAtTheResponseLimit) {
    SetConfigKey("nuvexia_config_login_response_wait_time", "1");
    m_peer.SetNodeTable(MisbehavingPeer::ManySites(3, "127.0.0.1", 9));
    m_peer.SetLogin(Answer::kTrickle);
    m_peer.SetTrickleInterval(std::chrono::milliseconds(100));
    // Every byte comes well within the read timeout; only the whole-attempt limit can end it.
    BaseConfig::GetInstance().SetReadTimeout(30);
    EXPECT_EQ(LoginAt(m_peer), DiscoveryClient::RESULT_RETRY);
    // The answer was never taken for complete: no response callback, the attempt failed.
    EXPECT_EQ(m_record.Walk().front(), "failed " + m_peer.Host().GetServerIp()) << m_record.Dump();
}

TEST_F(DiscoveryFaultTest, ARefusalNamesTheServersReasonAtErrorLevel) {
    m_peer.SetLogin(Answer::kRefuse);
    m_peer.SetRefusal(403, "unknown token");
    std::vector<std::string> errors;
    EXPECT_EQ(LoginAt(m_peer), DiscoveryClient::RESULT_STOPPED);
    EXPECT_TRUE(
        m_record.Logged("Login discovery server successfully, but meet error: unknown token, please check"))
        << m_record.Dump();
}

TEST_F(DiscoveryFaultTest, APlainClientAtATlsServerIsNamedATlsMismatch) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.Ok()) << certificates.Error();
    SimServiceOptions options;
    options.cert_file = certificates.CertFile();
    options.key_file = certificates.KeyFile();
    SimService service(options);
    SimDiscoverySpec tls;
    tls.endpoint.ip = "127.0.0.1";
    tls.endpoint.tls = true;
    service.AddDiscoveryServer(tls);
    ASSERT_TRUE(service.Start());
    BaseConfig::GetInstance().SetReadTimeout(2);
    DiscoveryClient client(&m_record);
    client.InitParams(kUser, kPassword, false, ServerHost("127.0.0.1", service.Discovery(0).Port(), false),
                      {});
    EXPECT_EQ(client.TryLoginDiscovery(), DiscoveryClient::RESULT_RETRY);
    EXPECT_TRUE(m_record.Logged("Likely a TLS mismatch: the client uses plain TCP")) << m_record.Dump();
}

TEST_F(DiscoveryFaultTest, ATlsClientAtAPlainServerIsNamedATlsMismatch) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.Ok()) << certificates.Error();
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    ASSERT_EQ(SSL_CTX_load_verify_locations(ctx, certificates.CaFile().c_str(), nullptr), 1);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    BaseConfig::GetInstance().SetReadTimeout(2);
    {
        DiscoveryClient client(&m_record);
        client.RegisterSslCtx(ctx);
        client.InitParams(kUser, kPassword, true, m_peer.Host(), {});
        EXPECT_EQ(client.TryLoginDiscovery(), DiscoveryClient::RESULT_RETRY);
    }
    SSL_CTX_free(ctx);
    EXPECT_TRUE(m_record.Logged("Likely a TLS mismatch: the client uses TLS")) << m_record.Dump();
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
