// The factory: one client per process, TLS set-up failures, tear-down.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "client/client_factory.h"
#include "client/message_handle.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "support/log_capture.h"

namespace com::mivo::kmr::client {
namespace {

class FactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        BaseConfig::GetInstance().CloseFileLog();
        BaseConfig::GetInstance().SetUseSSL(false);
        BaseConfig::GetInstance().SetSSLCertfolder("");
    }
    void TearDown() override {
        ClientFactory::Uninstance();
        BaseConfig::GetInstance().SetUseSSL(false);
        BaseConfig::GetInstance().SetSSLCertfolder("");
    }

    MessageHandle m_first;
    MessageHandle m_second;
};

TEST_F(FactoryTest, NullHandlerGivesNullAndLogsNothing) {
    LogCapture log;
    EXPECT_EQ(ClientFactory::Instance()->CreateClient(nullptr), nullptr);
    EXPECT_TRUE(log.Messages().empty());
}

TEST_F(FactoryTest, SecondCreateClientReturnsTheSameClient) {
    ClientFactory* factory = ClientFactory::Instance();
    ClientInterface* client = factory->CreateClient(&m_first);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(factory->CreateClient(&m_second), client);
    EXPECT_EQ(ClientFactory::Instance(), factory);
}

TEST_F(FactoryTest, UninstanceTwiceIsHarmlessAndAFreshClientFollows) {
    ClientFactory::Uninstance();  // nothing created yet
    ASSERT_NE(ClientFactory::Instance()->CreateClient(&m_first), nullptr);
    ClientFactory::Uninstance();
    ClientFactory::Uninstance();
    // A new factory and a new client after the tear-down.
    EXPECT_NE(ClientFactory::Instance()->CreateClient(&m_second), nullptr);
}

TEST_F(FactoryTest, UnloadableCaGivesNullAndTheNextCallTriesAgain) {
    LogCapture log;
    BaseConfig::GetInstance().SetUseSSL(true);
    BaseConfig::GetInstance().SetSSLCertfolder("/nonexistent/zel-ca.pem");
    ClientFactory* factory = ClientFactory::Instance();
    EXPECT_EQ(factory->CreateClient(&m_first), nullptr);
    EXPECT_EQ(log.Count(LOG_LEVEL_DEBUG, "local SSL certification failed"), 1);
    EXPECT_EQ(log.Count(LOG_LEVEL_INFO, "cert_folder:/nonexistent/zel-ca.pem"), 1);
    EXPECT_EQ(log.Count(LOG_LEVEL_ERROR, "Failed to load verify locations"), 1);
    EXPECT_EQ(log.Count(LOG_LEVEL_ERROR, "Load or verify self CA file failed"), 1);

    EXPECT_EQ(factory->CreateClient(&m_first), nullptr);
    EXPECT_EQ(log.Count("local SSL certification failed"), 2);

    // Once the configuration is fixed the same factory delivers.
    BaseConfig::GetInstance().SetUseSSL(false);
    EXPECT_NE(factory->CreateClient(&m_first), nullptr);
}

TEST_F(FactoryTest, TlsWithoutCaFileWarnsOnceThatThePeerIsNotVerified) {
    LogCapture log;
    BaseConfig::GetInstance().SetUseSSL(true);
    ClientFactory* factory = ClientFactory::Instance();
    ASSERT_NE(factory->CreateClient(&m_first), nullptr);
    EXPECT_EQ(log.Count(LOG_LEVEL_INFO, "11cert_folder:"), 1);
    EXPECT_EQ(log.Count(LOG_LEVEL_WARN, "not verified"), 1);
    // The existing client is returned without a second TLS set-up.
    ASSERT_NE(factory->CreateClient(&m_first), nullptr);
    EXPECT_EQ(log.Count("not verified"), 1);
}

TEST_F(FactoryTest, SetConfigIgnoresNullAndEmptyPathsAndReadsAFile) {
    ClientFactory* factory = ClientFactory::Instance();
    BaseConfig::GetInstance().SetReadTimeout(45);
    factory->SetConfig(nullptr);
    factory->SetConfig("");
    EXPECT_EQ(BaseConfig::GetInstance().GetReadTimeout(), 45u);

    const std::string path = ::testing::TempDir() + "factory_create_test.conf";
    {
        std::ofstream file(path);
        file << "nuvexia_config_read_timeout = 17\nnuvexia_config_login_try_count=4\n";
    }
    factory->SetConfig(path.c_str());
    EXPECT_EQ(BaseConfig::GetInstance().GetReadTimeout(), 17u);
    EXPECT_EQ(BaseConfig::GetInstance().GetLoginTryCount(), 4u);
    {
        std::ofstream file(path);
        file << "nuvexia_config_read_timeout=30\nnuvexia_config_login_try_count=3\nnuvexia_config_file_log="
                "0\n";
    }
    factory->SetConfig(path.c_str());
    std::remove(path.c_str());
}

class Sink : public LogInterface {
public:
    void LogPrint(NuvexiaLogLevel, const char*) override { ++m_lines; }
    int m_lines = 0;
};

TEST_F(FactoryTest, NullLogSinkKeepsTheRegisteredOne) {
    Sink sink;
    ClientFactory* factory = ClientFactory::Instance();
    factory->RegistLogHandle(&sink);
    factory->RegistLogHandle(nullptr);
    InfoPrint("to the sink");
    EXPECT_EQ(sink.m_lines, 1);
    // The sink outlives the factory's tear-down.
    ClientFactory::Uninstance();
    InfoPrint("still to the sink");
    EXPECT_EQ(sink.m_lines, 2);
    SetLogHandle(nullptr);
}

}  // namespace
}  // namespace com::mivo::kmr::client
