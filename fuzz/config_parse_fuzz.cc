// The configuration file parser on any text. Properties: the values the
// library runs with stay in their documented ranges.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/base_config.h"
#include "common/client_config.h"
#include "fuzz/fuzz_kit.h"

using namespace com::mivo::kmr::client;

namespace {

std::string s_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel_fuzz::QuietLogs();
    // The parser reports every property on standard output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 0;
    }
    s_path = "/tmp/zel_config_fuzz_" + std::to_string(::getpid()) + ".conf";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (s_path.empty()) {
        s_path = "/tmp/zel_config_fuzz_" + std::to_string(::getpid()) + ".conf";
    }
    FILE* file = std::fopen(s_path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!written) {
        return 0;
    }
    BaseConfig& config = BaseConfig::GetInstance();
    (void)config.SetConfigFilePath(s_path);
    std::remove(s_path.c_str());
    // A parsed file may switch the log file on in a folder it names: never
    // let a fuzz input create folders.
    ClientConfig::CloseFileLog();
    ClientConfig::CloseCoutLog();

    ZEL_FUZZ_CHECK(config.GetHandleThreadNum() >= 1 && config.GetHandleThreadNum() <= 99);
    ZEL_FUZZ_CHECK(config.GetReadTimeout() <= static_cast<unsigned>(INT32_MAX));
    ZEL_FUZZ_CHECK(config.GetDaemonCheckInterval().count() >= 0);
    ZEL_FUZZ_CHECK(config.GetThreadIdleSleepTime().count() >= 0);
    return 0;
}
