#include "python/json_record_writer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "MarketData.pb.h"

namespace com::mivo::kmr::client {

namespace {

using com::mivo::zel::model::MarketData;
using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

const char* const kFailToConvert = "Fail to convert to json";

// One member of a message kind: its field and its key text ("name": ).
struct Member {
    const FieldDescriptor* field;
    std::string key;
};

// The members of a message kind in ascending field number. Kinds with
// extension ranges are walked through ListFields instead, which also finds
// the extensions set on the message.
struct Plan {
    std::vector<Member> members;
    bool has_extensions = false;
};

std::string KeyOf(const FieldDescriptor* field) {
    return "\"" + (field->is_extension() ? field->full_name() : field->name()) + "\": ";
}

Plan BuildPlan(const Descriptor* descriptor) {
    Plan plan;
    plan.has_extensions = descriptor->extension_range_count() > 0;
    for (int i = 0; i < descriptor->field_count(); ++i) {
        plan.members.push_back({descriptor->field(i), KeyOf(descriptor->field(i))});
    }
    std::sort(plan.members.begin(), plan.members.end(),
              [](const Member& a, const Member& b) { return a.field->number() < b.field->number(); });
    return plan;
}

// Plans are built once per kind and kept for the process in an open
// addressing table that the callback threads read without a lock (a slot,
// once filled, never changes); the schema has a few dozen kinds. Should the
// table ever fill, a kind's plan is built for each message instead.
class PlanTable {
public:
    const Plan* Find(const Descriptor* descriptor) {
        const size_t start = Hash(descriptor);
        for (size_t probe = 0; probe < kSlots; ++probe) {
            const Entry& entry = m_entries[(start + probe) % kSlots];
            const Descriptor* key = entry.key.load(std::memory_order_acquire);
            if (key == descriptor) {
                return entry.plan;
            }
            if (key == nullptr) {
                return Add(descriptor);
            }
        }
        return nullptr;
    }

private:
    static constexpr size_t kSlots = 256;
    struct Entry {
        std::atomic<const Descriptor*> key{nullptr};
        const Plan* plan = nullptr;  // written before key is published
    };

    static size_t Hash(const Descriptor* descriptor) {
        return (reinterpret_cast<uintptr_t>(descriptor) >> 4) % kSlots;
    }

    const Plan* Add(const Descriptor* descriptor) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const size_t start = Hash(descriptor);
        for (size_t probe = 0; probe < kSlots; ++probe) {
            Entry& entry = m_entries[(start + probe) % kSlots];
            const Descriptor* key = entry.key.load(std::memory_order_acquire);
            if (key == descriptor) {
                return entry.plan;
            }
            if (key == nullptr) {
                m_plans.push_back(std::make_unique<Plan>(BuildPlan(descriptor)));
                entry.plan = m_plans.back().get();
                entry.key.store(descriptor, std::memory_order_release);
                return entry.plan;
            }
        }
        return nullptr;
    }

    Entry m_entries[kSlots];
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Plan>> m_plans;
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const unsigned char* text, size_t length) {
    size_t i = 0;
    while (i < length) {
        const unsigned char lead = text[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t count = 0;
        uint32_t point = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            count = 2;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            count = 3;
            point = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            count = 4;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (count > length - i) {
            return false;
        }
        for (size_t k = 1; k < count; ++k) {
            const unsigned char next = text[i + k];
            if (next < 0x80 || next > 0xBF) {
                return false;
            }
            point = (point << 6) | (next & 0x3F);
        }
        if (point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF) || (count == 3 && point < 0x800) ||
            (count == 4 && point < 0x10000)) {
            return false;
        }
        i += count;
    }
    return true;
}

void AppendText(const FieldDescriptor* field, const std::string& value, std::string* out) {
    // The text ends at its first NUL, as a C string would.
    const char* data = value.data();
    const void* nul = std::memchr(data, '\0', value.size());
    const size_t length =
        nul == nullptr ? value.size() : static_cast<size_t>(static_cast<const char*>(nul) - data);
    if (!IsUtf8(reinterpret_cast<const unsigned char*>(data), length)) {
        throw j2pb_error(field, kFailToConvert);
    }
    static const char kHex[] = "0123456789ABCDEF";
    out->push_back('"');
    size_t run = 0;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c >= 0x20 && c != '"' && c != '\\') {
            continue;
        }
        out->append(data + run, i - run);
        run = i + 1;
        switch (c) {
            case '"':
                out->append("\\\"");
                break;
            case '\\':
                out->append("\\\\");
                break;
            case '\b':
                out->append("\\b");
                break;
            case '\f':
                out->append("\\f");
                break;
            case '\n':
                out->append("\\n");
                break;
            case '\r':
                out->append("\\r");
                break;
            case '\t':
                out->append("\\t");
                break;
            default: {
                const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0x0F]};
                out->append(escape, sizeof(escape));
                break;
            }
        }
    }
    out->append(data + run, length - run);
    out->push_back('"');
}

