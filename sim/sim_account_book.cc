#include "sim/sim_account_book.h"

#include <openssl/rand.h>

#include <algorithm>
#include <random>

namespace com::mivo::kmr::client {

void SimAccountBook::AddAccount(const SimAccount& account) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_accounts[account.user] = account;
}

bool SimAccountBook::HasUser(const std::string& user) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_accounts.count(user) != 0;
}

bool SimAccountBook::CheckPassword(const std::string& user, const std::string& clear_password) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_accounts.find(user);
    return it != m_accounts.end() && it->second.password == clear_password;
}

bool SimAccountBook::IsEntitled(const std::string& user, int data_type) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_accounts.find(user);
    if (it == m_accounts.end()) {
        return false;
    }
    const auto& types = it->second.data_types;
    return types.empty() || std::find(types.begin(), types.end(), data_type) != types.end();
}

std::string SimAccountBook::IssueToken(const std::string& user) {
    unsigned char raw[16];
    if (RAND_bytes(raw, sizeof(raw)) != 1) {
        // Tokens only need to be unguessable enough for a test service.
        std::random_device device;
        for (auto& byte : raw) {
            byte = static_cast<unsigned char>(device());
        }
    }
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char byte : raw) {
        token.push_back(kHex[byte >> 4]);
        token.push_back(kHex[byte & 15]);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tokens[token] = TokenEntry{user, std::chrono::steady_clock::now(), false};
    m_last_token[user] = token;
    return token;
}

SimAccountBook::TokenState SimAccountBook::CheckToken(const std::string& user,
                                                      const std::string& token) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_tokens.find(token);
    if (it == m_tokens.end()) {
        return TokenState::kUnknown;
    }
    if (it->second.user != user) {
        return TokenState::kWrongUser;
    }
    if (it->second.expired) {
        return TokenState::kExpired;
    }
    if (m_lifetime.count() > 0 && std::chrono::steady_clock::now() - it->second.issued > m_lifetime) {
        return TokenState::kExpired;
    }
    return TokenState::kValid;
}

void SimAccountBook::ExpireAllTokens() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_tokens) {
        entry.second.expired = true;
    }
}

bool SimAccountBook::ExpireToken(const std::string& token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_tokens.find(token);
    if (it == m_tokens.end()) {
        return false;
    }
    it->second.expired = true;
    return true;
}

void SimAccountBook::SetTokenLifetime(std::chrono::milliseconds lifetime) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lifetime = lifetime;
}

std::string SimAccountBook::LastToken(const std::string& user) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_last_token.find(user);
    return it == m_last_token.end() ? std::string() : it->second;
}

const char* SimAccountBook::TokenStateText(TokenState state) {
    switch (state) {
        case TokenState::kValid:
            return "token valid";
        case TokenState::kUnknown:
            return "unknown token";
        case TokenState::kExpired:
            return "token expired";
        case TokenState::kWrongUser:
            return "token issued to another user";
    }
    return "token invalid";
}

}  // namespace com::mivo::kmr::client
