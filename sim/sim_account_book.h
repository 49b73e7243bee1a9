#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sim_options.h"

namespace com::mivo::kmr::client {

// Users, passwords and the session tokens handed out by discovery. Shared by every server of one service, so
// every member takes the lock.
class SimAccountBook {
public:
    enum class TokenState { kValid, kUnknown, kExpired, kWrongUser };

    void AddAccount(const SimAccount& account);
    bool HasUser(const std::string& user) const;
    bool CheckPassword(const std::string& user, const std::string& clear_password) const;
    // Data types the user may subscribe to; false for unknown users.
    bool IsEntitled(const std::string& user, int data_type) const;

    // A fresh random token for the user (32 hexadecimal characters).
    std::string IssueToken(const std::string& user);
    TokenState CheckToken(const std::string& user, const std::string& token) const;
    // Every token issued so far stops working for new logins.
    void ExpireAllTokens();
    // False when the token was never issued.
    bool ExpireToken(const std::string& token);
    // Tokens older than this stop working; zero (the default) lets them live forever.
    void SetTokenLifetime(std::chrono::milliseconds lifetime);
    // The newest token issued to the user, empty if none.
    std::string LastToken(const std::string& user) const;

    static const char* TokenStateText(TokenState state);

private:
    struct TokenEntry {
        std::string user;
        std::chrono::steady_clock::time_point issued;
        bool expired = false;
    };

    mutable std::mutex m_mutex;
    std::map<std::string, SimAccount> m_accounts;
    std::map<std::string, TokenEntry> m_tokens;
    std::map<std::string, std::string> m_last_token;
    std::chrono::milliseconds m_lifetime{0};
};

}  // namespace com::mivo::kmr::client
