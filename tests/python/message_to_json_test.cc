#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "MarketData.pb.h"
#include "SysSubscribe.pb.h"
#include "probe_messages.h"
#include "python/json_record_writer.h"
#include "python/reference/message_to_json.h"

namespace com::mivo::kmr::client {
namespace {

using google::protobuf::Message;
using namespace com::mivo::zel::model;

// The reference text of a message; the writer must give the same bytes.
std::string Json(const Message& message) {
    const std::string text = message_to_json(message);
    EXPECT_EQ(JsonRecordWriter::Write(message), text);
    return text;
}

TEST(MessageToJson, DefaultsAndPresence) {
    EXPECT_EQ(Json(MarketData()), "{}");

    MarketData data;
    data.mutable_zelstock();  // set, every field of its own at default
    EXPECT_EQ(Json(data), "{\"ZELStock\": {}}");

    SubscribeResponse response;
    response.set_issuccess(true);
    response.add_permitteddatatypes(1);
    response.add_permitteddatatypes(2);
    EXPECT_EQ(Json(response), "{\"isSuccess\": true, \"permittedDataTypes\": [1, 2]}");
    response.set_issuccess(false);
    response.clear_permitteddatatypes();
    response.add_permitteddatatypes(7);
    EXPECT_EQ(Json(response), "{\"permittedDataTypes\": [7]}");

    SubscribeRequest request;
    request.set_subscribeactiontype(COVERAGE);  // enum value 0: absent
    EXPECT_EQ(Json(request), "{}");
    request.set_subscribeactiontype(CANCEL);
    request.mutable_subscribebydatatype();  // empty repeated inside: absent
    EXPECT_EQ(Json(request), "{\"subscribeActionType\": 3, \"subscribeByDataType\": {}}");
}

TEST(MessageToJson, MembersInFieldNumberOrder) {
    MDStock stock;
    stock.set_closepx(2.5);  // number 83, declared between 16 and 17
    stock.set_symbol("AB");  // number 82
    stock.set_openpx(1.5);   // number 16
    stock.set_highpx(3.5);   // number 17
    EXPECT_EQ(Json(stock), "{\"OpenPx\": 1.5, \"HighPx\": 3.5, \"symbol\": \"AB\", \"ClosePx\": 2.5}");
}

TEST(MessageToJson, IntegersAndReals) {
    MarketData data;
    data.set_zelmessagechannel(std::numeric_limits<int64_t>::max());
    data.set_zelrecordtype(-42);
    EXPECT_EQ(Json(data), "{\"ZELMessageChannel\": 9223372036854775807, \"ZELRecordType\": -42}");

    MDStock stock;
    stock.set_lastpx(-0.0);  // like 0.0: absent
    EXPECT_EQ(Json(stock), "{}");
    stock.set_lastpx(3.0);
    stock.set_openpx(0.1);
    stock.set_highpx(1e20);
    stock.set_lowpx(1e-5);
    EXPECT_EQ(Json(stock),
              "{\"LastPx\": 3.0, \"OpenPx\": 0.10000000000000001, \"HighPx\": 1e20, "
              "\"LowPx\": 1.0000000000000001e-5}");

    ProbeMessages probes;
    auto probe = probes.New("probe.Probe");
    const auto* reflection = probe->GetReflection();
    reflection->SetUInt64(probe.get(), probes.Field(*probe, "wide"), std::numeric_limits<uint64_t>::max());
    reflection->SetFloat(probe.get(), probes.Field(*probe, "ratio"), 0.1f);
    reflection->SetUInt32(probe.get(), probes.Field(*probe, "small"), std::numeric_limits<uint32_t>::max());
    EXPECT_EQ(Json(*probe), "{\"wide\": -1, \"ratio\": 0.10000000149011612, \"small\": 4294967295}");
    reflection->SetFloat(probe.get(), probes.Field(*probe, "ratio"), -0.0f);
    reflection->SetUInt64(probe.get(), probes.Field(*probe, "wide"), 1ULL << 63);
    EXPECT_EQ(Json(*probe), "{\"wide\": -9223372036854775808, \"small\": 4294967295}");
}

TEST(MessageToJson, Texts) {
    MDStock stock;
    stock.set_symbol(std::string("AB\0CD", 5));
    EXPECT_EQ(Json(stock), "{\"symbol\": \"AB\"}");
    stock.set_symbol("q\"b\\s/\n\t\x01\x1f\xc3\xa9");
    EXPECT_EQ(Json(stock), "{\"symbol\": \"q\\\"b\\\\s/\\n\\t\\u0001\\u001F\xc3\xa9\"}");

    ProbeMessages probes;
    auto probe = probes.New("probe.Probe");
    const auto* reflection = probe->GetReflection();
    reflection->SetString(probe.get(), probes.Field(*probe, "blob"), std::string("\0\xff\x10", 3));
    EXPECT_EQ(Json(*probe), "{\"blob\": \"AP8Q\"}");
    reflection->SetString(probe.get(), probes.Field(*probe, "blob"), "fo");
    EXPECT_EQ(Json(*probe), "{\"blob\": \"Zm8=\"}");
}

TEST(MessageToJson, ExtensionKeyedByFullName) {
    ProbeMessages probes;
    auto host = probes.New("probe.Host");
    host->GetReflection()->SetInt32(host.get(), probes.Field(*host, "id"), 0);  // proto2: set means present
    host->GetReflection()->SetInt32(host.get(), probes.Extension("probe.tag"), 9);
    EXPECT_EQ(Json(*host), "{\"id\": 0, \"probe.tag\": 9}");
}

TEST(MessageToJson, RealsWithoutJsonNumberAreTexts) {
    MDStock stock;
    stock.set_openpx(1.0);
    stock.set_lastpx(std::nan(""));
    stock.add_buypricequeue(std::numeric_limits<double>::infinity());
    stock.add_buypricequeue(-std::numeric_limits<double>::infinity());
    stock.add_buypricequeue(-std::nan(""));
    EXPECT_EQ(
        Json(stock),
        "{\"LastPx\": \"NaN\", \"OpenPx\": 1.0, \"BuyPriceQueue\": [\"Infinity\", \"-Infinity\", \"NaN\"]}");

    ProbeMessages probes;
    auto probe = probes.New("probe.Probe");
    probe->GetReflection()->SetFloat(probe.get(), probes.Field(*probe, "ratio"), -HUGE_VALF);
    EXPECT_EQ(Json(*probe), "{\"ratio\": \"-Infinity\"}");
}

TEST(MessageToJson, TextThatIsNotUtf8ThrowsWithFieldName) {
    ProbeMessages probes;
    auto probe = probes.New("probe.Probe");
    const auto* reflection = probe->GetReflection();
    reflection->SetString(probe.get(), probes.Field(*probe, "text"), "bad \xff utf8");
    for (const char* bad : {"\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "\x80"}) {
        reflection->SetString(probe.get(), probes.Field(*probe, "text"), bad);
        try {
            message_to_json(*probe);
            FAIL() << "reference converted " << bad;
        } catch (const j2pb_error& e) {
            EXPECT_STREQ(e.what(), "text: Fail to convert to json");
        }
        try {
            JsonRecordWriter::Write(*probe);
            FAIL() << "writer converted " << bad;
        } catch (const j2pb_error& e) {
            EXPECT_STREQ(e.what(), "text: Fail to convert to json");
        }
    }
    // Only the text before the first NUL counts.
    reflection->SetString(probe.get(), probes.Field(*probe, "text"), std::string("ok\0\xff", 4));
    reflection->AddDouble(probe.get(), probes.Field(*probe, "ratios"), 0.5);
    EXPECT_EQ(Json(*probe), "{\"text\": \"ok\", \"ratios\": [0.5]}");
    reflection->SetString(probe.get(), probes.Field(*probe, "text"), "\xf0\x9f\x98\x80\xef\xbf\xbf\x7f");
    EXPECT_EQ(Json(*probe), "{\"text\": \"\xf0\x9f\x98\x80\xef\xbf\xbf\x7f\", \"ratios\": [0.5]}");
}

TEST(EncodeBase64, PaddingToFourCharacters) {
    EXPECT_EQ(JsonRecordWriter::EncodeBase64(""), "");
    EXPECT_EQ(JsonRecordWriter::EncodeBase64("f"), "Zg==");
    EXPECT_EQ(JsonRecordWriter::EncodeBase64("fo"), "Zm8=");
    EXPECT_EQ(JsonRecordWriter::EncodeBase64("foo"), "Zm9v");
    EXPECT_EQ(JsonRecordWriter::EncodeBase64("foob"), "Zm9vYg==");
    EXPECT_EQ(JsonRecordWriter::EncodeBase64("fooba"), "Zm9vYmE=");
    EXPECT_EQ(JsonRecordWriter::EncodeBase64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(JsonRecordWriter::EncodeBase64(std::string("\xfb\xff\xbf", 3)), "+/+/");
}

}  // namespace
}  // namespace com::mivo::kmr::client