void AppendString(const FieldDescriptor* field, const std::string& value, std::string* out) {
    if (field->type() == FieldDescriptor::TYPE_BYTES) {
        out->push_back('"');
        out->append(JsonRecordWriter::EncodeBase64(value));
        out->push_back('"');
    } else {
        AppendText(field, value, out);
    }
}

template <typename Integer>
void AppendInteger(Integer value, std::string* out) {
    char buffer[24];
    const char* end = std::to_chars(buffer, buffer + sizeof(buffer), value).ptr;
    out->append(buffer, static_cast<size_t>(end - buffer));
}

// "%.17g" of a finite real in [1e-11, 1e17), exactly and without the C
// library: the 17 significant digits are m * 5^s shifted by the binary
// exponent, rounded half to even on the exact remainder, as printf rounds.
// Writes the text with jansson's touches (".0" for whole numbers, no "+" or
// leading zeros in the exponent) and returns false for other values.
// 5^0 .. 5^27, the largest power below 2^64.
constexpr std::array<uint64_t, 28> PowersOfFive() {
    std::array<uint64_t, 28> powers{};
    uint64_t power = 1;
    for (uint64_t& entry : powers) {
        entry = power;
        power *= 5;
    }
    return powers;
}
constexpr std::array<uint64_t, 28> kPowersOfFive = PowersOfFive();

bool AppendSeventeenDigits(double value, std::string* out) {
    static constexpr uint64_t kLow = 10000000000000000ULL;    // 10^16
    static constexpr uint64_t kHigh = 100000000000000000ULL;  // 10^17
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased == 0 || biased == 0x7FF) {
        return false;  // zero, subnormal, NaN or infinite
    }
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-11 && magnitude < 1e17)) {
        return false;
    }
    const uint64_t mantissa = (bits & ((1ULL << 52) - 1)) | (1ULL << 52);
    const int exponent = biased - 1075;  // value = mantissa * 2^exponent
    // The decimal exponent, from the binary one (it may be one too low), then
    // checked on the digits.
    int decimal = static_cast<int>(std::floor((exponent + 52) * 0.30102999566398120));
    uint64_t digits = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int scale = 16 - decimal;  // 10^scale brings 17 digits before the point
        if (scale < 0 || scale > 27) {
            return false;
        }
        const unsigned __int128 product = static_cast<unsigned __int128>(mantissa) * kPowersOfFive[scale];
        const int shift = exponent + scale;
        if (shift >= 0) {
            if (shift > 10) {
                return false;
            }
            digits = static_cast<uint64_t>(product << shift);
        } else if (-shift >= 120) {
            return false;
        } else {
            const int right = -shift;
            const unsigned __int128 one = 1;
            const unsigned __int128 rest = product & ((one << right) - 1);
            const unsigned __int128 half = one << (right - 1);
            digits = static_cast<uint64_t>(product >> right);
            if (rest > half || (rest == half && (digits & 1) != 0)) {
                ++digits;
            }
        }
        // An 18th digit (an estimate one too low, or rounding that carried):
        // the next exponent up holds the same value in 17 digits.
        if (digits >= kHigh) {
            ++decimal;
            continue;
        }
        if (digits < kLow) {
            --decimal;
            continue;
        }
        break;
    }
    if (digits < kLow || digits >= kHigh) {
        return false;
    }
    char text[17];
    for (int i = 16; i >= 0; --i) {
        text[i] = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
    int used = 17;
    while (used > 1 && text[used - 1] == '0') {
        --used;
    }
    if (value < 0) {
        out->push_back('-');
    }
    if (decimal < -4) {
        out->push_back(text[0]);
        if (used > 1) {
            out->push_back('.');
            out->append(text + 1, static_cast<size_t>(used - 1));
        }
        out->append("e-");
        AppendInteger(-decimal, out);
    } else if (decimal < 0) {
        out->append("0.");
        out->append(static_cast<size_t>(-decimal - 1), '0');
        out->append(text, static_cast<size_t>(used));
    } else {
        const int whole = decimal + 1;
        if (used <= whole) {
            out->append(text, static_cast<size_t>(whole));
            out->append(".0");
        } else {
            out->append(text, static_cast<size_t>(whole));
            out->push_back('.');
            out->append(text + whole, static_cast<size_t>(used - whole));
        }
    }
    return true;
}

