#include "sim/sim_request_text.h"

#include <google/protobuf/util/json_util.h>

#include <memory>

#include "SysLogin.pb.h"

namespace com::mivo::kmr::client {

std::string SimRequestText::Redacted(const google::protobuf::Message& message) {
    std::string json;
    if (auto* login = dynamic_cast<const com::mivo::zel::model::LoginRequest*>(&message)) {
        if (login->has_uwp() && !login->uwp().password().empty()) {
            com::mivo::zel::model::LoginRequest copy = *login;
            copy.mutable_uwp()->set_password("***");
            google::protobuf::util::MessageToJsonString(copy, &json);
            return json;
        }
    }
    google::protobuf::util::MessageToJsonString(message, &json);
    return json;
}

}  // namespace com::mivo::kmr::client
