#include "python/login_text_mask.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "protocol/service_contract.h"
#include "python/json_ref.h"

namespace com::mivo::kmr::client {

namespace {

// Replaces the value of every member with a password key, at any depth.
void MaskMembers(json_t* value) {
    if (json_is_object(value)) {
        const char* key;
        json_t* member;
        void* scratch;
        json_object_foreach_safe(value, scratch, key, member) {
            if (LoginTextMask::IsPasswordKey(key)) {
                json_object_set_new(value, key, json_string(ServiceContract::MASKED_SECRET));
            } else {
                MaskMembers(member);
            }
        }
    } else if (json_is_array(value)) {
        size_t index;
        json_t* element;
        json_array_foreach(value, index, element) {
            MaskMembers(element);
        }
    }
}

std::string Dump(const json_t* value) {
    char* text = json_dumps(value, JSON_ENCODE_ANY);
    if (text == nullptr) {
        return std::string();
    }
    std::string dumped(text);
    std::free(text);
    return dumped;
}

std::string NotShown(const char* text, const char* why) {
    return "(" + std::to_string(std::strlen(text)) + " bytes, not shown: " + why + ")";
}

}  // namespace

bool LoginTextMask::IsPasswordKey(const char* key) {
    std::string lower(key);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower.find("password") != std::string::npos || lower.find("passwd") != std::string::npos ||
           lower.find("pwd") != std::string::npos;
}

std::string LoginTextMask::Masked(const char* text) {
    if (text == nullptr) {
        return std::string();
    }
    json_error_t error;
    JsonRef root(json_loads(text, 0, &error));
    if (root.get() == nullptr) {
        return NotShown(text, "not JSON");
    }
    std::string password;
    json_t* value = json_object_get(root.get(), "Password");
    if (json_is_string(value)) {
        password.assign(json_string_value(value), json_string_length(value));
    }
    MaskMembers(root.get());
    const std::string shown = Dump(root.get());
    if (password.empty()) {
        return shown;
    }
    // The value may still stand elsewhere, e.g. as the user name: then
    // nothing of the text is shown. The dump escapes what JSON escapes, so
    // the escaped spelling is looked for too.
    JsonRef password_json(json_stringn(password.data(), password.size()));
    std::string escaped = Dump(password_json.get());
    if (escaped.size() >= 2) {
        escaped = escaped.substr(1, escaped.size() - 2);
    }
    if (shown.find(password) != std::string::npos ||
        (!escaped.empty() && shown.find(escaped) != std::string::npos)) {
        return NotShown(text, "holds the password elsewhere");
    }
    return shown;
}

}  // namespace com::mivo::kmr::client