void AppendMessage(const Message& message, std::string* out);

void AppendValue(const Message& message, const Reflection* reflection, const FieldDescriptor* field,
                 int index, std::string* out) {
    const bool repeated = field->is_repeated();
    switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_INT32:
            AppendInteger(repeated ? reflection->GetRepeatedInt32(message, field, index)
                                   : reflection->GetInt32(message, field),
                          out);
            break;
        case FieldDescriptor::CPPTYPE_INT64:
            AppendInteger(repeated ? reflection->GetRepeatedInt64(message, field, index)
                                   : reflection->GetInt64(message, field),
                          out);
            break;
        case FieldDescriptor::CPPTYPE_UINT32:
            AppendInteger(repeated ? reflection->GetRepeatedUInt32(message, field, index)
                                   : reflection->GetUInt32(message, field),
                          out);
            break;
        case FieldDescriptor::CPPTYPE_UINT64:
            AppendInteger(static_cast<int64_t>(repeated ? reflection->GetRepeatedUInt64(message, field, index)
                                                        : reflection->GetUInt64(message, field)),
                          out);
            break;
        case FieldDescriptor::CPPTYPE_DOUBLE:
            JsonRecordWriter::AppendReal(repeated ? reflection->GetRepeatedDouble(message, field, index)
                                                  : reflection->GetDouble(message, field),
                                         out);
            break;
        case FieldDescriptor::CPPTYPE_FLOAT:
            JsonRecordWriter::AppendReal(
                static_cast<double>(repeated ? reflection->GetRepeatedFloat(message, field, index)
                                             : reflection->GetFloat(message, field)),
                out);
            break;
        case FieldDescriptor::CPPTYPE_BOOL:
            out->append((repeated ? reflection->GetRepeatedBool(message, field, index)
                                  : reflection->GetBool(message, field))
                            ? "true"
                            : "false");
            break;
        case FieldDescriptor::CPPTYPE_ENUM:
            AppendInteger(repeated ? reflection->GetRepeatedEnumValue(message, field, index)
                                   : reflection->GetEnumValue(message, field),
                          out);
            break;
        case FieldDescriptor::CPPTYPE_STRING: {
            std::string scratch;
            const std::string& value =
                repeated ? reflection->GetRepeatedStringReference(message, field, index, &scratch)
                         : reflection->GetStringReference(message, field, &scratch);
            AppendString(field, value, out);
            break;
        }
        case FieldDescriptor::CPPTYPE_MESSAGE:
            AppendMessage(repeated ? reflection->GetRepeatedMessage(message, field, index)
                                   : reflection->GetMessage(message, field),
                          out);
            break;
    }
}

// A scalar without presence holds a value when it is not zero or empty (a
// real -0.0 counts as zero): one read both tests and writes it.
bool AppendImplicitMember(const Message& message, const Reflection* reflection, const FieldDescriptor* field,
                          const std::string& key, bool first, std::string* out) {
    const auto begin = [&] {
        if (!first) {
            out->append(", ", 2);
        }
        out->append(key);
    };
    switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_INT32: {
            const int32_t value = reflection->GetInt32(message, field);
            if (value == 0) {
                return false;
            }
            begin();
            AppendInteger(value, out);
            return true;
        }
        case FieldDescriptor::CPPTYPE_INT64: {
            const int64_t value = reflection->GetInt64(message, field);
            if (value == 0) {
                return false;
            }
            begin();
            AppendInteger(value, out);
            return true;
        }
        case FieldDescriptor::CPPTYPE_DOUBLE: {
            const double value = reflection->GetDouble(message, field);
            if (value == 0.0) {
                return false;
            }
            begin();
            JsonRecordWriter::AppendReal(value, out);
            return true;
        }
        case FieldDescriptor::CPPTYPE_STRING: {
            std::string scratch;
            const std::string& value = reflection->GetStringReference(message, field, &scratch);
            if (value.empty()) {
                return false;
            }
            begin();
            AppendString(field, value, out);
            return true;
        }
        default:  // kinds the records do not use: the general path
            if (!reflection->HasField(message, field) || JsonRecordWriter::IsZeroReal(message, field)) {
                return false;
            }
            begin();
            AppendValue(message, reflection, field, 0, out);
            return true;
    }
}

