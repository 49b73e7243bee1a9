#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/base_config.h"
#include "common/client_config.h"
#include "config_test_access.h"

using namespace com::mivo::kmr::client;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class ConfigTest : public testing::Test {
protected:
    void SetUp() override { BaseConfigTestAccess::Reset(); }
    void TearDown() override { BaseConfigTestAccess::Reset(); }

    // Reads a file with the given text; returns what the reading printed.
    std::string Load(const std::string& content, bool* result = nullptr) {
        std::string path = m_folder.Write("zel.conf", content);
        CaptureStdout();
        bool ok = BaseConfig::GetInstance().SetConfigFilePath(path);
        std::string printed = GetCapturedStdout();
        if (result != nullptr) {
            *result = ok;
        }
        return printed;
    }

    BaseConfig& Config() { return BaseConfig::GetInstance(); }
    TempFolder m_folder;
};

TEST_F(ConfigTest, DefaultsMatchTheBuiltInTable) {
    EXPECT_EQ(BaseConfigTestAccess::TableSize(), 23u);
    EXPECT_TRUE(Config().IsUseSSL());
    EXPECT_TRUE(Config().IsFileLog());
    EXPECT_FALSE(Config().IsCoutLog());
    EXPECT_EQ(Config().GetLogFileOutFolder(), "./");
    EXPECT_EQ(Config().GetSSLCertfolder(), "");
    EXPECT_EQ(Config().GetLogSeverity(), 0u);
    EXPECT_EQ(Config().GetThreadIdleSleepTime().count(), 10);
    EXPECT_EQ(Config().GetDaemonCheckInterval().count(), 10);
    EXPECT_EQ(Config().GetReadTimeout(), 30u);
    EXPECT_EQ(Config().GetSendTimeout(), 30u);
    EXPECT_EQ(Config().GetHandleThreadNum(), 5u);
    EXPECT_EQ(Config().GetLoginTryCount(), 3u);
    EXPECT_EQ(Config().GetSubscribeTryCount(), 3u);
    EXPECT_EQ(Config().GetLoginTryInterval(), 5u);
    EXPECT_EQ(Config().GetSubscirbeTryInterval(), 5u);
    EXPECT_EQ(Config().GetHeartBeatInterval(), 10u);
    EXPECT_EQ(Config().GetHeartbeatMaxCount(), 6u);
    EXPECT_EQ(Config().GetHttpUri(), "127.0.0.1:8090");
    EXPECT_FALSE(Config().IsRefusePlainNodes());
    EXPECT_TRUE(Config().IsVerifyServerAddress());
    EXPECT_EQ(Config().GetAppVersion(), "cpp_1.0.0_2025/09/30");
    EXPECT_STREQ(ClientConfig::GetAppVersion(), "cpp_1.0.0_2025/09/30");
    EXPECT_EQ(Config().GetIntValue("nuvexia_config_login_response_wait_time"), 30);
    EXPECT_EQ(Config().GetIntValue("nuvexia_config_subscribe_response_wait_time"), 30);
}

TEST_F(ConfigTest, MissingOrUnnamedFileChangesNothing) {
    CaptureStdout();
    EXPECT_FALSE(Config().SetConfigFilePath(""));
    EXPECT_EQ(GetCapturedStdout(), "config file is null");

    std::string missing = m_folder.Path() + "/absent.conf";
    CaptureStdout();
    Config().SetReadTimeout(45);
    EXPECT_FALSE(Config().SetConfigFilePath(missing));
    EXPECT_EQ(GetCapturedStdout(), "read config file:" + missing + " failed\n");
    EXPECT_EQ(Config().GetReadTimeout(), 45u);  // nothing refreshed
    EXPECT_EQ(Config().GetConfigFilePath(), "");
}

