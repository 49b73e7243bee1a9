#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/base_log.h"
#include "common/client_config.h"
#include "common/log_interface.h"
#include "config_test_access.h"

using namespace com::mivo::kmr::client;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class RecordingSink : public LogInterface {
public:
    void LogPrint(NuvexiaLogLevel level, const char* message) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_received.emplace_back(level, message);
    }
    std::vector<std::pair<NuvexiaLogLevel, std::string>> Received() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_received;
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<NuvexiaLogLevel, std::string>> m_received;
};

const std::regex kLine(
    R"((\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2}):(\d{3}) pid\[(\d+)\] (DEBUG|INFO |WARN |ERROR): (.*))");

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Log lines only (the banner and the open messages are left out).
std::vector<std::string> LogLines(const std::string& text) {
    std::vector<std::string> lines;
    for (const std::string& line : Lines(text)) {
        if (line.find(" pid[") != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string FileName() {
    return "pid_" + std::to_string(::getpid()) + ".log";
}

class LogTest : public testing::Test {
protected:
    void SetUp() override {
        BaseConfigTestAccess::Reset();
        CloseLogOfs();
        ClientConfig::SetLogFileOutFolder(m_folder.Path() + "/");
        ClientConfig::CloseCoutLog();
    }
    void TearDown() override {
        SetLogHandle(nullptr);
        CloseLogOfs();
        BaseConfigTestAccess::Reset();
    }

    std::string LogPath() const { return m_folder.Path() + "/" + FileName(); }

    // Writes one message per level; returns what reached the console.
    std::string LogAllLevels() {
        CaptureStdout();
        DebugPrint("debug %d", 0);
        InfoPrint("info %s", "one");
        WarnPrint("warn %c", '2');
        ErrorPrint("error %.1f", 3.0);
        return GetCapturedStdout();
    }

    TempFolder m_folder;
};

TEST_F(LogTest, LineCarriesTimePidAndFiveCharacterLevel) {
    ClientConfig::CloseFileLog();
    ClientConfig::OpenCoutLog();
    std::vector<std::string> lines = LogLines(LogAllLevels());
    ASSERT_EQ(lines.size(), 4u);
    const char* names[] = {"DEBUG", "INFO ", "WARN ", "ERROR"};
    const char* messages[] = {"debug 0", "info one", "warn 2", "error 3.0"};
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, kLine)) << lines[i];
        EXPECT_GE(std::stoi(match[2]), 1);
        EXPECT_LE(std::stoi(match[2]), 12);
        EXPECT_LE(std::stoi(match[4]), 23);
        EXPECT_EQ(std::stoi(match[8]), ::getpid());
        EXPECT_EQ(match[9], names[i]);
        EXPECT_EQ(match[10], messages[i]);
    }
}

TEST_F(LogTest, ThresholdFiltersConsoleAndFileButNeverTheSink) {
    RecordingSink sink;
    SetLogHandle(&sink);
    ClientConfig::OpenCoutLog();

    EXPECT_EQ(LogLines(LogAllLevels()).size(), 4u);

    ClientConfig::SetLogSeverity(LOG_LEVEL_WARN);
    std::vector<std::string> lines = LogLines(LogAllLevels());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("WARN : warn 2"), std::string::npos);
    EXPECT_NE(lines[1].find("ERROR: error 3.0"), std::string::npos);

    BaseConfig::GetInstance().SetLogSeverity(4);
    EXPECT_TRUE(LogLines(LogAllLevels()).empty());

    std::vector<std::string> file_lines = LogLines(ReadFile(LogPath()));
    EXPECT_EQ(file_lines.size(), 6u);  // the same 4 + 2 as the console

    auto received = sink.Received();
    ASSERT_EQ(received.size(), 12u);
    for (size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(received[i].first, static_cast<NuvexiaLogLevel>(i % 4));
    }
    EXPECT_EQ(received[1].second, "info one");
}

