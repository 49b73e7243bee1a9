#pragma once

#include <jansson.h>

namespace com::mivo::kmr::client {

// Holds one reference to a JSON value and drops it on every way out.
class JsonRef {
public:
    explicit JsonRef(json_t* value = nullptr) : m_value(value) {}
    ~JsonRef() { json_decref(m_value); }
    JsonRef(const JsonRef&) = delete;
    JsonRef& operator=(const JsonRef&) = delete;

    json_t* get() const { return m_value; }
    json_t* release() {
        json_t* value = m_value;
        m_value = nullptr;
        return value;
    }

private:
    json_t* m_value;
};

}  // namespace com::mivo::kmr::client
