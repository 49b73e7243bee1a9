#pragma once

#include <cstdint>

namespace com::mivo::kmr::client {

// Every multi-byte number of a frame is little-endian whatever the host is,
// so numbers are assembled byte by byte instead of copied from memory.
class WireOrder {
public:
    static void WriteInt16(char* out, int16_t value) {
        const uint16_t v = static_cast<uint16_t>(value);
        out[0] = static_cast<char>(v & 0xFF);
        out[1] = static_cast<char>((v >> 8) & 0xFF);
    }

    static void WriteInt32(char* out, int32_t value) {
        const uint32_t v = static_cast<uint32_t>(value);
        for (int i = 0; i < 4; ++i) {
            out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    }

    static int16_t ReadInt16(const char* in) {
        const uint16_t v = static_cast<uint16_t>(static_cast<uint8_t>(in[0]) |
                                                 (static_cast<uint16_t>(static_cast<uint8_t>(in[1])) << 8));
        return static_cast<int16_t>(v);
    }

    static int32_t ReadInt32(const char* in) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<uint32_t>(static_cast<uint8_t>(in[i])) << (8 * i);
        }
        return static_cast<int32_t>(v);
    }
};

}  // namespace com::mivo::kmr::client
