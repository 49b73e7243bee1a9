#pragma once

// A frame and protobuf reader written separately from the codec, so the
// tests check the bytes against the wire format itself rather than against
// the codec's own understanding of it.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/base_log.h"
#include "common/client_config.h"
#include "support/log_capture.h"

namespace zel_test {

struct WireField {
    uint32_t number = 0;
    int wire_type = 0;
    uint64_t varint = 0;  // wire type 0
    std::string bytes;    // wire type 2
};

inline bool ReadVarint(const std::string& data, size_t* pos, uint64_t* value) {
    *value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (*pos >= data.size()) {
            return false;
        }
        const uint8_t byte = static_cast<uint8_t>(data[(*pos)++]);
        *value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

// Only varint and length-delimited fields occur in the system messages.
inline bool ReadFields(const std::string& data, std::vector<WireField>* out) {
    out->clear();
    size_t pos = 0;
    while (pos < data.size()) {
        uint64_t key = 0;
        if (!ReadVarint(data, &pos, &key)) {
            return false;
        }
        WireField field;
        field.number = static_cast<uint32_t>(key >> 3);
        field.wire_type = static_cast<int>(key & 7);
        if (field.wire_type == 0) {
            if (!ReadVarint(data, &pos, &field.varint)) {
                return false;
            }
        } else if (field.wire_type == 2) {
            uint64_t length = 0;
            if (!ReadVarint(data, &pos, &length) || length > data.size() - pos) {
                return false;
            }
            field.bytes = data.substr(pos, static_cast<size_t>(length));
            pos += static_cast<size_t>(length);
        } else {
            return false;
        }
        out->push_back(field);
    }
    return true;
}

inline const WireField* FindField(const std::vector<WireField>& fields, uint32_t number) {
    for (const WireField& f : fields) {
        if (f.number == number) {
            return &f;
        }
    }
    return nullptr;
}

inline std::string Varint(uint64_t value) {
    std::string out;
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        if (value != 0) {
            byte |= 0x80;
        }
        out.push_back(static_cast<char>(byte));
    } while (value != 0);
    return out;
}

inline int32_t LittleEndian32(const std::string& s, size_t at) {
    const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])); };
    return static_cast<int32_t>(b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24));
}

struct ParsedFrame {
    int version = 0;
    int protocol = 0;
    int flags = 0;
    int32_t meta_length = 0;
    int32_t payload_length = 0;
    std::string meta;
    std::string payload;
    int32_t prefix = 0;
    std::string body;  // payload after the prefix
};

// Takes a request frame apart by the byte layout: header, meta, prefix, body.
inline bool SplitFrame(const char* buf, int length, ParsedFrame* out) {
    if (buf == nullptr || length < 12) {
        return false;
    }
    const std::string frame(buf, static_cast<size_t>(length));
    out->version = static_cast<int8_t>(frame[0]);
    out->protocol = static_cast<int8_t>(frame[1]);
    out->flags = static_cast<int16_t>(static_cast<uint8_t>(frame[2]) | (static_cast<uint8_t>(frame[3]) << 8));
    out->meta_length = LittleEndian32(frame, 4);
    out->payload_length = LittleEndian32(frame, 8);
    if (out->meta_length < 0 || out->payload_length < 4 ||
        12 + static_cast<int64_t>(out->meta_length) + out->payload_length != length) {
        return false;
    }
    out->meta = frame.substr(12, out->meta_length);
    out->payload = frame.substr(12 + out->meta_length);
    out->prefix = LittleEndian32(out->payload, 0);
    out->body = out->payload.substr(4);
    return true;
}

// Collects every log message while registered.
using CapturingSink = com::mivo::kmr::client::LogCapture;

// Keeps the test runs from leaving pid_N.log files behind.
inline void QuietLogFile() {
    com::mivo::kmr::client::ClientConfig::CloseFileLog();
}

}  // namespace zel_test
