#include "sim/sim_data_types.h"

#include <algorithm>

namespace com::mivo::kmr::client {

const std::vector<int>& SimDataTypes::All() {
    static const std::vector<int> all = {
        kZelStock,  kZelBond,      kZelFund,    kZelIndex, kZelOption, kZelOrder, kZelTrade, kZelIopv,
        kZelFuture, kZelOrderbook, kZelWarrant, kZelKLine, kMdStock,   kMdBond,   kMdFund,   kMdIndex,
        kMdOption,  kMdOrder,      kMdTrade,    kMdFuture, kMdWarrant, kMdKLine};
    return all;
}

bool SimDataTypes::IsKnown(int data_type) {
    const auto& all = All();
    return std::binary_search(all.begin(), all.end(), data_type);
}

const char* SimDataTypes::Name(int data_type) {
    switch (data_type) {
        case kZelStock:
            return "ZELStock";
        case kZelBond:
            return "ZELBond";
        case kZelFund:
            return "ZELFund";
        case kZelIndex:
            return "ZELIndex";
        case kZelOption:
            return "ZELOption";
        case kZelOrder:
            return "ZELOrder";
        case kZelTrade:
            return "ZELTrade";
        case kZelIopv:
            return "ZELIopv";
        case kZelFuture:
            return "ZELFuture";
        case kZelOrderbook:
            return "ZELOrderbook";
        case kZelWarrant:
            return "ZELWarrant";
        case kZelKLine:
            return "ZELKLine";
        case kMdStock:
            return "MDStock";
        case kMdBond:
            return "MDBond";
        case kMdFund:
            return "MDFund";
        case kMdIndex:
            return "MDIndex";
        case kMdOption:
            return "MDOption";
        case kMdOrder:
            return "MDOrder";
        case kMdTrade:
            return "MDTrade";
        case kMdFuture:
            return "MDFuture";
        case kMdWarrant:
            return "MDWarrant";
        case kMdKLine:
            return "MDKLine";
        default:
            return "";
    }
}

}  // namespace com::mivo::kmr::client
