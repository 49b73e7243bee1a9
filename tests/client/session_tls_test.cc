// The session over TLS with the peer verified against a throwaway CA.
#include "client/session_fixture.h"
#include "support/test_certificates.h"

namespace com::mivo::kmr::client {
namespace {

using com::mivo::zel::model::COVERAGE;

constexpr int kZelStock = 3;

class SessionTlsTest : public SessionTest {
protected:
    void StartTlsService() {
        ASSERT_TRUE(m_certificates.Ok()) << m_certificates.Error();
        SimServiceOptions options;
        options.cert_file = m_certificates.CertFile();
        options.key_file = m_certificates.KeyFile();
        StartService({1, 2}, options, true);
    }

    void TrustCa(const std::string& ca_file) {
        Configure({{"nuvexia_config_use_ssl", "1"}, {"nuvexia_config_cert_folder", ca_file}});
    }

    testing::TestCertificates m_certificates;
};

TEST_F(SessionTlsTest, VerifiedLoginAndMarketData) {
    StartTlsService();
    TrustCa(m_certificates.CaFile());
    MakeClient();
    ASSERT_EQ(m_client->SslEnvInit(), 0);
    EXPECT_EQ(m_log.Count("cert_folder:" + m_certificates.CaFile()), 1);
    EXPECT_EQ(m_log.Count("not verified"), 0);
    // A second set-up keeps the context.
    ASSERT_EQ(m_client->SslEnvInit(), 0);

    ASSERT_EQ(Login(), 0);
    ASSERT_EQ(m_client->SubscribeByDatatype(COVERAGE, Types({kZelStock})), 0);
    EXPECT_EQ(m_handle.subscribe_responses.load(), 2);
    EXPECT_TRUE(WaitUntil([&] { return m_handle.market_data.load() > 50; }));
}

TEST_F(SessionTlsTest, ServerSignedByAnotherCaIsRejected) {
    StartTlsService();
    testing::TestCertificates stranger;
    ASSERT_TRUE(stranger.Ok()) << stranger.Error();
    TrustCa(stranger.CaFile());
    MakeClient();
    ASSERT_EQ(m_client->SslEnvInit(), 0);
    // Fails fast with its own code: no second walk, trying again cannot help.
    EXPECT_EQ(Login(), RESULT_TLS_FAILED);
    EXPECT_EQ(m_handle.discovery_failed.load(), 1);
    EXPECT_EQ(m_handle.discovery_success.load(), 0);
    EXPECT_EQ(m_service->Requests().Size(), 0u);
}

}  // namespace
}  // namespace com::mivo::kmr::client
