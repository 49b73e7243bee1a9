#include "python/reference/message_to_json.h"

#include <cmath>
#include <vector>

#include "python/json_record_writer.h"
#include "python/json_ref.h"

namespace com::mivo::kmr::client {

namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

const char* const kFailToConvert = "Fail to convert to json";

// json_string takes a NUL-terminated text, which cuts it at its first NUL.
json_t* StringToJson(const Message& message, const Reflection* reflection, const FieldDescriptor* field,
                     int index) {
    std::string scratch;
    const std::string& value = field->is_repeated()
                                   ? reflection->GetRepeatedStringReference(message, field, index, &scratch)
                                   : reflection->GetStringReference(message, field, &scratch);
    if (field->type() == FieldDescriptor::TYPE_BYTES) {
        return json_string(JsonRecordWriter::EncodeBase64(value).c_str());
    }
    return json_string(value.c_str());
}

// JSON has no number for these; they travel as protobuf's JSON mapping
// writes them.
json_t* RealToJson(double value) {
    if (std::isnan(value)) {
        return json_string("NaN");
    }
    if (std::isinf(value)) {
        return json_string(value > 0 ? "Infinity" : "-Infinity");
    }
    return json_real(value);
}

int DumpToString(const char* buffer, size_t size, void* data) {
    static_cast<std::string*>(data)->append(buffer, size);
    return 0;
}

}  // namespace

json_t* field_to_json(const Message& message, const FieldDescriptor* field, int index) {
    const Reflection* reflection = message.GetReflection();
    const bool repeated = field->is_repeated();
    json_t* value = nullptr;
    switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_INT32:
            value = json_integer(repeated ? reflection->GetRepeatedInt32(message, field, index)
                                          : reflection->GetInt32(message, field));
            break;
        case FieldDescriptor::CPPTYPE_INT64:
            value = json_integer(repeated ? reflection->GetRepeatedInt64(message, field, index)
                                          : reflection->GetInt64(message, field));
            break;
        case FieldDescriptor::CPPTYPE_UINT32:
            value = json_integer(repeated ? reflection->GetRepeatedUInt32(message, field, index)
                                          : reflection->GetUInt32(message, field));
            break;
        case FieldDescriptor::CPPTYPE_UINT64:
            value = json_integer(
                static_cast<json_int_t>(repeated ? reflection->GetRepeatedUInt64(message, field, index)
                                                 : reflection->GetUInt64(message, field)));
            break;
        case FieldDescriptor::CPPTYPE_DOUBLE:
            value = RealToJson(repeated ? reflection->GetRepeatedDouble(message, field, index)
                                        : reflection->GetDouble(message, field));
            break;
        case FieldDescriptor::CPPTYPE_FLOAT:
            value =
                RealToJson(static_cast<double>(repeated ? reflection->GetRepeatedFloat(message, field, index)
                                                        : reflection->GetFloat(message, field)));
            break;
        case FieldDescriptor::CPPTYPE_BOOL:
            value = json_boolean(repeated ? reflection->GetRepeatedBool(message, field, index)
                                          : reflection->GetBool(message, field));
            break;
        case FieldDescriptor::CPPTYPE_ENUM:
            value = json_integer(repeated ? reflection->GetRepeatedEnumValue(message, field, index)
                                          : reflection->GetEnumValue(message, field));
            break;
        case FieldDescriptor::CPPTYPE_STRING:
            value = StringToJson(message, reflection, field, index);
            break;
        case FieldDescriptor::CPPTYPE_MESSAGE:
            value = message_to_json_value(repeated ? reflection->GetRepeatedMessage(message, field, index)
                                                   : reflection->GetMessage(message, field));
            break;
    }
    if (value == nullptr) {
        throw j2pb_error(field, kFailToConvert);
    }
    return value;
}

json_t* message_to_json_value(const Message& message) {
    const Descriptor* descriptor = message.GetDescriptor();
    const Reflection* reflection = message.GetReflection();
    if (descriptor == nullptr || reflection == nullptr) {
        return nullptr;
    }
    JsonRef root(json_object());
    if (root.get() == nullptr) {
        throw j2pb_error(descriptor->name() + ": " + kFailToConvert);
    }
    std::vector<const FieldDescriptor*> fields;
    reflection->ListFields(message, &fields);
    for (const FieldDescriptor* field : fields) {
        json_t* value = nullptr;
        if (field->is_repeated()) {
            const int count = reflection->FieldSize(message, field);
            if (count == 0) {
                continue;
            }
            JsonRef array(json_array());
            if (array.get() == nullptr) {
                throw j2pb_error(field, kFailToConvert);
            }
            for (int i = 0; i < count; ++i) {
                if (json_array_append_new(array.get(), field_to_json(message, field, i)) != 0) {
                    throw j2pb_error(field, kFailToConvert);
                }
            }
            value = array.release();
        } else {
            if (!reflection->HasField(message, field) || JsonRecordWriter::IsZeroReal(message, field)) {
                continue;
            }
            value = field_to_json(message, field, 0);
        }
        const std::string& key = field->is_extension() ? field->full_name() : field->name();
        // json_object_set_new takes the value's reference even when it fails.
        if (json_object_set_new(root.get(), key.c_str(), value) != 0) {
            throw j2pb_error(field, kFailToConvert);
        }
    }
    return root.release();
}

std::string message_to_json(const Message& message) {
    std::string text;
    JsonRef root(message_to_json_value(message));
    if (root.get() != nullptr) {
        json_dump_callback(root.get(), DumpToString, &text, 0);
    }
    return text;
}

}  // namespace com::mivo::kmr::client
