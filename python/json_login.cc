#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "client/client_factory.h"
#include "common/base_log.h"
#include "common/client_config.h"
#include "common/result_codes.h"
#include "protocol/service_contract.h"
#include "python/json_keys.h"
#include "python/json_parameters.h"
#include "python/json_ref.h"
#include "python/login_text_mask.h"
#include "python/module_bridge.h"

namespace com::mivo::kmr::client {

namespace {

std::mutex s_login_state_mutex;
std::string s_cert_folder = "./cert";
json_int_t s_query_max_size = 104857600;

// jansson quotes the offending token ("... near 'secret'"), which may be the
// password itself.
std::string ParseErrorWithoutToken(const char* error) {
    std::string text(error);
    const size_t near = text.find(" near '");
    if (near != std::string::npos) {
        text.erase(near);
    }
    return text;
}

struct LoginParameters {
    std::string user_name;
    std::string password;
    std::string main_ip;
    int main_port = kMissingJsonValue;
    bool use_ssl = false;
    int thread_count = 4;
    std::vector<std::string> backup_servers;
};

void ReadBackServers(json_t* list, std::vector<std::string>* backup_servers) {
    size_t index;
    json_t* element;
    json_array_foreach(list, index, element) {
        if (!json_is_object(element)) {
            continue;
        }
        json_t* ip = json_object_get(element, "IP");
        json_t* port = json_object_get(element, "Port");
        if (!json_is_string(ip) || !json_is_integer(port)) {
            continue;
        }
        backup_servers->push_back(std::string(json_string_value(ip)) + ":" +
                                  std::to_string(json_integer_value(port)));
    }
}

void ReadLoginObject(json_t* root, LoginParameters* parameters) {
    json_t* value = json_object_get(root, "UserName");
    if (json_is_string(value)) {
        parameters->user_name = json_string_value(value);
        DebugPrint("UserName: %s \r\n", parameters->user_name.c_str());
    }
    value = json_object_get(root, "Password");
    if (json_is_string(value)) {
        parameters->password = json_string_value(value);
        DebugPrint("Password: %s \r\n", ServiceContract::MASKED_SECRET);
    }
    value = json_object_get(root, "CertFolder");
    if (json_is_string(value)) {
        std::lock_guard<std::mutex> lock(s_login_state_mutex);
        s_cert_folder = json_string_value(value);
        DebugPrint("cert_folder: %s \r\n", s_cert_folder.c_str());
    }
    value = json_object_get(root, "MainServerIP");
    if (json_is_string(value)) {
        parameters->main_ip = json_string_value(value);
        DebugPrint("MainServerIP: %s \r\n", parameters->main_ip.c_str());
    }
    value = json_object_get(root, "MainServerPort");
    if (json_is_integer(value)) {
        parameters->main_port = static_cast<int>(json_integer_value(value));
        DebugPrint("MainServerPort: %d \r\n", parameters->main_port);
    }
    value = json_object_get(root, "Is_Ssl");
    if (json_is_boolean(value)) {
        parameters->use_ssl = json_is_true(value);
        DebugPrint("ssl: %d \r\n", parameters->use_ssl ? 1 : 0);
    }
    value = json_object_get(root, "QueryAddress");
    if (json_is_string(value) && json_string_length(value) > 0) {
        DebugPrint("query_use_ssl: %s \r\n", json_string_value(value));
    }
    value = json_object_get(root, "QueryCert");
    if (json_is_string(value)) {
        DebugPrint("QueryCert: %s \r\n", json_string_value(value));
    }
    value = json_object_get(root, "QuerySSL");
    if (json_is_boolean(value)) {
        DebugPrint("QuerySSL: %d \r\n", json_is_true(value) ? 1 : 0);
    }
    value = json_object_get(root, "QueryMaxQuerySize");
    if (json_is_integer(value)) {
        std::lock_guard<std::mutex> lock(s_login_state_mutex);
        if (json_integer_value(value) > s_query_max_size) {
            s_query_max_size = json_integer_value(value);
            DebugPrint("QueryMaxQuerySize: %lld \r\n", static_cast<long long>(s_query_max_size));
        }
    }
    value = json_object_get(root, "Thread_Count");
    if (json_is_integer(value)) {
        parameters->thread_count = static_cast<int>(json_integer_value(value));
        DebugPrint("THREAD_COUNT: %d \r\n", parameters->thread_count);
    }
    value = json_object_get(root, "BackServer");
    if (json_is_array(value)) {
        ReadBackServers(value, &parameters->backup_servers);
    }
}

void TearDownClient() {
    ClientFactory::Uninstance();
    ModuleBridge::ClientDestroyed();
}

}  // namespace

int login_from_json(const char* text) {
    printf("try to login ...\n");
    fflush(stdout);
    LoginParameters parameters;
    DebugPrint("login json:%s\r\n", text == nullptr ? "" : LoginTextMask::Masked(text).c_str());

    json_error_t error;
    JsonRef root(text == nullptr ? nullptr : json_loads(text, 0, &error));
    const std::string unknown = JsonKeys::UnknownLoginKey(root.get());
    if (!unknown.empty()) {
        ErrorPrint("login parameter non conformance: unknown key \"%s\"", unknown.c_str());
        return RESULT_PY_LOGIN_PARAMETERS_INCOMPLETE;
    }
    if (root.get() == nullptr) {
        ErrorPrint("load login json failed: %s",
                   text == nullptr ? "no text given" : ParseErrorWithoutToken(error.text).c_str());
    } else if (json_is_object(root.get())) {
        ReadLoginObject(root.get(), &parameters);
    }
    const bool ssl_given = json_is_boolean(json_object_get(root.get(), "Is_Ssl"));
    json_decref(root.release());

    PythonHandle* bridge = ModuleBridge::Ensure();
    if (bridge == nullptr) {
        ErrorPrint("msgHandler is nullptr...");
        return RESULT_PY_NO_CLIENT;
    }
    ClientFactory* factory = ClientFactory::Instance();
    if (parameters.thread_count >= 1 && parameters.thread_count <= 99) {
        ClientConfig::SetHandleThreadNum(static_cast<unsigned>(parameters.thread_count));
    }
    ClientConfig::SetUseSSL(parameters.use_ssl);
    {
        std::lock_guard<std::mutex> lock(s_login_state_mutex);
        ClientConfig::SetSSLCertfolder(s_cert_folder);
        // The module's defaults differ from the library's (TLS on, no CA
        // folder); say which ones this login uses.
        InfoPrint(
            "login: TLS %s (%s; without Is_Ssl the Python module connects without TLS, unlike the "
            "C++ library), CA folder \"%s\"%s",
            parameters.use_ssl ? "on" : "off", ssl_given ? "from Is_Ssl" : "Python default",
            s_cert_folder.c_str(),
            parameters.use_ssl && s_cert_folder == "./cert" ? " (Python default)" : "");
    }
    ClientInterface* client = factory->CreateClient(bridge);
    if (client == nullptr) {
        return RESULT_PY_NO_CLIENT;
    }
    ModuleBridge::ClientCreated();

    if (parameters.main_ip.empty() || parameters.main_port == kMissingJsonValue ||
        parameters.user_name.empty() || parameters.password.empty()) {
        ErrorPrint("login parameter non conformance");
        TearDownClient();
        return RESULT_PY_LOGIN_PARAMETERS_INCOMPLETE;
    }
    int result;
    try {
        result =
            client->LoginByServiceDiscovery(parameters.user_name, parameters.password, parameters.main_ip,
                                            parameters.main_port, parameters.backup_servers);
    } catch (const std::exception& e) {
        // A backup address that is not "ip:port".
        ErrorPrint("login parameter non conformance: %s", e.what());
        TearDownClient();
        return RESULT_PY_LOGIN_PARAMETERS_INCOMPLETE;
    }
    if (result != 0) {
        TearDownClient();
    }
    return result;
}

}  // namespace com::mivo::kmr::client
