// Discovery over TLS against servers whose certificate a throwaway CA signed,
// with the client verifying the peer.
#include <atomic>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/ssl.h>

#include "tests/client/discovery_test_kit.h"
#include "tests/support/test_certificates.h"

namespace com::mivo::kmr::client::testing {
namespace {

using ::testing::ElementsAre;

// A client context that trusts only the CA in ca_file and checks the peer.
SSL_CTX* VerifyingContext(const std::string& ca_file) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr || SSL_CTX_load_verify_locations(ctx, ca_file.c_str(), nullptr) != 1) {
        ADD_FAILURE() << "cannot load " << ca_file;
        return ctx;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    return ctx;
}

// Counts the TLS sessions of one client context as OpenSSL makes and frees
// them (every session runs the callbacks of every registered ex-data index).
class SessionCensus {
public:
    explicit SessionCensus(SSL_CTX* ctx)
        : m_index(SSL_get_ex_new_index(0, ctx, &SessionCensus::Made, nullptr, &SessionCensus::Freed)) {
        s_made = 0;
        s_freed = 0;
    }
    ~SessionCensus() { CRYPTO_free_ex_index(CRYPTO_EX_INDEX_SSL, m_index); }

    int MadeCount() const { return s_made; }
    int FreedCount() const { return s_freed; }

private:
    static bool Ours(void* parent, void* ctx) {
        return parent != nullptr && SSL_get_SSL_CTX(static_cast<SSL*>(parent)) == ctx;
    }
    static void Made(void* parent, void*, CRYPTO_EX_DATA*, int, long, void* ctx) {
        if (Ours(parent, ctx)) {
            ++s_made;
        }
    }
    static void Freed(void* parent, void*, CRYPTO_EX_DATA*, int, long, void* ctx) {
        if (Ours(parent, ctx)) {
            ++s_freed;
        }
    }

    int m_index;
    static std::atomic<int> s_made;
    static std::atomic<int> s_freed;
};

std::atomic<int> SessionCensus::s_made{0};
std::atomic<int> SessionCensus::s_freed{0};

class DiscoveryTlsTest : public DiscoveryTest {
protected:
    static void SetUpTestSuite() {
        s_certificates = new TestCertificates();
        s_strangers = new TestCertificates();
    }
    static void TearDownTestSuite() {
        delete s_certificates;
        delete s_strangers;
    }

    static SimServiceOptions TlsOptions() {
        SimServiceOptions options;
        options.cert_file = s_certificates->CertFile();
        options.key_file = s_certificates->KeyFile();
        return options;
    }

    DiscoveryTlsTest() : DiscoveryTest(TlsOptions()) {}

    void SetUp() override {
        ASSERT_TRUE(s_certificates->Ok()) << s_certificates->Error();
        ASSERT_TRUE(s_strangers->Ok()) << s_strangers->Error();
        DiscoveryTest::SetUp();
    }

    void TearDown() override {
        if (m_ctx != nullptr) {
            SSL_CTX_free(m_ctx);
        }
        DiscoveryTest::TearDown();
    }

    void InitTlsClient(DiscoveryClient& client, const std::string& ca_file) {
        m_ctx = VerifyingContext(ca_file);
        client.RegisterSslCtx(m_ctx);
        const auto hosts = AllHosts();
        client.InitParams(kUser, kPassword, true, hosts.front(),
                          std::vector<ServerHost>(hosts.begin() + 1, hosts.end()));
    }

