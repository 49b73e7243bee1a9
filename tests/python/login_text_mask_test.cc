// The login text as logged: the password's value never shows, whatever the
// text looks like.
#include <gtest/gtest.h>

#include <string>

#include "python/login_text_mask.h"

namespace com::mivo::kmr::client {
namespace {

constexpr const char* kSecret = "hunter-2-pw";

void ExpectHidden(const std::string& text, const std::string& expected) {
    const std::string shown = LoginTextMask::Masked(text.c_str());
    EXPECT_EQ(shown.find(kSecret), std::string::npos) << text << " -> " << shown;
    EXPECT_EQ(shown, expected) << text;
}

TEST(LoginTextMask, EverySpellingOfThePasswordKeyIsMasked) {
    ExpectHidden(std::string("{\"UserName\": \"u\", \"Password\": \"") + kSecret + "\"}",
                 "{\"UserName\": \"u\", \"Password\": \"******\"}");
    // The key as the login reads it after unescaping.
    ExpectHidden(std::string("{\"Pass\\u0077ord\":\"") + kSecret + "\"}", "{\"Password\": \"******\"}");
    // Keys the login ignores, but that a host plainly meant as a password.
    ExpectHidden(std::string("{\"password\": \"") + kSecret + "\", \"PASSWD\": \"" + kSecret + "\"}",
                 "{\"password\": \"******\", \"PASSWD\": \"******\"}");
    ExpectHidden(std::string("{\"BackServer\": [{\"IP\": \"h\", \"pwd\": \"") + kSecret + "\"}]}",
                 "{\"BackServer\": [{\"IP\": \"h\", \"pwd\": \"******\"}]}");
    // A value that is no string is masked as well.
    ExpectHidden("{\"Password\": 12345}", "{\"Password\": \"******\"}");
}

TEST(LoginTextMask, EscapedValueIsMaskedFromTheParsedText) {
    // "hunter-2-pw" with two characters escaped: the text holds no copy of it.
    const std::string text = "{\"Password\": \"hun\\u0074er-2-p\\u0077\", \"UserName\": \"u\"}";
    ExpectHidden(text, "{\"Password\": \"******\", \"UserName\": \"u\"}");
}

TEST(LoginTextMask, TextThatIsNotJsonIsNotShown) {
    // What Python's str() of a dict gives, a cut text and a bare value.
    const std::string python_dict = std::string("{'UserName': 'u', 'Password': '") + kSecret + "'}";
    ExpectHidden(python_dict, "(" + std::to_string(python_dict.size()) + " bytes, not shown: not JSON)");
    const std::string cut = std::string("{\"Password\": \"") + kSecret;
    ExpectHidden(cut, "(" + std::to_string(cut.size()) + " bytes, not shown: not JSON)");
    ExpectHidden(kSecret, "(11 bytes, not shown: not JSON)");
    EXPECT_EQ(LoginTextMask::Masked(nullptr), "");
}

TEST(LoginTextMask, PasswordStandingElsewhereHidesTheWholeText) {
    const std::string text =
        std::string("{\"UserName\": \"") + kSecret + "\", \"Password\": \"" + kSecret + "\"}";
    ExpectHidden(text,
                 "(" + std::to_string(text.size()) + " bytes, not shown: holds the password elsewhere)");
    // Also when the other copy is spelled with escapes that the dump writes back.
    const std::string quoted = "{\"Password\": \"a\\\"b\", \"Note\": \"x a\\\"b y\"}";
    const std::string shown = LoginTextMask::Masked(quoted.c_str());
    EXPECT_EQ(shown.find("a\\\"b"), std::string::npos) << shown;
}

TEST(LoginTextMask, OtherMembersAndNonObjectsStayReadable) {
    EXPECT_EQ(LoginTextMask::Masked("{\"UserName\": \"u\", \"MainServerPort\": 9552, \"Is_Ssl\": true}"),
              "{\"UserName\": \"u\", \"MainServerPort\": 9552, \"Is_Ssl\": true}");
    EXPECT_EQ(LoginTextMask::Masked("[1, \"x\"]"), "[1, \"x\"]");
    EXPECT_EQ(LoginTextMask::Masked("{\"Password\": \"\"}"), "{\"Password\": \"******\"}");
}

}  // namespace
}  // namespace com::mivo::kmr::client
