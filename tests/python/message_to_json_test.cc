#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include "MarketData.pb.h"
#include "SysSubscribe.pb.h"
#include "python/message_to_json.h"

namespace com::mivo::kmr::client {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using namespace com::mivo::zel::model;

// The schema has no uint64, float, bytes or extension fields; a message built
// at run time covers those kinds through the same reflection path.
class ProbeMessages {
public:
    ProbeMessages() : m_factory(&m_pool) {
        google::protobuf::FileDescriptorProto proto3;
        EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(R"(
            name: "probe3.proto" package: "probe" syntax: "proto3"
            message_type {
              name: "Probe"
              field { name: "wide" number: 1 label: LABEL_OPTIONAL type: TYPE_UINT64 }
              field { name: "ratio" number: 2 label: LABEL_OPTIONAL type: TYPE_FLOAT }
              field { name: "blob" number: 3 label: LABEL_OPTIONAL type: TYPE_BYTES }
              field { name: "text" number: 4 label: LABEL_OPTIONAL type: TYPE_STRING }
              field { name: "small" number: 5 label: LABEL_OPTIONAL type: TYPE_UINT32 }
              field { name: "ratios" number: 6 label: LABEL_REPEATED type: TYPE_DOUBLE }
            })",
                                                                  &proto3));
        google::protobuf::FileDescriptorProto proto2;
        EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(R"(
            name: "probe2.proto" package: "probe" syntax: "proto2"
            message_type {
              name: "Host"
              field { name: "id" number: 1 label: LABEL_OPTIONAL type: TYPE_INT32 }
              extension_range { start: 100 end: 200 }
            }
            extension { name: "tag" number: 100 label: LABEL_OPTIONAL type: TYPE_INT32 extendee: ".probe.Host" })",
                                                                  &proto2));
        EXPECT_NE(m_pool.BuildFile(proto3), nullptr);
        EXPECT_NE(m_pool.BuildFile(proto2), nullptr);
    }

    std::unique_ptr<Message> New(const char* name) {
        return std::unique_ptr<Message>(m_factory.GetPrototype(m_pool.FindMessageTypeByName(name))->New());
    }
    const FieldDescriptor* Field(const Message& message, const char* name) {
        return message.GetDescriptor()->FindFieldByName(name);
    }
    const FieldDescriptor* Extension(const char* name) { return m_pool.FindExtensionByName(name); }

private:
    google::protobuf::DescriptorPool m_pool;
    google::protobuf::DynamicMessageFactory m_factory;
};

TEST(MessageToJson, DefaultsAndPresence) {
    EXPECT_EQ(message_to_json(MarketData()), "{}");

    MarketData data;
    data.mutable_zelstock();  // set, every field of its own at default
    EXPECT_EQ(message_to_json(data), "{\"ZELStock\": {}}");

    SubscribeResponse response;
    response.set_issuccess(true);
    response.add_permitteddatatypes(1);
    response.add_permitteddatatypes(2);
    EXPECT_EQ(message_to_json(response), "{\"isSuccess\": true, \"permittedDataTypes\": [1, 2]}");
    response.set_issuccess(false);
    response.clear_permitteddatatypes();
    response.add_permitteddatatypes(7);
    EXPECT_EQ(message_to_json(response), "{\"permittedDataTypes\": [7]}");

    SubscribeRequest request;
    request.set_subscribeactiontype(COVERAGE);  // enum value 0: absent
    EXPECT_EQ(message_to_json(request), "{}");
    request.set_subscribeactiontype(CANCEL);
    request.mutable_subscribebydatatype();  // empty repeated inside: absent
    EXPECT_EQ(message_to_json(request), "{\"subscribeActionType\": 3, \"subscribeByDataType\": {}}");
}

TEST(MessageToJson, MembersInFieldNumberOrder) {
    MDStock stock;
    stock.set_closepx(2.5);  // number 83, declared between 16 and 17
    stock.set_symbol("AB");  // number 82
    stock.set_openpx(1.5);   // number 16
    stock.set_highpx(3.5);   // number 17
    EXPECT_EQ(message_to_json(stock),
              "{\"OpenPx\": 1.5, \"HighPx\": 3.5, \"symbol\": \"AB\", \"ClosePx\": 2.5}");
}

