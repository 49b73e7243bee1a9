#pragma once

#include <cstdint>
#include <string>

#include "MarketData.pb.h"

namespace com::mivo::kmr::client {

// Where the service writes the per-channel sequence number and the send time of a record:
//
//   record kinds                                         sequence                   send time (ns since
//   epoch) Stock, Bond, Fund, Index, Option, Future (ZEL, MD),  HighPrecisionTimestamp4
//   HighPrecisionTimestamp1 ZELOrderbook Order, Trade (ZEL, MD)                               ApplSeqNum Memo
//   / DealTime (decimal text) Warrant (ZEL, MD)                                    OtcNumTrades ExchangeTime
//   (decimal text) KLine (ZEL, MD)                                      NumTrades ExtraDetail (decimal text)
//   ZELIopv                                              none (not sequenced)       none
//
// Sequence numbers count the sequenced records of one channel on one connection: 1, 2, 3, ... with no gap.
// The stamp is appended to a record's encoding as a second occurrence of its record field, which protobuf
// parsers merge into the record, so restamping a rendered record costs a few bytes instead of a new encoding.
class SimRecordStamp {
public:
    // False for record kinds that carry no sequence (ZELIopv) and for unknown kinds.
    static bool IsSequenced(int data_type);
    // Where Append put the send time: the last `width` bytes it appended, decimal digits when `text`.
    struct TimeSpot {
        size_t width = 0;
        bool text = false;
    };
    // Appends the stamp bytes for a record of the data type; nothing (width 0) for kinds that are not
    // sequenced.
    static TimeSpot Append(std::string& out, int data_type, int64_t sequence, int64_t send_unix_nanos);
    // Writes another send time over the one Append put at `at`, so that a frame can be stamped when it is
    // written rather than when its records were gathered. False, bytes untouched, when the new time does not
    // take the same width (it always does between the years 2002 and 2262).
    static bool Rewrite(char* at, TimeSpot spot, int64_t send_unix_nanos);
    // Reads the stamp back from a decoded record; false when it carries none.
    static bool Read(const com::mivo::zel::model::MarketData& record, int64_t* sequence,
                     int64_t* send_unix_nanos);
    // The data type of a decoded record (the number of the record field that is set), or 0.
    static int DataTypeOf(const com::mivo::zel::model::MarketData& record);
    static const char* SequenceFieldName(int data_type);
    static const char* TimeFieldName(int data_type);
};

}  // namespace com::mivo::kmr::client
