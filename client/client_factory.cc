#include "client/client_factory.h"

#include "client/nuvexia_tcp_client.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/multi_platform_kits.h"

namespace com::mivo::kmr::client {

ClientFactory* ClientFactory::s_factory = nullptr;
ClientInterface* ClientFactory::s_client = nullptr;
std::mutex ClientFactory::s_factory_mutex;
std::mutex ClientFactory::s_handler_mutex;

ClientFactory* ClientFactory::Instance() {
    std::lock_guard<std::mutex> lock(s_factory_mutex);
    if (s_factory == nullptr) {
        s_factory = new ClientFactory();
    }
    return s_factory;
}

void ClientFactory::SetConfig(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    (void)BaseConfig::GetInstance().ParseConfigFile(path);
}

void ClientFactory::RegistLogHandle(LogInterface* log_handle) {
    if (log_handle == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(s_handler_mutex);
    SetLogHandle(log_handle);
}

ClientInterface* ClientFactory::CreateClient(MessageHandle* message_handle) {
    if (message_handle == nullptr) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(s_factory_mutex);
    if (s_client != nullptr) {
        return s_client;
    }
    auto* client = new NuvexiaTcpClient(message_handle);
    MultiPlatformKits::GetInstance()->StartWindowsEnv();
    s_client = client;
    if (BaseConfig::GetInstance().IsUseSSL() && client->SslEnvInit() < 0) {
        DebugPrint("local SSL certification failed");
        delete client;
        s_client = nullptr;
    }
    return s_client;
}

void ClientFactory::Uninstance() {
    std::lock_guard<std::mutex> lock(s_factory_mutex);
    delete s_factory;
    s_factory = nullptr;
    if (s_client != nullptr) {
        delete s_client;
        s_client = nullptr;
    }
    MultiPlatformKits::GetInstance()->FreeWindowsEnv();
}

}  // namespace com::mivo::kmr::client
