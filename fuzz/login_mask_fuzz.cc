// The login text as logged. Property: the value the login would use as the
// password never appears in what is logged, whatever the text looks like.
#include <cstring>
#include <string>

#include <jansson.h>

#include "fuzz/fuzz_kit.h"
#include "python/json_ref.h"
#include "python/login_text_mask.h"

using namespace com::mivo::kmr::client;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel_fuzz::QuietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string shown = LoginTextMask::Masked(text.c_str());

    // The password exactly as the login reads it.
    json_error_t error;
    JsonRef root(json_loads(text.c_str(), 0, &error));
    json_t* password = json_object_get(root.get(), "Password");
    // A text that is not shown says only its length (a password found in
    // these fixed words, "b" in "bytes", was never the text's).
    const std::string length = std::to_string(std::strlen(text.c_str()));
    const bool withheld = shown == "(" + length + " bytes, not shown: not JSON)" ||
                          shown == "(" + length + " bytes, not shown: holds the password elsewhere)";
    if (json_is_string(password) && json_string_length(password) > 0 && !withheld) {
        const std::string value(json_string_value(password), json_string_length(password));
        ZEL_FUZZ_CHECK(shown.find(value) == std::string::npos);
    }
    // Text that is not JSON is never shown, in part or whole.
    if (root.get() == nullptr) {
        ZEL_FUZZ_CHECK(shown == "(" + length + " bytes, not shown: not JSON)");
    }
    return 0;
}