TEST_F(LogTest, BaseLogPrintSendsFormattedTextAndIgnoresNull) {
    RecordingSink sink;
    SetLogHandle(&sink);
    ClientConfig::OpenCoutLog();
    ClientConfig::CloseFileLog();
    CaptureStdout();
    BaseLogPrint(LOG_LEVEL_INFO, nullptr);
    BaseLogPrint(LOG_LEVEL_WARN, "100% literal %s");
    std::vector<std::string> lines = LogLines(GetCapturedStdout());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("WARN : 100% literal %s"), std::string::npos);
    ASSERT_EQ(sink.Received().size(), 1u);
    EXPECT_EQ(sink.Received()[0].second, "100% literal %s");
    EXPECT_EQ(GetLogHandle(), &sink);
}

TEST_F(LogTest, LongMessagesAreKeptWhole) {
    ClientConfig::CloseFileLog();
    ClientConfig::OpenCoutLog();
    std::string big(5000, 'x');
    CaptureStdout();
    ErrorPrint("<%s>", big.c_str());
    std::vector<std::string> lines = LogLines(GetCapturedStdout());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("ERROR: <" + big + ">"), std::string::npos);
}

TEST_F(LogTest, ControlCharactersFromPeersNeverStartANewLine) {
    RecordingSink sink;
    SetLogHandle(&sink);
    ClientConfig::OpenCoutLog();
    CaptureStdout();
    // A peer's text with a forged line, a terminal escape and a tab.
    InfoPrint("node name: %s", "a\n2026-01-01 00:00:00:000 pid[1] ERROR: forged\r\x1b[2J\tz\x7f");
    InfoPrint("trailing breaks only %d\r\n", 7);
    std::vector<std::string> lines = LogLines(GetCapturedStdout());
    const std::string first =
        "node name: a\\n2026-01-01 00:00:00:000 pid[1] ERROR: forged\\r\\x1b[2J\\tz\\x7f";
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("INFO : " + first), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("INFO : trailing breaks only 7"), std::string::npos);
    EXPECT_EQ(lines[1].back(), '7');
    std::vector<std::string> file_lines = LogLines(ReadFile(LogPath()));
    ASSERT_EQ(file_lines.size(), 2u);
    EXPECT_NE(file_lines[0].find(first), std::string::npos);
    auto received = sink.Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].second, first);
    EXPECT_EQ(received[1].second, "trailing breaks only 7");
}

TEST_F(LogTest, FirstLineOpensTheFileWithBanner) {
    EXPECT_FALSE(std::ifstream(LogPath()).good());  // nothing is opened ahead of time
    CaptureStdout();
    InfoPrint("hello");
    std::string printed = GetCapturedStdout();
    EXPECT_NE(printed.find("Version:  1. 0. 0"), std::string::npos);
    EXPECT_NE(printed.find("open log file[" + LogPath() + "] successfully!\n"), std::string::npos);
    EXPECT_EQ(printed.find("hello"), std::string::npos);  // console switch is off

    std::string content = ReadFile(LogPath());
    EXPECT_EQ(content.rfind("\n", 0), 0u);
    EXPECT_NE(content.find("Version:  1. 0. 0\n"), std::string::npos);
    ASSERT_EQ(LogLines(content).size(), 1u);
    EXPECT_TRUE(std::regex_match(LogLines(content)[0], kLine));
    EXPECT_NE(GetLogOfs(), nullptr);
}

TEST_F(LogTest, CloseRecreatesAndTruncatesTheFile) {
    CaptureStdout();
    InfoPrint("before close");
    CloseLogOfs();
    CloseLogOfs();  // closing twice is harmless
    EXPECT_NE(ReadFile(LogPath()).find("before close"), std::string::npos);
    InfoPrint("after close");
    std::string printed = GetCapturedStdout();
    size_t first_open = printed.find("successfully!");
    ASSERT_NE(first_open, std::string::npos);
    EXPECT_NE(printed.find("successfully!", first_open + 1), std::string::npos);  // opened again
    std::string content = ReadFile(LogPath());
    EXPECT_EQ(content.find("before close"), std::string::npos);
    EXPECT_NE(content.find("after close"), std::string::npos);
    EXPECT_NE(content.find("Version:"), std::string::npos);
}

