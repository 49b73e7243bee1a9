#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MarketData.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"
#include "probe_messages.h"
#include "python/json_record_writer.h"
#include "python/reference/message_to_json.h"

namespace com::mivo::kmr::client {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;
using namespace com::mivo::zel::model;

// Fills messages through reflection with values where a formatter slips:
// integer limits, reals at the edges of the format (tiny, huge, subnormal,
// whole, -0.0, NaN, infinities), texts with escapes, NULs and multi-byte
// characters, empty repeated fields and unset or empty sub-messages.
class RandomFiller {
public:
    explicit RandomFiller(uint64_t seed) : m_random(seed) {}

    void Fill(Message* message, int depth) {
        const auto* descriptor = message->GetDescriptor();
        for (int i = 0; i < descriptor->field_count(); ++i) {
            const FieldDescriptor* field = descriptor->field(i);
            if (Chance(4)) {
                continue;  // left unset
            }
            if (field->is_repeated()) {
                const int count = static_cast<int>(m_random() % 5);
                for (int k = 0; k < count; ++k) {
                    Add(message, field, depth);
                }
            } else {
                Set(message, field, depth);
            }
        }
    }

    double Real() {
        static const double kEdges[] = {0.0,
                                        -0.0,
                                        1.0,
                                        -1.0,
                                        0.1,
                                        1e16,
                                        1e17,
                                        123456789012345678.0,
                                        1e-4,
                                        1e-5,
                                        9.9999999999999995e-5,
                                        DBL_MIN,
                                        DBL_MAX,
                                        -DBL_MAX,
                                        DBL_TRUE_MIN,
                                        1e308,
                                        1e-308,
                                        std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity(),
                                        0.5,
                                        2.5e-7,
                                        99999999999999999.0};
        switch (m_random() % 5) {
            case 0:
                return kEdges[m_random() % (sizeof(kEdges) / sizeof(kEdges[0]))];
            case 1: {
                const uint64_t bits = m_random();
                double value;
                std::memcpy(&value, &bits, sizeof(value));
                return value;
            }
            case 2:  // a price with four decimals
                return std::round(static_cast<double>(m_random() % 100000000) - 5e7) / 1e4;
            case 3: {  // any magnitude a record carries, evenly on a log scale
                const double unit = static_cast<double>(m_random() >> 11) / 9007199254740992.0;
                return std::pow(10.0, unit * 32.0 - 13.0) * (Chance(2) ? 1 : -1);
            }
            default:
                return std::ldexp(static_cast<double>(m_random() % 1000000),
                                  static_cast<int>(m_random() % 200) - 100);
        }
    }

    int64_t Integer() {
        static const int64_t kEdges[] = {0,
                                         1,
                                         -1,
                                         std::numeric_limits<int64_t>::max(),
                                         std::numeric_limits<int64_t>::min(),
                                         std::numeric_limits<int32_t>::max(),
                                         std::numeric_limits<int32_t>::min(),
                                         std::numeric_limits<uint32_t>::max(),
                                         1000000000000000000};
        return Chance(2) ? kEdges[m_random() % (sizeof(kEdges) / sizeof(kEdges[0]))]
                         : static_cast<int64_t>(m_random()) >> (m_random() % 64);
    }

    std::string Text() {
        static const char* const kPieces[] = {"",
                                              "A",
                                              "\"",
                                              "\\",
                                              "/",
                                              "\n",
                                              "\t",
                                              "\b",
                                              "\f",
                                              "\r",
                                              "\x01",
                                              "\x1f",
                                              "\x7f",
                                              " ",
                                              "\xc3\xa9",
                                              "\xe4\xb8\xad",
                                              "\xf0\x9f\x98\x80",
                                              "600000.SH",
                                              "\xef\xbf\xbf"};
        std::string text;
        const int pieces = static_cast<int>(m_random() % 6);
        for (int i = 0; i < pieces; ++i) {
            text += kPieces[m_random() % (sizeof(kPieces) / sizeof(kPieces[0]))];
        }
        if (Chance(10)) {
            text.insert(m_random() % (text.size() + 1), 1, '\0');
        }
        if (Chance(200)) {
            static const char* const kBroken[] = {"\xff", "\xc0\xaf", "\xed\xa0\x80", "\xe4\xb8",
                                                  "\xf5\x80\x80\x80"};
            text += kBroken[m_random() % (sizeof(kBroken) / sizeof(kBroken[0]))];
        }
        return text;
    }

private:
    bool Chance(int one_in) { return m_random() % static_cast<uint64_t>(one_in) == 0; }

    void Set(Message* message, const FieldDescriptor* field, int depth) {
        const Reflection* r = message->GetReflection();
        switch (field->cpp_type()) {
            case FieldDescriptor::CPPTYPE_INT32:
                r->SetInt32(message, field, static_cast<int32_t>(Integer()));
                break;
            case FieldDescriptor::CPPTYPE_INT64:
                r->SetInt64(message, field, Integer());
                break;
            case FieldDescriptor::CPPTYPE_UINT32:
                r->SetUInt32(message, field, static_cast<uint32_t>(Integer()));
                break;
            case FieldDescriptor::CPPTYPE_UINT64:
                r->SetUInt64(message, field, static_cast<uint64_t>(Integer()));
                break;
            case FieldDescriptor::CPPTYPE_DOUBLE:
                r->SetDouble(message, field, Real());
                break;
            case FieldDescriptor::CPPTYPE_FLOAT:
                r->SetFloat(message, field, static_cast<float>(Real()));
                break;
            case FieldDescriptor::CPPTYPE_BOOL:
                r->SetBool(message, field, Chance(2));
                break;
            case FieldDescriptor::CPPTYPE_ENUM:
                r->SetEnumValue(message, field, static_cast<int>(m_random() % 4));
                break;
            case FieldDescriptor::CPPTYPE_STRING:
                r->SetString(message, field, Text());
                break;
            case FieldDescriptor::CPPTYPE_MESSAGE:
                if (depth < 3) {
                    Message* inner = r->MutableMessage(message, field);
                    if (!Chance(3)) {
                        Fill(inner, depth + 1);  // else set but empty
                    }
                }
                break;
        }
    }

