#include "common/standard_lib_kits.h"

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>

#include "common/platform.h"

namespace com::mivo::kmr::client {

StandardLibKits* StandardLibKits::s_standard_kits = nullptr;
const char* StandardLibKits::key = "tq7_vorel_x2bn_k";

namespace {

// Creation and deletion may race with first use on another thread.
std::mutex s_instance_mutex;
std::atomic<StandardLibKits*> s_published{nullptr};

// The hex text lives in a 1024-character buffer whose last character is the
// terminator.
constexpr size_t kHexLimit = 1023;
constexpr size_t kAesBlock = 16;

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

StandardLibKits* StandardLibKits::GetInstance() {
    StandardLibKits* kits = s_published.load(std::memory_order_acquire);
    if (kits != nullptr) {
        return kits;
    }
    std::lock_guard<std::mutex> guard(s_instance_mutex);
    if (s_standard_kits == nullptr) {
        s_standard_kits = new StandardLibKits();
        s_published.store(s_standard_kits, std::memory_order_release);
    }
    return s_standard_kits;
}

void StandardLibKits::UnInstance() {
    std::lock_guard<std::mutex> guard(s_instance_mutex);
    s_published.store(nullptr, std::memory_order_release);
    delete s_standard_kits;
    s_standard_kits = nullptr;
}

std::string StandardLibKits::EncodeByAesEcbPkcs5padding(const std::string& text) {
    ustring cipher;
    if (!Encode(String2Ustring(key), String2Ustring(text), cipher) || cipher.size() * 2 > kHexLimit) {
        return std::string();
    }
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(cipher.size() * 2);
    for (unsigned char byte : cipher) {
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0x0F]);
    }
    return hex;
}

std::string StandardLibKits::DecodeByAesEcbPkcs5padding(const std::string& hex) {
    if (hex.size() % 2 != 0) {
        return std::string();
    }
    ustring bytes;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigit(hex[i]);
        int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::string();
        }
        bytes.push_back(static_cast<unsigned char>(high << 4 | low));
    }
    ustring plain;
    Decode(String2Ustring(key), bytes, plain);  // a bad last block leaves the blocks before it
    return Ustring2String(plain);
}

int64_t StandardLibKits::GetCurrentUnixTimestampNanos() {
    return platform::WallClock100ns() * 100;
}

int64_t StandardLibKits::GetCurrentUnixTimestampMicros() {
    return platform::WallClock100ns() / 10;
}

int64_t StandardLibKits::GetCurrentUnixTimestampSeconds() {
    return platform::WallClock100ns() / 10000000;
}

void StandardLibKits::Convert4BytesNetwork2Local(void* data) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::reverse(bytes, bytes + 4);
}

void StandardLibKits::Convert4Bytes2BigEndian(void* data) {
    Convert4BytesNetwork2Local(data);
}

void StandardLibKits::Convert2BytesNetwork2Local(void* data) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::swap(bytes[0], bytes[1]);
}

void StandardLibKits::Convert2Bytes2BigEndian(void* data) {
    Convert2BytesNetwork2Local(data);
}

StandardLibKits::ustring StandardLibKits::String2Ustring(const std::string& text) {
    return ustring(text.begin(), text.end());
}

std::string StandardLibKits::Ustring2String(const ustring& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

bool StandardLibKits::Encode(const ustring& key_bytes, const ustring& data, ustring& out) {
    out.clear();
    CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!ctx || key_bytes.size() != kAesBlock ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key_bytes.data(), nullptr) != 1) {
        return false;
    }
    out.resize(data.size() + kAesBlock);
    int written = 0;
    int final_written = 0;
    if (EVP_EncryptUpdate(ctx.get(), out.data(), &written, data.data(), static_cast<int>(data.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), out.data() + written, &final_written) != 1) {
        out.clear();
        return false;
    }
    out.resize(static_cast<size_t>(written) + static_cast<size_t>(final_written));
    return true;
}

bool StandardLibKits::Decode(const ustring& key_bytes, const ustring& data, ustring& out) {
    out.clear();
    CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!ctx || key_bytes.size() != kAesBlock ||
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key_bytes.data(), nullptr) != 1) {
        return false;
    }
    out.resize(data.size() + kAesBlock);
    int written = 0;
    if (EVP_DecryptUpdate(ctx.get(), out.data(), &written, data.data(), static_cast<int>(data.size())) != 1) {
        out.clear();
        return false;
    }
    int final_written = 0;
    bool ok = EVP_DecryptFinal_ex(ctx.get(), out.data() + written, &final_written) == 1;
    out.resize(static_cast<size_t>(written) + static_cast<size_t>(ok ? final_written : 0));
    return ok;
}

}  // namespace com::mivo::kmr::client
