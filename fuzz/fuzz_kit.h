#pragma once
// What the fuzz targets share: quiet logs and a byte stream cut into pieces
// whose sizes the input chooses.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <google/protobuf/stubs/logging.h>

#include "common/client_config.h"

namespace zel_fuzz {

// Every bad input logs an error line: keep them off the disk and the console
// (libFuzzer reports on stderr). protobuf's complaints about bad UTF-8 are
// expected input here too.
inline void QuietLogs() {
    com::mivo::kmr::client::ClientConfig::CloseFileLog();
    com::mivo::kmr::client::ClientConfig::CloseCoutLog();
    google::protobuf::SetLogHandler(nullptr);
}

// A text as long as the given one that differs from it in every byte (plain
// ASCII, so that it renders wherever the original does).
inline std::string OtherOfSameLength(const std::string& text) {
    std::string other(text.size(), 'x');
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == 'x') {
            other[i] = 'y';
        }
    }
    return other;
}

// The input as [k][k piece sizes][stream]: k = first byte % 8; the stream is
// handed out in pieces of 1..256 bytes taken from the sizes in turn (the
// whole stream at once when k is 0).
class Pieces {
public:
    Pieces(const uint8_t* data, size_t size) {
        if (size == 0) {
            return;
        }
        m_count = data[0] % 8;
        if (size < 1 + m_count) {
            m_count = 0;
            return;
        }
        m_sizes = data + 1;
        m_stream = data + 1 + m_count;
        m_left = size - 1 - m_count;
        m_whole = m_stream;
        m_whole_size = m_left;
    }

    // The next piece; false when the stream is used up.
    bool Next(const char** piece, size_t* length) {
        if (m_left == 0) {
            return false;
        }
        size_t n = m_count == 0 ? m_left : 1 + static_cast<size_t>(m_sizes[m_index++ % m_count]);
        n = n < m_left ? n : m_left;
        *piece = reinterpret_cast<const char*>(m_stream);
        *length = n;
        m_stream += n;
        m_left -= n;
        return true;
    }

    size_t Index() const { return m_index; }
    const char* Whole() const { return reinterpret_cast<const char*>(m_whole); }
    size_t WholeSize() const { return m_whole_size; }

private:
    const uint8_t* m_sizes = nullptr;
    const uint8_t* m_stream = nullptr;
    const uint8_t* m_whole = nullptr;
    size_t m_count = 0;
    size_t m_left = 0;
    size_t m_index = 0;
    size_t m_whole_size = 0;
};

// Stops the run with a message when a property does not hold.
#define ZEL_FUZZ_CHECK(condition)                                                                 \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

}  // namespace zel_fuzz