// Appends one member when its field holds a value; returns whether it did.
bool AppendMember(const Message& message, const Reflection* reflection, const FieldDescriptor* field,
                  const std::string& key, bool first, std::string* out) {
    if (field->is_repeated()) {
        const int count = reflection->FieldSize(message, field);
        if (count == 0) {
            return false;
        }
        if (!first) {
            out->append(", ", 2);
        }
        out->append(key);
        out->push_back('[');
        for (int i = 0; i < count; ++i) {
            if (i > 0) {
                out->append(", ");
            }
            AppendValue(message, reflection, field, i, out);
        }
        out->push_back(']');
        return true;
    }
    if (!field->has_presence()) {
        return AppendImplicitMember(message, reflection, field, key, first, out);
    }
    if (!reflection->HasField(message, field)) {
        return false;
    }
    if (!first) {
        out->append(", ", 2);
    }
    out->append(key);
    AppendValue(message, reflection, field, 0, out);
    return true;
}

// The envelope's record members through the generated class: one inline
// presence test each instead of a reflection call, which for short records
// cost as much as writing the record. By field index; null for a member
// the table does not know, which then takes the general path.
using RecordOf = const Message* (*)(const MarketData&);
#define ZEL_RECORD_KIND(Name, accessor)                                                              \
    {                                                                                                \
#Name, [](const MarketData& data)                                                            \
                    -> const Message* { return data.has_##accessor() ? &data.accessor() : nullptr; } \
    }
const std::vector<RecordOf>& EnvelopeRecords() {
    static const std::vector<RecordOf> s_records = [] {
        const std::pair<const char*, RecordOf> kinds[] = {
            ZEL_RECORD_KIND(ZELStock, zelstock),     ZEL_RECORD_KIND(ZELBond, zelbond),
            ZEL_RECORD_KIND(ZELFund, zelfund),       ZEL_RECORD_KIND(ZELIndex, zelindex),
            ZEL_RECORD_KIND(ZELOption, zeloption),   ZEL_RECORD_KIND(ZELOrder, zelorder),
            ZEL_RECORD_KIND(ZELTrade, zeltrade),     ZEL_RECORD_KIND(ZELIopv, zeliopv),
            ZEL_RECORD_KIND(ZELFuture, zelfuture),   ZEL_RECORD_KIND(ZELOrderbook, zelorderbook),
            ZEL_RECORD_KIND(ZELWarrant, zelwarrant), ZEL_RECORD_KIND(ZELKLine, zelkline),
            ZEL_RECORD_KIND(MDStock, mdstock),       ZEL_RECORD_KIND(MDBond, mdbond),
            ZEL_RECORD_KIND(MDFund, mdfund),         ZEL_RECORD_KIND(MDIndex, mdindex),
            ZEL_RECORD_KIND(MDOption, mdoption),     ZEL_RECORD_KIND(MDOrder, mdorder),
            ZEL_RECORD_KIND(MDTrade, mdtrade),       ZEL_RECORD_KIND(MDFuture, mdfuture),
            ZEL_RECORD_KIND(MDWarrant, mdwarrant),   ZEL_RECORD_KIND(MDKLine, mdkline),
        };
        const Descriptor* envelope = MarketData::descriptor();
        std::vector<RecordOf> records(static_cast<size_t>(envelope->field_count()), nullptr);
        for (const auto& kind : kinds) {
            const FieldDescriptor* field = envelope->FindFieldByName(kind.first);
            if (field != nullptr && field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE &&
                !field->is_repeated()) {
                records[static_cast<size_t>(field->index())] = kind.second;
            }
        }
        return records;
    }();
    return s_records;
}
#undef ZEL_RECORD_KIND

void AppendMessage(const Message& message, std::string* out) {
    const Descriptor* descriptor = message.GetDescriptor();
    const Reflection* reflection = message.GetReflection();
    if (descriptor == nullptr || reflection == nullptr) {
        return;
    }
    static PlanTable s_plans;
    static const Descriptor* const s_envelope = MarketData::descriptor();
    static const Reflection* const s_envelope_reflection = MarketData::GetReflection();
    const Plan* cached = s_plans.Find(descriptor);
    Plan uncached;
    if (cached == nullptr) {
        uncached = BuildPlan(descriptor);
    }
    const Plan& plan = cached != nullptr ? *cached : uncached;
    out->push_back('{');
    bool first = true;
    if (plan.has_extensions) {
        std::vector<const FieldDescriptor*> fields;
        reflection->ListFields(message, &fields);
        for (const FieldDescriptor* field : fields) {
            if (AppendMember(message, reflection, field, KeyOf(field), first, out)) {
                first = false;
            }
        }
    } else if (descriptor == s_envelope && reflection == s_envelope_reflection) {
        const auto& data = static_cast<const MarketData&>(message);
        const std::vector<RecordOf>& records = EnvelopeRecords();
        for (const Member& member : plan.members) {
            const RecordOf record_of = records[static_cast<size_t>(member.field->index())];
            if (record_of == nullptr) {
                if (AppendMember(message, reflection, member.field, member.key, first, out)) {
                    first = false;
                }
                continue;
            }
            const Message* record = record_of(data);
            if (record != nullptr) {
                if (!first) {
                    out->append(", ", 2);
                }
                out->append(member.key);
                AppendMessage(*record, out);
                first = false;
            }
        }
    } else {
        for (const Member& member : plan.members) {
            if (AppendMember(message, reflection, member.field, member.key, first, out)) {
                first = false;
            }
        }
    }
    out->push_back('}');
}

}  // namespace