    static TestCertificates* s_certificates;
    // Another CA, which did not sign the servers' certificate.
    static TestCertificates* s_strangers;
    SSL_CTX* m_ctx = nullptr;
};

TestCertificates* DiscoveryTlsTest::s_certificates = nullptr;
TestCertificates* DiscoveryTlsTest::s_strangers = nullptr;

TEST_F(DiscoveryTlsTest, VerifiedServerLogsIn) {
    m_service.AddDatafeedNode({"", 1, 4, {"127.0.0.1", 0, true}});
    StartDiscoveryServers(1, true);
    DiscoveryClient client(&m_record);
    InitTlsClient(client, s_certificates->CaFile());

    EXPECT_EQ(client.TryLoginDiscovery(), 0);

    EXPECT_THAT(m_record.Walk(), ElementsAre("response", "success 127.0.0.1 [1]")) << m_record.Dump();
    EXPECT_EQ(client.GetToken(), m_service.Accounts().LastToken(kUser));
    EXPECT_TRUE(client.GetDatafeedNodes().at(1).at(4).IsSsl());
    // Every attempt's session went with its socket.
    EXPECT_EQ(client.TryLoginDiscovery(), 0);
}

TEST_F(DiscoveryTlsTest, SplitResponseOverTlsIsReadWhole) {
    StartDiscoveryServers(1, true);
    m_service.Discovery(0).Faults().split_write_bytes = 5;
    DiscoveryClient client(&m_record);
    InitTlsClient(client, s_certificates->CaFile());

    EXPECT_EQ(client.TryLoginDiscovery(), 0);
    EXPECT_THAT(m_record.Walk(), ElementsAre("response", "success 127.0.0.1 []")) << m_record.Dump();
}

// A response that comes in pieces leaves callbacks queued behind the one
// that settles the attempt; each holds the socket, and with it the session.
TEST_F(DiscoveryTlsTest, EverySessionIsFreedWithItsAttempt) {
    StartDiscoveryServers(1, true);
    m_service.Discovery(0).Faults().split_write_bytes = 7;
    DiscoveryClient client(&m_record);
    InitTlsClient(client, s_certificates->CaFile());
    SessionCensus census(m_ctx);

    constexpr int kAttempts = 25;
    for (int i = 0; i < kAttempts; ++i) {
        ASSERT_EQ(client.TryLoginDiscovery(), 0) << m_record.Dump();
        EXPECT_EQ(census.FreedCount(), census.MadeCount()) << "attempt " << i;
    }
    EXPECT_EQ(census.MadeCount(), kAttempts);
}

TEST_F(DiscoveryTlsTest, UntrustedServerIsRejectedAndTheNextTried) {
    StartDiscoveryServers(2, true);
    DiscoveryClient client(&m_record);
    InitTlsClient(client, s_strangers->CaFile());

    // Its own code: trying again later cannot make the certificate trusted.
    EXPECT_EQ(client.TryLoginDiscovery(), RESULT_TLS_FAILED);

    EXPECT_THAT(m_record.Walk(),
                ElementsAre("failed 127.0.0.1", "pause", "failed 127.0.0.2", "pause", "none"))
        << m_record.Dump();
    // No login request ever left the client.
    EXPECT_EQ(m_service.Requests().Size(), 0u);
}

TEST_F(DiscoveryTlsTest, PlainServerFailsTheTlsAttempt) {
    // A plain listener takes the client hello for a broken frame and hangs up;
    // the read timeout bounds the attempt should it wait instead.
    BaseConfig::GetInstance().SetReadTimeout(2);
    SimDiscoverySpec plain;
    plain.endpoint.ip = IpOf(0);
    m_service.AddDiscoveryServer(plain);
    SimDiscoverySpec tls;
    tls.endpoint.ip = IpOf(1);
    tls.endpoint.tls = true;
    m_service.AddDiscoveryServer(tls);
    ASSERT_TRUE(m_service.Start());
    DiscoveryClient client(&m_record);
    InitTlsClient(client, s_certificates->CaFile());

    EXPECT_EQ(client.TryLoginDiscovery(), 0);
    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "pause", "response", "success 127.0.0.2 []"))
        << m_record.Dump();
}

// The throwaway certificate names 127.0.0.1 to 127.0.0.4 only.
TEST_F(DiscoveryTlsTest, CertificateMustNameTheAddressDialled) {
    SimDiscoverySpec desc;
    desc.endpoint.ip = "127.0.0.5";
    desc.endpoint.tls = true;
    m_service.AddDiscoveryServer(desc);
    ASSERT_TRUE(m_service.Start());
    DiscoveryClient client(&m_record);
    m_ctx = VerifyingContext(s_certificates->CaFile());
    client.RegisterSslCtx(m_ctx);
    client.InitParams(kUser, kPassword, true, ServerHost("127.0.0.5", m_service.Discovery(0).Port(), false),
                      {});

    EXPECT_EQ(client.TryLoginDiscovery(), RESULT_TLS_FAILED);
    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.5", "pause", "none")) << m_record.Dump();
    EXPECT_EQ(m_service.Requests().Size(), 0u);

    // For deployments whose certificates do not carry the address.
    BaseConfig::GetInstance().SetVerifyServerAddress(false);
    const int result = client.TryLoginDiscovery();
    BaseConfig::GetInstance().SetVerifyServerAddress(true);
    EXPECT_EQ(result, 0) << m_record.Dump();
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
