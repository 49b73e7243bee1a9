#pragma once

#include <string>

#include <google/protobuf/message.h>
#include <jansson.h>

#include "python/j2pb_error.h"

namespace com::mivo::kmr::client {

// Renders any message of the schema as one line of JSON by building a
// jansson tree through reflection: the definition of the text Python
// callbacks receive, kept as the reference that JsonRecordWriter (which
// delivers it) is checked and measured against. Members in ascending field
// number, keyed by the declared field name, enums as numbers, uint64 as its
// signed bit pattern, text cut at its first NUL, bytes as base64, NaN and
// infinities as the texts "NaN", "Infinity", "-Infinity". Fields holding
// their default value are left out.
// Throws j2pb_error when a field value has no JSON form (text that is not
// UTF-8); a message without descriptor or reflection gives "".
std::string message_to_json(const google::protobuf::Message& message);

// The JSON object of the message (caller owns one reference), or null when
// the message has no descriptor or reflection. Throws j2pb_error.
json_t* message_to_json_value(const google::protobuf::Message& message);

// The value of a singular field, or element `index` of a repeated one (new
// reference). Throws j2pb_error.
json_t* field_to_json(const google::protobuf::Message& message,
                      const google::protobuf::FieldDescriptor* field, int index);

}  // namespace com::mivo::kmr::client
