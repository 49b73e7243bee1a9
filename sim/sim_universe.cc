#include "sim/sim_universe.h"

#include <algorithm>
#include <cstdio>

#include "sim/sim_data_types.h"

namespace com::mivo::kmr::client {

namespace {

struct ClassTraits {
    SimSecurityClass security_class;
    int share_percent;
    const char* suffix;
    const char* label;
    double price_low;
    double price_high;
    std::vector<int> data_types;
};

const std::vector<ClassTraits>& Classes() {
    using T = SimDataTypes;
    static const std::vector<ClassTraits> classes = {
        {SimSecurityClass::kStock,
         50,
         ".SH",
         "STOCK",
         3,
         300,
         {T::kZelStock, T::kZelOrder, T::kZelTrade, T::kZelOrderbook, T::kZelKLine, T::kMdStock, T::kMdOrder,
          T::kMdTrade, T::kMdKLine}},
        {SimSecurityClass::kBond,
         15,
         ".IB",
         "BOND",
         90,
         110,
         {T::kZelBond, T::kZelTrade, T::kMdBond, T::kMdTrade}},
        {SimSecurityClass::kFund,
         12,
         ".OF",
         "FUND",
         0.5,
         5,
         {T::kZelFund, T::kZelIopv, T::kZelKLine, T::kMdFund}},
        {SimSecurityClass::kIndex, 5, ".CSI", "INDEX", 800, 6000, {T::kZelIndex, T::kMdIndex, T::kMdKLine}},
        {SimSecurityClass::kOption, 8, ".OPT", "OPTION", 0.05, 2, {T::kZelOption, T::kMdOption}},
        {SimSecurityClass::kFuture, 6, ".CF", "FUTURE", 2000, 9000, {T::kZelFuture, T::kMdFuture}},
        {SimSecurityClass::kWarrant, 4, ".HK", "WARRANT", 0.01, 1, {T::kZelWarrant, T::kMdWarrant}},
    };
    return classes;
}

}  // namespace

uint64_t SimUniverse::Mix(uint64_t a, uint64_t b) {
    // splitmix64 over the combined inputs
    uint64_t z = a * 0x9E3779B97F4A7C15ULL + b + 0x632BE59BD9B4E5FFULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

SimUniverse::SimUniverse(uint64_t seed, int securities, int channels)
    : m_seed(seed), m_channels(std::max(1, channels)) {
    const auto& classes = Classes();
    for (int i = 0; i < std::max(0, securities); ++i) {
        // The first securities walk through every class so that even a tiny universe holds every record kind.
        size_t class_index = 0;
        if (i < static_cast<int>(classes.size())) {
            class_index = static_cast<size_t>(i);
        } else {
            int pick = static_cast<int>(Mix(seed, static_cast<uint64_t>(i) * 2 + 1) % 100);
            for (; class_index + 1 < classes.size(); ++class_index) {
                pick -= classes[class_index].share_percent;
                if (pick < 0) {
                    break;
                }
            }
        }
        const ClassTraits& traits = classes[class_index];
        SimSecurity security;
        security.index = i;
        char code[16];
        std::snprintf(code, sizeof(code), "%06d", 100000 + i);
        security.code = code;
        security.id = security.code + traits.suffix;
        security.symbol = std::string("SIM ") + traits.label + " " + security.code;
        security.security_class = traits.security_class;
        security.channel = static_cast<int>(Mix(seed, static_cast<uint64_t>(i) * 2 + 2) % m_channels);
        double unit =
            static_cast<double>(Mix(seed ^ 0x5bd1e995, static_cast<uint64_t>(i)) >> 11) / 9007199254740992.0;
        security.base_price = traits.price_low + unit * (traits.price_high - traits.price_low);
        security.data_types = traits.data_types;
        std::sort(security.data_types.begin(), security.data_types.end());
        m_by_id[security.id] = i;
        for (int data_type : security.data_types) {
            int stream = static_cast<int>(m_streams.size());
            m_streams.push_back(SimStream{i, data_type});
            m_by_type[data_type].push_back(stream);
            m_stream_index[{i, data_type}] = stream;
        }
        m_securities.push_back(std::move(security));
    }
}

const SimSecurity* SimUniverse::Find(const std::string& id) const {
    auto it = m_by_id.find(id);
    return it == m_by_id.end() ? nullptr : &m_securities[static_cast<size_t>(it->second)];
}

int SimUniverse::StreamOf(int security, int data_type) const {
    auto it = m_stream_index.find({security, data_type});
    return it == m_stream_index.end() ? -1 : it->second;
}

const std::vector<int>& SimUniverse::StreamsOfType(int data_type) const {
    static const std::vector<int> none;
    auto it = m_by_type.find(data_type);
    return it == m_by_type.end() ? none : it->second;
}

}  // namespace com::mivo::kmr::client
