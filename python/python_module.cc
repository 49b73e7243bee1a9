#include "python/python_module.h"

#include <cstdio>
#include <string>

#include "client/client_factory.h"
#include "common/client_config.h"
#include "common/host_call.h"
#include "python/interruptible_call.h"
#include "python/json_parameters.h"
#include "python/module_bridge.h"

using com::mivo::kmr::client::ClientConfig;
using com::mivo::kmr::client::ClientFactory;
using com::mivo::kmr::client::HostCall;
using com::mivo::kmr::client::InterruptibleCall;
using com::mivo::kmr::client::ModuleBridge;

int QUERY_TYPE_BASE_INFORMATION = 1011;
int QUERY_TYPE_LATEST_BASE_INFORMATION = 1012;
int QUERY_TYPE_ETF_BASE_INFORMATION = 1013;
int QUERY_TYPE_STATUS = 1021;
int QUERY_TYPE_SUBSCRIBE_ANSWER = 1031;

void python_init_env() {
    printf("init env ...\n");
    fflush(stdout);
    ModuleBridge::Ensure();
}

void python_fini_env() {
    printf("fini env ...\n");
    fflush(stdout);
    // Inside a callback the thread may be an abandoned call's own helper; the
    // client's teardown waits for such calls anyway.
    if (!HostCall::Inside()) {
        InterruptibleCall::WaitForAbandoned();
    }
    ModuleBridge::Destroy();
}

void python_open_file_log() {
    ClientConfig::OpenFileLog();
}

void python_close_file_log() {
    ClientConfig::CloseFileLog();
}

void python_open_cout_log() {
    ClientConfig::OpenCoutLog();
}

void python_close_cout_log() {
    ClientConfig::CloseCoutLog();
}

int python_login(const char* json, int reserved) {
    (void)reserved;
    const std::string text = json == nullptr ? std::string() : json;
    const bool has_text = json != nullptr;
    return InterruptibleCall::Run(
        [text, has_text] {
            return com::mivo::kmr::client::login_from_json(has_text ? text.c_str() : nullptr);
        },
        // The caller gave up on this login: a session that came up anyway
        // would deliver to a program that believes it has none.
        [](int result) {
            if (result == 0) {
                ModuleBridge::DestroyClient();
            }
        });
}

void python_logout() {
    if (HostCall::Inside()) {
        // A callback may run inside a blocking call (a login): waiting for
        // that call's turn would wait for the callback itself.
        ModuleBridge::DestroyClient();
        return;
    }
    InterruptibleCall::WaitForAbandoned();
    // In turn with any blocking call of another Python thread, never under it.
    InterruptibleCall::Run([] {
        ModuleBridge::DestroyClient();
        return 0;
    });
}

int python_subscribeByDataType(const char* json, int reserved) {
    (void)reserved;
    const std::string text = json == nullptr ? std::string() : json;
    const bool has_text = json != nullptr;
    return InterruptibleCall::Run([text, has_text] {
        return com::mivo::kmr::client::subscribe_by_data_type_from_json(has_text ? text.c_str() : nullptr);
    });
}

int python_subscribeBySecurityId(const char* json, int reserved) {
    (void)reserved;
    const std::string text = json == nullptr ? std::string() : json;
    const bool has_text = json != nullptr;
    return InterruptibleCall::Run([text, has_text] {
        return com::mivo::kmr::client::subscribe_by_security_id_from_json(has_text ? text.c_str() : nullptr);
    });
}

void python_request_fin_info_query_sync(const char* json, int reserved) {
    (void)json;
    (void)reserved;
}

int python_request_fin_info_query_async(const char* json, int reserved) {
    (void)json;
    (void)reserved;
    return 0;
}

void Notify_Regist(Notify* notify) {
    ModuleBridge::Ensure()->SetNotify(notify);
}

void Log_Regist(PyLog* log) {
    (void)log;
}

std::string python_get_statistics() {
    return ClientFactory::GetStatisticsJson();
}

std::string python_get_subscriptions() {
    return ClientFactory::GetSubscriptionsJson();
}
