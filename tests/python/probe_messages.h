#pragma once

#include <memory>

#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

namespace com::mivo::kmr::client {

// The schema has no uint64, float, bool-array, bytes, oneof or extension
// fields; messages built at run time cover those kinds through the same
// reflection paths.
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
              field { name: "flags" number: 7 label: LABEL_REPEATED type: TYPE_BOOL }
              field { name: "wides" number: 8 label: LABEL_REPEATED type: TYPE_UINT64 }
              field { name: "floats" number: 9 label: LABEL_REPEATED type: TYPE_FLOAT }
              field { name: "blobs" number: 10 label: LABEL_REPEATED type: TYPE_BYTES }
              field { name: "texts" number: 11 label: LABEL_REPEATED type: TYPE_STRING }
              field { name: "inner" number: 12 label: LABEL_OPTIONAL type: TYPE_MESSAGE type_name: ".probe.Probe" }
              field { name: "inners" number: 13 label: LABEL_REPEATED type: TYPE_MESSAGE type_name: ".probe.Probe" }
              field { name: "choice_a" number: 14 label: LABEL_OPTIONAL type: TYPE_INT32 oneof_index: 0 }
              field { name: "choice_b" number: 15 label: LABEL_OPTIONAL type: TYPE_DOUBLE oneof_index: 0 }
              field { name: "flag" number: 16 label: LABEL_OPTIONAL type: TYPE_BOOL }
              field { name: "small32" number: 17 label: LABEL_OPTIONAL type: TYPE_SINT32 }
              oneof_decl { name: "choice" }
            })",
                                                                  &proto3));
        google::protobuf::FileDescriptorProto proto2;
        EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(R"(
            name: "probe2.proto" package: "probe" syntax: "proto2"
            message_type {
              name: "Host"
              field { name: "id" number: 1 label: LABEL_OPTIONAL type: TYPE_INT32 }
              field { name: "real" number: 2 label: LABEL_OPTIONAL type: TYPE_DOUBLE }
              field { name: "name" number: 3 label: LABEL_OPTIONAL type: TYPE_STRING }
              extension_range { start: 100 end: 200 }
            }
            extension { name: "tag" number: 100 label: LABEL_OPTIONAL type: TYPE_INT32 extendee: ".probe.Host" }
            extension { name: "tags" number: 101 label: LABEL_REPEATED type: TYPE_DOUBLE extendee: ".probe.Host" })",
                                                                  &proto2));
        EXPECT_NE(m_pool.BuildFile(proto3), nullptr);
        EXPECT_NE(m_pool.BuildFile(proto2), nullptr);
    }

    std::unique_ptr<google::protobuf::Message> New(const char* name) {
        return std::unique_ptr<google::protobuf::Message>(
            m_factory.GetPrototype(m_pool.FindMessageTypeByName(name))->New());
    }
    const google::protobuf::FieldDescriptor* Field(const google::protobuf::Message& message,
                                                   const char* name) {
        return message.GetDescriptor()->FindFieldByName(name);
    }
    const google::protobuf::FieldDescriptor* Extension(const char* name) {
        return m_pool.FindExtensionByName(name);
    }

private:
    google::protobuf::DescriptorPool m_pool;
    google::protobuf::DynamicMessageFactory m_factory;
};

}  // namespace com::mivo::kmr::client
