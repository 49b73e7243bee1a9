#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace com::mivo::kmr::client {

enum class SimSecurityClass { kStock, kBond, kFund, kIndex, kOption, kFuture, kWarrant };

struct SimSecurity {
    int index = 0;
    std::string id;      // ZELSecurityID, the id subscriptions name, e.g. "100042.SH"
    std::string code;    // SecurityID, e.g. "100042"
    std::string symbol;  // e.g. "SIM STOCK 100042"
    SimSecurityClass security_class = SimSecurityClass::kStock;
    int channel = 0;
    double base_price = 0;
    std::vector<int> data_types;  // the record kinds this security produces, ascending
};

// One (security, data type) pair: the unit a node pushes.
struct SimStream {
    int security = 0;
    int data_type = 0;
};

// The synthetic market: the same seed, size and channel count always give the same securities, channels and
// streams. Immutable after construction, so node threads share it freely.
class SimUniverse {
public:
    SimUniverse(uint64_t seed, int securities, int channels);

    uint64_t Seed() const { return m_seed; }
    int Channels() const { return m_channels; }
    const std::vector<SimSecurity>& Securities() const { return m_securities; }
    const std::vector<SimStream>& Streams() const { return m_streams; }
    // Null when the id is not part of the universe.
    const SimSecurity* Find(const std::string& id) const;
    // The stream of a security and data type, or -1.
    int StreamOf(int security, int data_type) const;
    // Streams of one data type, in security order.
    const std::vector<int>& StreamsOfType(int data_type) const;

    // A well-mixed 64-bit hash of the inputs; the one source of randomness of the generator.
    static uint64_t Mix(uint64_t a, uint64_t b);

private:
    uint64_t m_seed;
    int m_channels;
    std::vector<SimSecurity> m_securities;
    std::vector<SimStream> m_streams;
    std::map<std::string, int> m_by_id;
    std::map<int, std::vector<int>> m_by_type;
    std::map<std::pair<int, int>, int> m_stream_index;
};

}  // namespace com::mivo::kmr::client