TEST(MessageToJson, IntegersAndReals) {
    MarketData data;
    data.set_zelmessagechannel(std::numeric_limits<int64_t>::max());
    data.set_zelrecordtype(-42);
    EXPECT_EQ(message_to_json(data), "{\"ZELMessageChannel\": 9223372036854775807, \"ZELRecordType\": -42}");

    MDStock stock;
    stock.set_lastpx(-0.0);  // like 0.0: absent
    EXPECT_EQ(message_to_json(stock), "{}");
    stock.set_lastpx(3.0);
    stock.set_openpx(0.1);
    stock.set_highpx(1e20);
    stock.set_lowpx(1e-5);
    EXPECT_EQ(message_to_json(stock),
              "{\"LastPx\": 3.0, \"OpenPx\": 0.10000000000000001, \"HighPx\": 1e20, "
              "\"LowPx\": 1.0000000000000001e-5}");

    ProbeMessages probes;
    auto probe = probes.New("probe.Probe");
    const auto* reflection = probe->GetReflection();
    reflection->SetUInt64(probe.get(), probes.Field(*probe, "wide"), std::numeric_limits<uint64_t>::max());
    reflection->SetFloat(probe.get(), probes.Field(*probe, "ratio"), 0.1f);
    reflection->SetUInt32(probe.get(), probes.Field(*probe, "small"), std::numeric_limits<uint32_t>::max());
    EXPECT_EQ(message_to_json(*probe),
              "{\"wide\": -1, \"ratio\": 0.10000000149011612, \"small\": 4294967295}");
    reflection->SetFloat(probe.get(), probes.Field(*probe, "ratio"), -0.0f);
    reflection->SetUInt64(probe.get(), probes.Field(*probe, "wide"), 1ULL << 63);
    EXPECT_EQ(message_to_json(*probe), "{\"wide\": -9223372036854775808, \"small\": 4294967295}");
}

TEST(MessageToJson, Texts) {
    MDStock stock;
    stock.set_symbol(std::string("AB\0CD", 5));
    EXPECT_EQ(message_to_json(stock), "{\"symbol\": \"AB\"}");
    stock.set_symbol("q\"b\\s/\n\t\x01\x1f\xc3\xa9");
    EXPECT_EQ(message_to_json(stock), "{\"symbol\": \"q\\\"b\\\\s/\\n\\t\\u0001\\u001F\xc3\xa9\"}");

    ProbeMessages probes;
    auto probe = probes.New("probe.Probe");
    const auto* reflection = probe->GetReflection();
    reflection->SetString(probe.get(), probes.Field(*probe, "blob"), std::string("\0\xff\x10", 3));
    EXPECT_EQ(message_to_json(*probe), "{\"blob\": \"AP8Q\"}");
    reflection->SetString(probe.get(), probes.Field(*probe, "blob"), "fo");
    EXPECT_EQ(message_to_json(*probe), "{\"blob\": \"Zm8=\"}");
}

TEST(MessageToJson, ExtensionKeyedByFullName) {
    ProbeMessages probes;
    auto host = probes.New("probe.Host");
    host->GetReflection()->SetInt32(host.get(), probes.Field(*host, "id"), 0);  // proto2: set means present
    host->GetReflection()->SetInt32(host.get(), probes.Extension("probe.tag"), 9);
    EXPECT_EQ(message_to_json(*host), "{\"id\": 0, \"probe.tag\": 9}");
}

TEST(MessageToJson, UnrepresentableValuesThrowWithFieldName) {
    MDStock stock;
    stock.set_openpx(1.0);
    stock.set_lastpx(std::nan(""));
    try {
        message_to_json(stock);
        FAIL() << "NaN converted";
    } catch (const j2pb_error& e) {
        EXPECT_STREQ(e.what(), "LastPx: Fail to convert to json");
    }
    stock.set_lastpx(1.0);
    stock.add_buypricequeue(1.0);
    stock.add_buypricequeue(-std::numeric_limits<double>::infinity());
    MarketData data;
    *data.mutable_mdstock() = stock;
    EXPECT_THROW(message_to_json(data), j2pb_error);
    try {
        message_to_json(data);
    } catch (const j2pb_error& e) {
        EXPECT_STREQ(e.what(), "BuyPriceQueue: Fail to convert to json");
    }

    ProbeMessages probes;
    auto probe = probes.New("probe.Probe");
    probe->GetReflection()->SetString(probe.get(), probes.Field(*probe, "text"), "bad \xff utf8");
    EXPECT_THROW(message_to_json(*probe), j2pb_error);
    probe->GetReflection()->AddDouble(probe.get(), probes.Field(*probe, "ratios"), 0.5);
    probe->GetReflection()->SetString(probe.get(), probes.Field(*probe, "text"), "ok");
    EXPECT_EQ(message_to_json(*probe), "{\"text\": \"ok\", \"ratios\": [0.5]}");
}

TEST(EncodeBase64, PaddingToFourCharacters) {
    EXPECT_EQ(encode_base64(""), "");
    EXPECT_EQ(encode_base64("f"), "Zg==");
    EXPECT_EQ(encode_base64("fo"), "Zm8=");
    EXPECT_EQ(encode_base64("foo"), "Zm9v");
    EXPECT_EQ(encode_base64("foob"), "Zm9vYg==");
    EXPECT_EQ(encode_base64("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encode_base64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(encode_base64(std::string("\xfb\xff\xbf", 3)), "+/+/");
}

}  // namespace
}  // namespace com::mivo::kmr::client
