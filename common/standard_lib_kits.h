#pragma once

#include <cstdint>
#include <string>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Password cipher, wall-clock timestamps and byte-order helpers.
class ZEL_API StandardLibKits {
public:
    static StandardLibKits* GetInstance();
    // Deletes the instance; the next GetInstance creates a new one.
    static void UnInstance();

    // AES-128-ECB with PKCS#7 padding, as upper-case hexadecimal text. A
    // ciphertext whose hex form would not fit 1023 characters (plaintext of
    // 496 bytes or more) gives the empty text rather than a cut one.
    std::string EncodeByAesEcbPkcs5padding(const std::string& text);
    // The longest text the cipher above gives hex for.
    static constexpr size_t MAX_CIPHER_TEXT_LENGTH = 495;
    // Inverse of the above. Odd length or any character outside 0-9 and
    // upper-case A-F gives the empty text.
    std::string DecodeByAesEcbPkcs5padding(const std::string& hex);

    // All three from one wall-clock reading in 100 ns units.
    int64_t GetCurrentUnixTimestampNanos();
    int64_t GetCurrentUnixTimestampMicros();
    int64_t GetCurrentUnixTimestampSeconds();

    // Reverse the bytes in place, whatever the host's byte order.
    void Convert4BytesNetwork2Local(void* data);
    void Convert4Bytes2BigEndian(void* data);
    void Convert2BytesNetwork2Local(void* data);
    void Convert2Bytes2BigEndian(void* data);

    static StandardLibKits* s_standard_kits;
    // The 16 ASCII characters of the AES-128 key.
    static const char* key;

protected:
    StandardLibKits() = default;
    ~StandardLibKits() = default;

private:
    using ustring = std::basic_string<unsigned char>;

    static ustring String2Ustring(const std::string& text);
    static std::string Ustring2String(const ustring& bytes);
    // Return false when OpenSSL fails; out then holds what was produced.
    static bool Encode(const ustring& key_bytes, const ustring& data, ustring& out);
    static bool Decode(const ustring& key_bytes, const ustring& data, ustring& out);
};

}  // namespace com::mivo::kmr::client
