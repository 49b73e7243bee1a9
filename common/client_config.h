#pragma once

#include <string>

#include "common/base_log.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// The host program's view of the process-wide settings (BaseConfig).
// Load a configuration file first (ClientFactory::SetConfig), then call
// setters: reading a file resets every setting to the file's or the
// built-in value.
class ZEL_API ClientConfig {
public:
    static bool IsUseSSL();
    static void SetUseSSL(bool use_ssl);

    static void SetSSLCertfolder(const std::string& folder);
    static std::string GetSSLCertfolder();

    // Values outside 1..99 are ignored.
    static void SetHandleThreadNum(unsigned num);
    static unsigned GetHandleThreadNum();

    // Megabytes of market data one site may hold before its reader waits (1 and up).
    static void SetSiteMemoryBudgetMb(unsigned megabytes);
    static unsigned GetSiteMemoryBudgetMb();

    // The folder text is used as a prefix of the file name: end it with '/'.
    static void SetLogFileOutFolder(const std::string& folder);
    static const char* GetLogFileOutFolder();

    static NuvexiaLogLevel GetLogSeverity();
    static void SetLogSeverity(NuvexiaLogLevel severity);

    static void OpenFileLog();
    static void CloseFileLog();
    static bool IsFileLog();

    static void OpenCoutLog();
    static void CloseCoutLog();
    static bool IsCoutLog();

    static void SetThreadIdleSleepTime(unsigned micros);
    static unsigned GetThreadIdleSleepTime();

    static void SetReadTimeout(unsigned seconds);
    static unsigned GetReadTimeout();
    static void SetSendTimeout(unsigned seconds);
    static unsigned GetSendTimeout();

    static unsigned GetHeartBeatInterval();
    static const char* GetAppVersion();

    ClientConfig() = delete;
    ~ClientConfig() = delete;
};

}  // namespace com::mivo::kmr::client
