// The Python module's JSON parameter readers on any text: the login text
// (as far as it goes without dialling out) and both subscribe texts on a
// client that is not logged in, which keeps what it is given for later.
// Properties: an unusable text is reported as such, never as success.
#include <unistd.h>

#include <cstdio>
#include <string>

#include <jansson.h>

#include "common/base_config.h"
#include "common/result_codes.h"
#include "fuzz/fuzz_kit.h"
#include "python/json_parameters.h"
#include "python/json_ref.h"
#include "python/python_module.h"

using namespace com::mivo::kmr::client;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A subscribe without a session fails at once, tried once, no pause.
    const std::string path = "/tmp/zel_json_fuzz_" + std::to_string(::getpid()) + ".conf";
    if (FILE* file = std::fopen(path.c_str(), "w")) {
        std::fputs("nuvexia_config_subscribe_try_count=1\nnuvexia_config_subscribe_try_interval=0\n", file);
        std::fclose(file);
        (void)BaseConfig::GetInstance().SetConfigFilePath(path);
        std::remove(path.c_str());
    }
    zel_fuzz::QuietLogs();
    // The module and the parser announce themselves on standard output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 0;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    json_error_t error;
    JsonRef root(json_loads(text.c_str(), 0, &error));

    // A text with a port would dial it: the login reader is fed only texts
    // that stop before the connection.
    if (!json_is_integer(json_object_get(root.get(), "MainServerPort"))) {
        const int result = login_from_json(text.c_str());
        ZEL_FUZZ_CHECK(result != 0);
    }
    const int by_type = subscribe_by_data_type_from_json(text.c_str());
    const int by_id = subscribe_by_security_id_from_json(text.c_str());
    if (!json_is_object(root.get())) {
        ZEL_FUZZ_CHECK(by_type == RESULT_BAD_PARAMETERS || by_type == -1);
        ZEL_FUZZ_CHECK(by_id == RESULT_BAD_PARAMETERS || by_id == -1);
    }
    // Each input starts without a client.
    python_logout();
    return 0;
}