TEST_F(ConfigTest, BlanksAndTabsAroundKeyAndValueAreTrimmed) {
    bool ok = false;
    std::string printed = Load(" \t nuvexia_config_read_timeout \t=\t 45 \t\n", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(printed, "=== property [nuvexia_config_read_timeout] set to [45] by file ===\n");
    EXPECT_EQ(Config().GetReadTimeout(), 45u);
    EXPECT_EQ(Config().GetConfigFilePath(), m_folder.Path() + "/zel.conf");
}

TEST_F(ConfigTest, CommentsAndLinesWithoutKeyOrValueAreSkippedSilently) {
    std::string printed = Load(
        "  #nuvexia_config_read_timeout = 45\n"
        "nuvexia_config_read_timeout 45\n"
        "= 45\n"
        "nuvexia_config_read_timeout =  \t\n"
        "\n"
        "garbage\x01\x02\n");
    EXPECT_EQ(printed, "");
    EXPECT_EQ(Config().GetReadTimeout(), 30u);
}

TEST_F(ConfigTest, OnlyBlanksAndTabsAreTrimmed) {
    // Windows line ends are part of the line end, but other white space
    // such as a vertical tab stays in the value.
    Load("nuvexia_config_log_folder = logs/\r\nnuvexia_config_kmr_query_url = \vhost:1\n");
    EXPECT_EQ(Config().GetLogFileOutFolder(), "logs/");
    EXPECT_EQ(Config().GetHttpUri(), "\vhost:1");
}

TEST_F(ConfigTest, FurtherEqualSignsBelongToTheValueAndLastLineWins) {
    Load(
        "nuvexia_config_kmr_query_url = a=b\nnuvexia_config_read_timeout=40\nnuvexia_config_read_timeout=41");
    EXPECT_EQ(Config().GetHttpUri(), "a=b");
    EXPECT_EQ(Config().GetReadTimeout(), 41u);  // the last line needs no newline
}

TEST_F(ConfigTest, SiteMemoryBudgetIsReadSetAndKeptPositive) {
    EXPECT_EQ(Config().GetSiteMemoryBudgetMb(), 256u);
    Load("nuvexia_config_site_memory_budget_mb=64\n");
    EXPECT_EQ(Config().GetSiteMemoryBudgetMb(), 64u);
    // A rejected value keeps the one in force.
    for (const char* bad : {"0", "-5", "lots"}) {
        Load(std::string("nuvexia_config_site_memory_budget_mb=") + bad + "\n");
        EXPECT_EQ(Config().GetSiteMemoryBudgetMb(), 64u) << bad;
    }
    ClientConfig::SetSiteMemoryBudgetMb(8);
    EXPECT_EQ(ClientConfig::GetSiteMemoryBudgetMb(), 8u);
    ClientConfig::SetSiteMemoryBudgetMb(0);
    EXPECT_EQ(ClientConfig::GetSiteMemoryBudgetMb(), 8u);
    ClientConfig::SetSiteMemoryBudgetMb(256);
}

TEST_F(ConfigTest, TlsPolicySwitchesAreReadFromTheFile) {
    Load("nuvexia_config_refuse_plain_nodes=1\nnuvexia_config_verify_server_address=no\n");
    EXPECT_TRUE(Config().IsRefusePlainNodes());
    EXPECT_FALSE(Config().IsVerifyServerAddress());
}

TEST_F(ConfigTest, UnknownKeysAreReportedAndNotAdded) {
    std::string printed = Load("nuvexia_config_colour = blue\nNUVEXIA_CONFIG_READ_TIMEOUT=7\n");
    EXPECT_EQ(printed,
              "=== unknown property[nuvexia_config_colour] value[blue] ===\n"
              "=== unknown property[NUVEXIA_CONFIG_READ_TIMEOUT] value[7] ===\n");
    EXPECT_EQ(BaseConfigTestAccess::TableSize(), 23u);
    EXPECT_EQ(Config().GetReadTimeout(), 30u);
}

TEST_F(ConfigTest, SwitchValuesFollowTheFalseWords) {
    for (const char* off : {"no", "None", "f", "0", "FALSE", "n", "off"}) {
        BaseConfigTestAccess::Reset();
        Load(std::string("nuvexia_config_use_ssl=") + off + "\n");
        EXPECT_FALSE(Config().IsUseSSL()) << off;
    }
    for (const char* on : {"yes", "ON", "t", "1"}) {
        BaseConfigTestAccess::Reset();
        Load("nuvexia_config_use_ssl=no\n");
        Load(std::string("nuvexia_config_use_ssl=") + on + "\n");
        EXPECT_TRUE(Config().IsUseSSL()) << on;
    }
    // Words that are neither keep the switch as it was in the table.
    Load("nuvexia_config_use_ssl=no\n");
    for (const char* neither : {"2", "nope", "of"}) {
        std::string printed = Load(std::string("nuvexia_config_use_ssl=") + neither + "\n");
        EXPECT_FALSE(Config().IsUseSSL()) << neither;
        EXPECT_EQ(printed, std::string("=== property [nuvexia_config_use_ssl] not set to [") + neither +
                               "] by file: not a yes/no word, using [no] ===\n");
    }
    Load("nuvexia_config_cout_log=yes\nnuvexia_config_file_log=no\n");
    EXPECT_TRUE(Config().IsCoutLog());
    EXPECT_FALSE(Config().IsFileLog());
}

TEST_F(ConfigTest, RejectedValuesAreNamedWithTheValueKept) {
    std::string printed = Load(
        "nuvexia_config_read_timeout=abc\n"
        "nuvexia_config_handle_thread_num=-5\n"
        "nuvexia_config_handle_thread_num=500\n"
        "nuvexia_config_send_timeout=99999999999999999999\n"
        "nuvexia_config_login_try_count=2x\n"
        "nuvexia_config_log_serverity=7\n");
    EXPECT_EQ(printed,
              "=== property [nuvexia_config_read_timeout] not set to [abc] by file: not a whole number, "
              "using [30] ===\n"
              "=== property [nuvexia_config_handle_thread_num] not set to [-5] by file: outside 1..99, "
              "using [5] ===\n"
              "=== property [nuvexia_config_handle_thread_num] not set to [500] by file: outside 1..99, "
              "using [5] ===\n"
              "=== property [nuvexia_config_send_timeout] not set to [99999999999999999999] by file: "
              "outside 1..86400, using [30] ===\n"
              "=== property [nuvexia_config_login_try_count] not set to [2x] by file: not a whole number, "
              "using [3] ===\n"
              "=== property [nuvexia_config_log_serverity] not set to [7] by file: outside 0..3, "
              "using [0] ===\n");
    EXPECT_EQ(Config().GetReadTimeout(), 30u);
    EXPECT_EQ(Config().GetHandleThreadNum(), 5u);
    EXPECT_EQ(Config().GetSendTimeout(), 30u);
    EXPECT_EQ(Config().GetLoginTryCount(), 3u);
    // A severity past the highest level would silence the log file.
    EXPECT_EQ(Config().GetLogSeverity(), 0u);
    EXPECT_TRUE(Config().IsFileLog());
    // The table keeps what was in force, so it never holds a rejected text.
    EXPECT_EQ(BaseConfigTestAccess::Table("nuvexia_config_read_timeout"), "30");
    EXPECT_FALSE(Config().IsLoadClean());
    std::vector<std::string> problems = Config().GetLoadProblems();
    ASSERT_EQ(problems.size(), 6u);
    EXPECT_EQ(problems[0],
              "line 1: nuvexia_config_read_timeout = abc rejected (not a whole number), using 30");
    EXPECT_EQ(problems[5], "line 6: nuvexia_config_log_serverity = 7 rejected (outside 0..3), using 0");
}

TEST_F(ConfigTest, ARejectedValueKeepsTheEarlierGoodOne) {
    std::string printed = Load("nuvexia_config_read_timeout=40\nnuvexia_config_read_timeout=4O\n");
    EXPECT_EQ(printed,
              "=== property [nuvexia_config_read_timeout] set to [40] by file ===\n"
              "=== property [nuvexia_config_read_timeout] not set to [4O] by file: not a whole number, "
              "using [40] ===\n");
    EXPECT_EQ(Config().GetReadTimeout(), 40u);
    // And across files: the table carries over.
    Load("nuvexia_config_read_timeout=-1\n");
    EXPECT_EQ(Config().GetReadTimeout(), 40u);
}

TEST_F(ConfigTest, RangeEdgesAreAcceptedAsWritten) {
    std::string printed = Load(
        "nuvexia_config_handle_thread_num=99\nnuvexia_config_log_serverity=3\n"
        "nuvexia_config_thread_sleep_time=0\nnuvexia_config_login_try_interval=+7\n"
        "nuvexia_config_statistics_log_interval=0\n");
    EXPECT_EQ(printed.find("not set"), std::string::npos) << printed;
    EXPECT_EQ(Config().GetHandleThreadNum(), 99u);
    EXPECT_EQ(Config().GetLogSeverity(), 3u);
    EXPECT_EQ(Config().GetThreadIdleSleepTime().count(), 0);
    EXPECT_EQ(Config().GetLoginTryInterval(), 7u);
    EXPECT_TRUE(Config().IsLoadClean());

    Load("nuvexia_config_handle_thread_num=0\nnuvexia_config_handle_thread_num=100\n");
    EXPECT_EQ(Config().GetHandleThreadNum(), 99u);
    Load("nuvexia_config_statistics_log_interval=15\n");
    EXPECT_EQ(Config().GetStatisticsLogInterval(), 15u);
}

TEST_F(ConfigTest, CleanFlagFollowsTheLastFile) {
    EXPECT_FALSE(Config().IsLoadClean());  // nothing read yet
    Load("# settings\n\n  \nnuvexia_config_send_timeout=20\n");
    EXPECT_TRUE(Config().IsLoadClean());
    EXPECT_TRUE(Config().GetLoadProblems().empty());

    Load("nuvexia_config_colour=blue\nread_timeout 45\n");
    std::vector<std::string> problems = Config().GetLoadProblems();
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0], "line 1: unknown property nuvexia_config_colour");
    EXPECT_EQ(problems[1], "line 2 is not key=value");

    CaptureStdout();
    EXPECT_FALSE(BaseConfigTestAccess::Parse("/nonexistent/zel.conf"));
    GetCapturedStdout();
    EXPECT_FALSE(Config().IsLoadClean());
    ASSERT_EQ(Config().GetLoadProblems().size(), 1u);
    EXPECT_EQ(Config().GetLoadProblems()[0], "read config file:/nonexistent/zel.conf failed");
}