    void Add(Message* message, const FieldDescriptor* field, int depth) {
        const Reflection* r = message->GetReflection();
        switch (field->cpp_type()) {
            case FieldDescriptor::CPPTYPE_INT32:
                r->AddInt32(message, field, static_cast<int32_t>(Integer()));
                break;
            case FieldDescriptor::CPPTYPE_INT64:
                r->AddInt64(message, field, Integer());
                break;
            case FieldDescriptor::CPPTYPE_UINT32:
                r->AddUInt32(message, field, static_cast<uint32_t>(Integer()));
                break;
            case FieldDescriptor::CPPTYPE_UINT64:
                r->AddUInt64(message, field, static_cast<uint64_t>(Integer()));
                break;
            case FieldDescriptor::CPPTYPE_DOUBLE:
                r->AddDouble(message, field, Real());
                break;
            case FieldDescriptor::CPPTYPE_FLOAT:
                r->AddFloat(message, field, static_cast<float>(Real()));
                break;
            case FieldDescriptor::CPPTYPE_BOOL:
                r->AddBool(message, field, Chance(2));
                break;
            case FieldDescriptor::CPPTYPE_ENUM:
                r->AddEnumValue(message, field, static_cast<int>(m_random() % 4));
                break;
            case FieldDescriptor::CPPTYPE_STRING:
                r->AddString(message, field, Text());
                break;
            case FieldDescriptor::CPPTYPE_MESSAGE:
                if (depth < 3) {
                    Message* inner = r->AddMessage(message, field);
                    if (!Chance(3)) {
                        Fill(inner, depth + 1);
                    }
                }
                break;
        }
    }

    std::mt19937_64 m_random;
};

// Both texts, or both failures with the same field named.
void ExpectSameText(const Message& message) {
    std::string reference;
    std::string reference_error;
    try {
        reference = message_to_json(message);
    } catch (const j2pb_error& e) {
        reference_error = e.what();
    }
    std::string written;
    std::string written_error;
    try {
        written = JsonRecordWriter::Write(message);
    } catch (const j2pb_error& e) {
        written_error = e.what();
    }
    ASSERT_EQ(written_error, reference_error) << message.DebugString();
    ASSERT_EQ(written, reference) << message.DebugString();
}

TEST(JsonRecordWriter, SameTextAsReferenceForEveryRecordKind) {
    const auto* descriptor = MarketData::descriptor();
    int kinds = 0;
    for (int i = 0; i < descriptor->field_count(); ++i) {
        const FieldDescriptor* kind = descriptor->field(i);
        if (kind->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE) {
            continue;
        }
        ++kinds;
        RandomFiller filler(static_cast<uint64_t>(kind->number()));
        for (int round = 0; round < 300; ++round) {
            MarketData data;
            data.set_zelmessagechannel(filler.Integer());
            data.set_zelrecordtype(kind->number());
            Message* record = data.GetReflection()->MutableMessage(&data, kind);
            filler.Fill(record, 1);
            ExpectSameText(data);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
    EXPECT_EQ(kinds, 22);
}

TEST(JsonRecordWriter, SameTextAsReferenceForAnswersAndProbes) {
    ProbeMessages probes;
    RandomFiller filler(7);
    for (int round = 0; round < 300; ++round) {
        SubscribeResponse response;
        filler.Fill(&response, 0);
        ExpectSameText(response);
        LoginResponse login;
        filler.Fill(&login, 0);
        ExpectSameText(login);
        auto probe = probes.New("probe.Probe");
        filler.Fill(probe.get(), 0);
        ExpectSameText(*probe);
        auto host = probes.New("probe.Host");
        filler.Fill(host.get(), 0);
        const Reflection* reflection = host->GetReflection();
        if (round % 2 == 0) {
            reflection->SetInt32(host.get(), probes.Extension("probe.tag"),
                                 static_cast<int32_t>(filler.Integer()));
        }
        for (int k = round % 3; k > 0; --k) {
            reflection->AddDouble(host.get(), probes.Extension("probe.tags"), filler.Real());
        }
        ExpectSameText(*host);
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Reals are the one formatting path with arithmetic of its own; every bit
// pattern class is compared with the C library's "%.17g".
TEST(JsonRecordWriter, RealsMatchPrintfSeventeenDigits) {
    RandomFiller filler(11);
    for (int i = 0; i < 200000; ++i) {
        const double value = filler.Real();
        if (!std::isfinite(value)) {
            continue;
        }
        char expected[48];
        std::snprintf(expected, sizeof(expected), "%.17g", value);
        std::string written;
        JsonRecordWriter::AppendReal(value, &written);
        std::string printed = expected;
        const size_t e = printed.find('e');
        if (e == std::string::npos) {
            if (printed.find('.') == std::string::npos) {
                printed += ".0";
            }
        } else {
            size_t digits = e + 1;
            if (printed[digits] == '+') {
                printed.erase(digits, 1);
            } else {
                ++digits;
            }
            while (printed[digits] == '0') {
                printed.erase(digits, 1);
            }
        }
        ASSERT_EQ(written, printed) << expected;
    }
}

}  // namespace
}  // namespace com::mivo::kmr::client
