#pragma once

#include <cstdint>
#include <string>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// The fixed head of every frame: 12 bytes, little-endian on the wire.
//   0  m_version        int8
//   1  m_protocol       int8
//   2  m_flags          int16
//   4  m_metaLength     int32   bytes of the MetaData record after the header
//   8  m_payloadLength  int32   bytes of the payload after the meta record
struct ZEL_API MessageHeader {
    static constexpr int SIZE = 12;

    int8_t m_version = 0;
    int8_t m_protocol = 0;
    int16_t m_flags = 0;
    int32_t m_metaLength = 0;
    int32_t m_payloadLength = 0;

    // Writes the 12 wire bytes into out (which must hold SIZE bytes).
    void WriteTo(char* out) const;

    // Reads the 12 wire bytes at in (which must hold SIZE bytes).
    void ReadFrom(const char* in);

    std::string ToString() const;
};

}  // namespace com::mivo::kmr::client
