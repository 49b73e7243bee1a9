#include "sim/sim_record_stamp.h"

#include <google/protobuf/descriptor.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "sim/sim_data_types.h"

namespace com::mivo::kmr::client {

using google::protobuf::FieldDescriptor;
using T = SimDataTypes;

namespace {

struct StampFields {
    const FieldDescriptor* envelope = nullptr;
    const FieldDescriptor* sequence = nullptr;
    const FieldDescriptor* time = nullptr;
};

struct Names {
    const char* sequence;
    const char* time;
};

Names NamesOf(int data_type) {
    switch (data_type) {
        case T::kZelOrder:
        case T::kMdOrder:
            return {"ApplSeqNum", "Memo"};
        case T::kZelTrade:
        case T::kMdTrade:
            return {"ApplSeqNum", "DealTime"};
        case T::kZelWarrant:
        case T::kMdWarrant:
            return {"OtcNumTrades", "ExchangeTime"};
        case T::kZelKLine:
        case T::kMdKLine:
            return {"NumTrades", "ExtraDetail"};
        case T::kZelIopv:
            return {nullptr, nullptr};
        default:
            return SimDataTypes::IsKnown(data_type)
                       ? Names{"HighPrecisionTimestamp4", "HighPrecisionTimestamp1"}
                       : Names{nullptr, nullptr};
    }
}

const std::map<int, StampFields>& Table() {
    static const std::map<int, StampFields> table = [] {
        std::map<int, StampFields> built;
        const auto* envelope = com::mivo::zel::model::MarketData::descriptor();
        for (int data_type : SimDataTypes::All()) {
            Names names = NamesOf(data_type);
            const FieldDescriptor* field = envelope->FindFieldByNumber(data_type);
            if (names.sequence == nullptr || field == nullptr || field->message_type() == nullptr) {
                continue;
            }
            StampFields fields;
            fields.envelope = field;
            fields.sequence = field->message_type()->FindFieldByName(names.sequence);
            fields.time = field->message_type()->FindFieldByName(names.time);
            if (fields.sequence != nullptr && fields.time != nullptr) {
                built[data_type] = fields;
            }
        }
        return built;
    }();
    return table;
}

void AppendVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

int64_t ReadNumber(const google::protobuf::Message& record, const FieldDescriptor* field) {
    const auto* r = record.GetReflection();
    switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_INT64:
            return r->GetInt64(record, field);
        case FieldDescriptor::CPPTYPE_INT32:
            return r->GetInt32(record, field);
        case FieldDescriptor::CPPTYPE_STRING:
            return std::strtoll(r->GetString(record, field).c_str(), nullptr, 10);
        default:
            return 0;
    }
}

}  // namespace

bool SimRecordStamp::IsSequenced(int data_type) {
    static const std::map<int, StampFields>& table = Table();
    return table.count(data_type) != 0;
}

SimRecordStamp::TimeSpot SimRecordStamp::Append(std::string& out, int data_type, int64_t sequence,
                                                int64_t send_unix_nanos) {
    // Called for every record pushed: no allocation beyond growing out, one table lookup.
    static const std::map<int, StampFields>& table = Table();
    auto it = table.find(data_type);
    if (it == table.end()) {
        return {};
    }
    TimeSpot spot;
    const StampFields& fields = it->second;
    char inner[64];
    size_t length = 0;
    auto put_varint = [&](uint64_t value) {
        while (value >= 0x80) {
            inner[length++] = static_cast<char>((value & 0x7F) | 0x80);
            value >>= 7;
        }
        inner[length++] = static_cast<char>(value);
    };
    put_varint(static_cast<uint64_t>(fields.sequence->number()) << 3);
    put_varint(static_cast<uint64_t>(sequence));
    if (fields.time->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
        char digits[24];
        int count = std::snprintf(digits, sizeof(digits), "%lld", static_cast<long long>(send_unix_nanos));
        put_varint((static_cast<uint64_t>(fields.time->number()) << 3) | 2);
        put_varint(static_cast<uint64_t>(count));
        std::memcpy(inner + length, digits, static_cast<size_t>(count));
        length += static_cast<size_t>(count);
        spot = {static_cast<size_t>(count), true};
    } else {
        put_varint(static_cast<uint64_t>(fields.time->number()) << 3);
        const size_t before = length;
        put_varint(static_cast<uint64_t>(send_unix_nanos));
        spot = {length - before, false};
    }
    AppendVarint(out, (static_cast<uint64_t>(fields.envelope->number()) << 3) | 2);
    AppendVarint(out, length);
    out.append(inner, length);
    return spot;
}

bool SimRecordStamp::Rewrite(char* at, TimeSpot spot, int64_t send_unix_nanos) {
    char encoded[24];
    size_t length = 0;
    if (spot.text) {
        const int count =
            std::snprintf(encoded, sizeof(encoded), "%lld", static_cast<long long>(send_unix_nanos));
        length = count > 0 ? static_cast<size_t>(count) : 0;
    } else {
        auto value = static_cast<uint64_t>(send_unix_nanos);
        while (value >= 0x80) {
            encoded[length++] = static_cast<char>((value & 0x7F) | 0x80);
            value >>= 7;
        }
        encoded[length++] = static_cast<char>(value);
    }
    if (spot.width == 0 || length != spot.width) {
        return false;
    }
    std::memcpy(at, encoded, length);
    return true;
}

int SimRecordStamp::DataTypeOf(const com::mivo::zel::model::MarketData& record) {
    const auto* r = record.GetReflection();
    for (int data_type : SimDataTypes::All()) {
        const FieldDescriptor* field = record.GetDescriptor()->FindFieldByNumber(data_type);
        if (field != nullptr && r->HasField(record, field)) {
            return data_type;
        }
    }
    return 0;
}

bool SimRecordStamp::Read(const com::mivo::zel::model::MarketData& record, int64_t* sequence,
                          int64_t* send_unix_nanos) {
    const auto& table = Table();
    auto it = table.find(DataTypeOf(record));
    if (it == table.end()) {
        return false;
    }
    const google::protobuf::Message& body = record.GetReflection()->GetMessage(record, it->second.envelope);
    *sequence = ReadNumber(body, it->second.sequence);
    *send_unix_nanos = ReadNumber(body, it->second.time);
    return *sequence > 0;
}

const char* SimRecordStamp::SequenceFieldName(int data_type) {
    return NamesOf(data_type).sequence;
}

const char* SimRecordStamp::TimeFieldName(int data_type) {
    return NamesOf(data_type).time;
}

}  // namespace com::mivo::kmr::client
