#include "python/message_to_json.h"

#include <vector>

#include "python/json_ref.h"

namespace com::mivo::kmr::client {

namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

const char* const kFailToConvert = "Fail to convert to json";

// Protobuf 3.12 left a proto3 float or double holding -0.0 out of ListFields
// like 0.0; later releases compare bit patterns and list it. Readers of the
// text rely on the older rule, so -0.0 is skipped here explicitly.
bool IsZeroReal(const Message& message, const Reflection* reflection, const FieldDescriptor* field) {
    if (field->has_presence()) {
        return false;
    }
    switch (field->cpp_type()) {
        case FieldDescriptor::CPPTYPE_DOUBLE:
            return reflection->GetDouble(message, field) == 0.0;
        case FieldDescriptor::CPPTYPE_FLOAT:
            return reflection->GetFloat(message, field) == 0.0f;
        default:
            return false;
    }
}

// json_string takes a NUL-terminated text, which cuts it at its first NUL.
json_t* StringToJson(const Message& message, const Reflection* reflection, const FieldDescriptor* field,
                     int index) {
    std::string scratch;
    const std::string& value = field->is_repeated()
                                   ? reflection->GetRepeatedStringReference(message, field, index, &scratch)
                                   : reflection->GetStringReference(message, field, &scratch);
    if (field->type() == FieldDescriptor::TYPE_BYTES) {
        return json_string(encode_base64(value).c_str());
    }
    return json_string(value.c_str());
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
            value = json_real(repeated ? reflection->GetRepeatedDouble(message, field, index)
                                       : reflection->GetDouble(message, field));
            break;
        case FieldDescriptor::CPPTYPE_FLOAT:
            value =
                json_real(static_cast<double>(repeated ? reflection->GetRepeatedFloat(message, field, index)
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
            if (!reflection->HasField(message, field) || IsZeroReal(message, reflection, field)) {
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

std::string encode_base64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t triple = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        text += kAlphabet[(triple >> 18) & 0x3F];
        text += kAlphabet[(triple >> 12) & 0x3F];
        text += kAlphabet[(triple >> 6) & 0x3F];
        text += kAlphabet[triple & 0x3F];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t triple = data[i] << 16;
        if (rest == 2) {
            triple |= data[i + 1] << 8;
        }
        text += kAlphabet[(triple >> 18) & 0x3F];
        text += kAlphabet[(triple >> 12) & 0x3F];
        text += rest == 2 ? kAlphabet[(triple >> 6) & 0x3F] : '=';
        text += '=';
    }
    return text;
}

}  // namespace com::mivo::kmr::client