TEST_F(LogTest, FileSwitchOffStopsWritesWithoutClosing) {
    CaptureStdout();
    InfoPrint("one");
    ClientConfig::CloseFileLog();
    InfoPrint("two");
    ClientConfig::OpenFileLog();
    InfoPrint("three");
    GetCapturedStdout();
    std::vector<std::string> lines = LogLines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("three"), std::string::npos);
}

TEST_F(LogTest, FolderWithoutSeparatorIsCreatedAndPrefixesTheName) {
    std::string folder = m_folder.Path() + "/logs";
    ClientConfig::SetLogFileOutFolder(folder);
    CaptureStdout();
    WarnPrint("prefixed");
    GetCapturedStdout();
    struct stat st;
    EXPECT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_NE(ReadFile(folder + FileName()).find("prefixed"), std::string::npos);
}

TEST_F(LogTest, UncreatableFolderFallsBackToCurrentFolder) {
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(::chdir(m_folder.Path().c_str()), 0);
    std::string folder = m_folder.Path() + "/missing/parent/";
    ClientConfig::SetLogFileOutFolder(folder);
    CaptureStdout();
    InfoPrint("fallback");
    std::string printed = GetCapturedStdout();
    CloseLogOfs();
    EXPECT_EQ(::chdir(previous), 0);
    EXPECT_NE(printed.find("Create folder: " + folder + " failed, set to default path"), std::string::npos);
    EXPECT_NE(ReadFile(LogPath()).find("fallback"), std::string::npos);
}

TEST_F(LogTest, UnopenableFileDropsFileLinesUntilClosed) {
    ASSERT_EQ(::mkdir(LogPath().c_str(), 0755), 0);  // a folder where the file should go
    RecordingSink sink;
    SetLogHandle(&sink);
    ClientConfig::OpenCoutLog();
    CaptureStdout();
    InfoPrint("first");
    InfoPrint("second");
    std::string printed = GetCapturedStdout();
    EXPECT_EQ(LogLines(printed).size(), 2u);  // console goes on
    EXPECT_EQ(sink.Received().size(), 2u);
    const std::string failure = "open log file[" + LogPath() + "] failed!!\n";
    size_t first = printed.find(failure);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(printed.find(failure, first + 1), std::string::npos);  // reported once

    CloseLogOfs();
    ASSERT_EQ(::rmdir(LogPath().c_str()), 0);
    CaptureStdout();
    InfoPrint("third");
    GetCapturedStdout();
    EXPECT_NE(ReadFile(LogPath()).find("third"), std::string::npos);
}

TEST_F(LogTest, ConcurrentLinesStayWholeInFileAndConsole) {
    RecordingSink sink;
    SetLogHandle(&sink);
    ClientConfig::OpenCoutLog();
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    const std::string payload(300, '#');
    // A line that meets the file being opened by another thread is dropped by
    // design; open it first so every line is expected in the file.
    ASSERT_NE(GetLogOfs(), nullptr);
    CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &payload] {
            for (int i = 0; i < kLines; ++i) {
                if (t % 2 == 0) {
                    InfoPrint("t%d i%d %s end", t, i, payload.c_str());
                } else {
                    ErrorPrint("t%d i%d %s end", t, i, payload.c_str());
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::string console = GetCapturedStdout();
    EXPECT_EQ(sink.Received().size(), static_cast<size_t>(kThreads * kLines));

    for (const std::string& text : {console, ReadFile(LogPath())}) {
        std::vector<std::string> lines = LogLines(text);
        ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
        std::vector<int> next(kThreads, 0);
        const std::regex body(R"(t(\d) i(\d+) (#+) end)");
        for (const std::string& line : lines) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(line, match, kLine)) << line;
            std::string message = match[10];
            std::smatch parts;
            ASSERT_TRUE(std::regex_match(message, parts, body)) << message;
            int thread = std::stoi(parts[1]);
            EXPECT_EQ(std::stoi(parts[2]), next[thread]++);  // each thread's lines in order
            EXPECT_EQ(parts[3].length(), payload.size());
        }
    }
}

}  // namespace
