#pragma once

#include <string>

#include <google/protobuf/message.h>

namespace com::mivo::kmr::client {

// Renders requests for the request log.
class SimRequestText {
public:
    // Protobuf JSON of the message, with any password field replaced by "***" so no secret reaches a log.
    static std::string Redacted(const google::protobuf::Message& message);
};

}  // namespace com::mivo::kmr::client
