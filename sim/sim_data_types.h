#pragma once

#include <vector>

namespace com::mivo::kmr::client {

// The simulated service's data type codes. Each code is the MarketData field number of the record kind it
// carries, and records carry it in ZELDataType, ZELRecordType and the envelope's ZELRecordType alike.
class SimDataTypes {
public:
    static constexpr int kZelStock = 3;
    static constexpr int kZelBond = 4;
    static constexpr int kZelFund = 5;
    static constexpr int kZelIndex = 6;
    static constexpr int kZelOption = 7;
    static constexpr int kZelOrder = 8;
    static constexpr int kZelTrade = 9;
    static constexpr int kZelIopv = 10;
    static constexpr int kZelFuture = 11;
    static constexpr int kZelOrderbook = 12;
    static constexpr int kZelWarrant = 13;
    static constexpr int kZelKLine = 14;
    static constexpr int kMdStock = 20;
    static constexpr int kMdBond = 21;
    static constexpr int kMdFund = 22;
    static constexpr int kMdIndex = 23;
    static constexpr int kMdOption = 24;
    static constexpr int kMdOrder = 25;
    static constexpr int kMdTrade = 26;
    static constexpr int kMdFuture = 27;
    static constexpr int kMdWarrant = 28;
    static constexpr int kMdKLine = 29;

    // Every code, ascending.
    static const std::vector<int>& All();
    static bool IsKnown(int data_type);
    // The record's message name ("ZELStock", "MDKLine", ...), or "" for unknown codes.
    static const char* Name(int data_type);
};

}  // namespace com::mivo::kmr::client