void JsonRecordWriter::Append(const Message& message, std::string* out) {
    AppendMessage(message, out);
}

std::string JsonRecordWriter::Write(const Message& message) {
    std::string text;
    AppendMessage(message, &text);
    return text;
}

void JsonRecordWriter::AppendReal(double value, std::string* out) {
    if (std::isnan(value)) {
        out->append("\"NaN\"");
        return;
    }
    if (std::isinf(value)) {
        out->append(value > 0 ? "\"Infinity\"" : "\"-Infinity\"");
        return;
    }
    if (AppendSeventeenDigits(value, out)) {
        return;
    }
    char buffer[40];
    const char* const start = buffer;
    const char* end =
        std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::general, 17).ptr;
    const char* exponent = std::find(start, end, 'e');
    if (exponent == end) {
        out->append(buffer, static_cast<size_t>(end - buffer));
        // A whole number keeps a fraction so that it reads back as a real.
        if (std::find(start, end, '.') == end) {
            out->append(".0");
        }
        return;
    }
    // "1e+20" becomes "1e20", "1e-05" becomes "1e-5".
    out->append(buffer, static_cast<size_t>(exponent + 1 - buffer));
    const char* digits = exponent + 1;
    if (*digits == '-') {
        out->push_back('-');
    }
    ++digits;
    while (digits < end - 1 && *digits == '0') {
        ++digits;
    }
    out->append(digits, static_cast<size_t>(end - digits));
}

bool JsonRecordWriter::IsZeroReal(const Message& message, const FieldDescriptor* field) {
    if (field->has_presence()) {
        return false;
    }
    switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_DOUBLE:
            return message.GetReflection()->GetDouble(message, field) == 0.0;
        case FieldDescriptor::CPPTYPE_FLOAT:
            return message.GetReflection()->GetFloat(message, field) == 0.0f;
        default:
            return false;
    }
}

std::string JsonRecordWriter::EncodeBase64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t triple = static_cast<uint32_t>(data[i] << 16 | data[i + 1] << 8 | data[i + 2]);
        text += kAlphabet[(triple >> 18) & 0x3F];
        text += kAlphabet[(triple >> 12) & 0x3F];
        text += kAlphabet[(triple >> 6) & 0x3F];
        text += kAlphabet[triple & 0x3F];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t triple = static_cast<uint32_t>(data[i] << 16);
        if (rest == 2) {
            triple |= static_cast<uint32_t>(data[i + 1] << 8);
        }
        text += kAlphabet[(triple >> 18) & 0x3F];
        text += kAlphabet[(triple >> 12) & 0x3F];
        text += rest == 2 ? kAlphabet[(triple >> 6) & 0x3F] : '=';
        text += '=';
    }
    return text;
}

}  // namespace com::mivo::kmr::client