TEST_F(ConfigTest, ThreadCountSetterKeepsOneToNinetyNine) {
    ClientConfig::SetHandleThreadNum(0);
    EXPECT_EQ(ClientConfig::GetHandleThreadNum(), 5u);
    ClientConfig::SetHandleThreadNum(100);
    EXPECT_EQ(ClientConfig::GetHandleThreadNum(), 5u);
    ClientConfig::SetHandleThreadNum(99);
    EXPECT_EQ(ClientConfig::GetHandleThreadNum(), 99u);
    ClientConfig::SetHandleThreadNum(1);
    EXPECT_EQ(ClientConfig::GetHandleThreadNum(), 1u);
}

TEST_F(ConfigTest, ReadingAFileUndoesEarlierSetters) {
    ClientConfig::SetReadTimeout(45);
    ClientConfig::SetUseSSL(false);
    ClientConfig::SetLogSeverity(LOG_LEVEL_ERROR);
    Load("nuvexia_config_send_timeout=20\n");
    EXPECT_EQ(ClientConfig::GetReadTimeout(), 30u);
    EXPECT_TRUE(ClientConfig::IsUseSSL());
    EXPECT_EQ(ClientConfig::GetLogSeverity(), LOG_LEVEL_DEBUG);
    EXPECT_EQ(ClientConfig::GetSendTimeout(), 20u);

    // Setters after the file stand, and never reach the table.
    ClientConfig::SetSendTimeout(12);
    EXPECT_EQ(ClientConfig::GetSendTimeout(), 12u);
    EXPECT_EQ(Config().GetIntValue("nuvexia_config_send_timeout"), 20);
}

