#include "protocol/logged_message.h"

#include <google/protobuf/util/json_util.h>

#include "protocol/service_contract.h"

namespace com::mivo::kmr::client {

std::string LoggedMessage::Json(const google::protobuf::Message& message) {
    std::string json;
    if (!google::protobuf::util::MessageToJsonString(message, &json).ok()) {
        json.clear();
    }
    return json;
}

std::string LoggedMessage::LoginResponseJson(const com::mivo::zel::model::LoginResponse& response) {
    if (response.token().empty()) {
        return Json(response);
    }
    com::mivo::zel::model::LoginResponse shown(response);
    shown.set_token(ServiceContract::MASKED_SECRET);
    return Json(shown);
}

}  // namespace com::mivo::kmr::client
