#pragma once

#include <string>

#include <google/protobuf/message.h>

#include "python/j2pb_error.h"

namespace com::mivo::kmr::client {

// Writes any message of the schema as the one line of JSON that Python
// callbacks receive, straight from reflection into a string: members in
// ascending field number keyed by the declared field name (extensions by
// full name), ", " and ": " as separators, enums as numbers, uint64 as its
// signed bit pattern, reals as "%.17g" with ".0" added to whole numbers and
// the exponent's sign and leading zeros dropped, text cut at its first NUL,
// bytes as base64. Fields holding their default value (a real -0.0
// included) are left out, as are empty repeated fields; a set message
// without members is {}. Reals JSON has no number for are written as the
// texts "NaN", "Infinity" and "-Infinity".
class JsonRecordWriter {
public:
    // Appends the message's JSON to *out. Throws j2pb_error naming the field
    // when a text is not UTF-8 (*out then holds a partial text). A message
    // without descriptor or reflection appends nothing.
    static void Append(const google::protobuf::Message& message, std::string* out);

    // The message's JSON. Throws j2pb_error.
    static std::string Write(const google::protobuf::Message& message);

    // Appends a real the way Append writes a real field.
    static void AppendReal(double value, std::string* out);

    // Protobuf 3.12 left a proto3 float or double holding -0.0 out of
    // ListFields like 0.0; later releases compare bit patterns and list it.
    // Readers of the text rely on the older rule: true for such a field.
    static bool IsZeroReal(const google::protobuf::Message& message,
                           const google::protobuf::FieldDescriptor* field);

    // RFC 4648 base64, padded, without line breaks.
    static std::string EncodeBase64(const std::string& bytes);

private:
    JsonRecordWriter() = delete;
};

}  // namespace com::mivo::kmr::client