TEST_F(ConfigTest, GetIntValueRaisesTheStandardErrors) {
    // Rejected numbers never reach the table: it reports the value in force.
    Load(
        "nuvexia_config_read_timeout=abc\nnuvexia_config_send_timeout=99999999999\n"
        "nuvexia_config_login_try_count=-4\nnuvexia_config_kmr_query_url=99999999999\n");
    EXPECT_EQ(Config().GetIntValue("nuvexia_config_read_timeout"), 30);
    EXPECT_EQ(Config().GetIntValue("nuvexia_config_send_timeout"), 30);
    EXPECT_EQ(Config().GetIntValue("nuvexia_config_login_try_count"), 3);
    EXPECT_THROW(Config().GetIntValue("nuvexia_config_kmr_query_url"), std::out_of_range);
    EXPECT_THROW(Config().GetIntValue("nuvexia_config_no_such_key"), std::out_of_range);
    EXPECT_THROW(Config().GetIntValue("nuvexia_config_log_folder"), std::invalid_argument);
}

TEST_F(ConfigTest, OverlongLineIsSkippedAndReadingGoesOn) {
    std::string longest = "nuvexia_config_kmr_query_url=" + std::string(2046 - 29, 'a');
    ASSERT_EQ(longest.size(), 2046u);
    std::string too_long = "nuvexia_config_read_timeout=4" + std::string(3000, '5');
    std::string printed = Load(too_long + "\n" + longest + "\nnuvexia_config_send_timeout=21\n" +
                               "nuvexia_config_login_try_count=" + std::string(2100, '7'));
    EXPECT_EQ(Config().GetReadTimeout(), 30u);
    EXPECT_EQ(Config().GetHttpUri(), std::string(2046 - 29, 'a'));
    EXPECT_EQ(Config().GetSendTimeout(), 21u);
    EXPECT_EQ(Config().GetLoginTryCount(), 3u);
    EXPECT_NE(printed.find("=== line 1 longer than 2046 characters skipped ==="), std::string::npos);
    EXPECT_NE(printed.find("=== line 4 longer than 2046 characters skipped ==="), std::string::npos);
}

TEST_F(ConfigTest, ClientConfigForwardsToTheSingleton) {
    ClientConfig::SetLogFileOutFolder("logs/");
    EXPECT_STREQ(ClientConfig::GetLogFileOutFolder(), "logs/");
    ClientConfig::SetSSLCertfolder("certs/ca.pem");
    EXPECT_EQ(Config().GetSSLCertfolder(), "certs/ca.pem");
    ClientConfig::SetThreadIdleSleepTime(250);
    EXPECT_EQ(Config().GetThreadIdleSleepTime().count(), 250);
    EXPECT_EQ(ClientConfig::GetThreadIdleSleepTime(), 250u);
    ClientConfig::OpenCoutLog();
    ClientConfig::CloseFileLog();
    EXPECT_TRUE(Config().IsCoutLog());
    EXPECT_FALSE(ClientConfig::IsFileLog());
    EXPECT_EQ(ClientConfig::GetHeartBeatInterval(), 10u);
}

}  // namespace
