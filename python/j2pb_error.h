#pragma once

#include <exception>
#include <string>

#include <google/protobuf/descriptor.h>

namespace com::mivo::kmr::client {

// The one exception of the JSON conversion: a field whose value has no JSON
// form (NaN, infinity, text that is not UTF-8, memory exhausted). The text is
// the field's name, ": ", and the reason.
class j2pb_error : public std::exception {
public:
    explicit j2pb_error(const std::string& error) : m_error(error) {}
    j2pb_error(const google::protobuf::FieldDescriptor* field, const std::string& reason)
        : m_error(field->name() + ": " + reason) {}

    const char* what() const noexcept override { return m_error.c_str(); }

private:
    std::string m_error;
};

}  // namespace com::mivo::kmr::client
