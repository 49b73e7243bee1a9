#pragma once

#include <string>

namespace com::mivo::kmr::client {

// The login text as a log line may show it. The password is found the way the
// login finds it (the parsed "Password" member, however its key is escaped),
// and the text shown is rebuilt from the parsed value with every member whose
// key names a password masked, so no spelling of the text can carry the value
// through. Text that is not JSON is not shown at all: nothing in it can be
// told apart from a password.
class LoginTextMask {
public:
    static std::string Masked(const char* text);

    // True when any key naming a password (case-insensitive "password",
    // "passwd", "pwd") is seen.
    static bool IsPasswordKey(const char* key);
};

}  // namespace com::mivo::kmr::client
