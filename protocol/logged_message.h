#pragma once

#include <string>

#include <google/protobuf/message.h>

#include "SysLogin.pb.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Messages as they may appear in a log line: JSON, with every secret masked.
class ZEL_API LoggedMessage {
public:
    // Empty text when the message cannot be written as JSON.
    static std::string Json(const google::protobuf::Message& message);
    // The session token shows as the mask; the message's other fields as they are.
    static std::string LoginResponseJson(const com::mivo::zel::model::LoginResponse& response);
};

}  // namespace com::mivo::kmr::client
