#include "common/client_config.h"

#include "common/base_config.h"

namespace com::mivo::kmr::client {

namespace {
BaseConfig& Config() {
    return BaseConfig::GetInstance();
}
}  // namespace

bool ClientConfig::IsUseSSL() {
    return Config().IsUseSSL();
}
void ClientConfig::SetUseSSL(bool use_ssl) {
    Config().SetUseSSL(use_ssl);
}

void ClientConfig::SetSSLCertfolder(const std::string& folder) {
    Config().SetSSLCertfolder(folder);
}
std::string ClientConfig::GetSSLCertfolder() {
    return Config().GetSSLCertfolder();
}

void ClientConfig::SetHandleThreadNum(unsigned num) {
    Config().SetHandleThreadNum(num);
}
unsigned ClientConfig::GetHandleThreadNum() {
    return Config().GetHandleThreadNum();
}

void ClientConfig::SetSiteMemoryBudgetMb(unsigned megabytes) {
    Config().SetSiteMemoryBudgetMb(megabytes);
}
unsigned ClientConfig::GetSiteMemoryBudgetMb() {
    return Config().GetSiteMemoryBudgetMb();
}

void ClientConfig::SetLogFileOutFolder(const std::string& folder) {
    Config().SetLogFileOutFolder(folder);
}
const char* ClientConfig::GetLogFileOutFolder() {
    return Config().GetLogFileOutFolder().c_str();
}

NuvexiaLogLevel ClientConfig::GetLogSeverity() {
    return static_cast<NuvexiaLogLevel>(Config().GetLogSeverity());
}
void ClientConfig::SetLogSeverity(NuvexiaLogLevel severity) {
    Config().SetLogSeverity(static_cast<unsigned>(severity));
}

void ClientConfig::OpenFileLog() {
    Config().OpenFileLog();
}
void ClientConfig::CloseFileLog() {
    Config().CloseFileLog();
}
bool ClientConfig::IsFileLog() {
    return Config().IsFileLog();
}

void ClientConfig::OpenCoutLog() {
    Config().OpenCoutLog();
}
void ClientConfig::CloseCoutLog() {
    Config().CloseCoutLog();
}
bool ClientConfig::IsCoutLog() {
    return Config().IsCoutLog();
}

void ClientConfig::SetThreadIdleSleepTime(unsigned micros) {
    Config().SetThreadIdleSleepTime(micros);
}
unsigned ClientConfig::GetThreadIdleSleepTime() {
    return static_cast<unsigned>(Config().GetThreadIdleSleepTime().count());
}

void ClientConfig::SetReadTimeout(unsigned seconds) {
    Config().SetReadTimeout(seconds);
}
unsigned ClientConfig::GetReadTimeout() {
    return Config().GetReadTimeout();
}
void ClientConfig::SetSendTimeout(unsigned seconds) {
    Config().SetSendTimeout(seconds);
}
unsigned ClientConfig::GetSendTimeout() {
    return Config().GetSendTimeout();
}

unsigned ClientConfig::GetHeartBeatInterval() {
    return Config().GetHeartBeatInterval();
}

const char* ClientConfig::GetAppVersion() {
    // The text never changes after construction, so its buffer stays valid.
    static const std::string version = Config().GetAppVersion();
    return version.c_str();
}

}  // namespace com::mivo::kmr::client
