// Loads an optional configuration file, shows the settings in effect and
// writes one line per level to the console, the log file and a sink.
//
//   config-demo [config-file]
#include <cstdio>

#include "zel_gateway_client.h"

using namespace com::mivo::kmr::client;

namespace {

class PrintingSink : public LogInterface {
public:
    void LogPrint(NuvexiaLogLevel level, const char* message) override {
        std::printf("[sink] level %d: %s\n", static_cast<int>(level), message);
    }
};

void PrintSettings() {
    BaseConfig& config = BaseConfig::GetInstance();
    std::printf("version                 %s\n", ClientConfig::GetAppVersion());
    std::printf("config file             %s\n", config.GetConfigFilePath().c_str());
    std::printf("use TLS                 %d\n", ClientConfig::IsUseSSL());
    std::printf("certificate folder      %s\n", ClientConfig::GetSSLCertfolder().c_str());
    std::printf("log folder              %s\n", ClientConfig::GetLogFileOutFolder());
    std::printf("log severity            %d\n", static_cast<int>(ClientConfig::GetLogSeverity()));
    std::printf("file log / console log  %d / %d\n", ClientConfig::IsFileLog(), ClientConfig::IsCoutLog());
    std::printf("callback threads        %u\n", ClientConfig::GetHandleThreadNum());
    std::printf("idle sleep (us)         %u\n", ClientConfig::GetThreadIdleSleepTime());
    std::printf("read / send timeout (s) %u / %u\n", ClientConfig::GetReadTimeout(),
                ClientConfig::GetSendTimeout());
    std::printf("daemon check (s)        %lld\n",
                static_cast<long long>(config.GetDaemonCheckInterval().count()));
    std::printf("login tries / pause (s) %u / %u\n", config.GetLoginTryCount(), config.GetLoginTryInterval());
    std::printf("subscribe tries / pause %u / %u\n", config.GetSubscribeTryCount(),
                config.GetSubscirbeTryInterval());
    std::printf("heartbeat (s) / misses  %u / %u\n", ClientConfig::GetHeartBeatInterval(),
                config.GetHeartbeatMaxCount());
    std::printf("query url               %s\n", config.GetHttpUri().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && !BaseConfig::GetInstance().SetConfigFilePath(argv[1])) {
        std::printf("\nusing the built-in settings\n");
    }
    PrintingSink sink;
    SetLogHandle(&sink);
    ClientConfig::OpenCoutLog();
    ClientConfig::OpenFileLog();
    PrintSettings();
    std::fflush(stdout);

    DebugPrint("debug line from %s", "config-demo");
    InfoPrint("info line, task %s", GetTaskId("demo"));
    WarnPrint("warn line, connection %s", MultiPlatformKits::GetInstance()->GetConnectionId("demo"));
    ErrorPrint("error line, password cipher %s",
               StandardLibKits::GetInstance()->EncodeByAesEcbPkcs5padding("demo").c_str());
    std::fflush(stdout);

    SetLogHandle(nullptr);
    CloseLogOfs();
    return 0;
}
