#include <string>

#include "client/client_factory.h"
#include "common/base_log.h"
#include "common/result_codes.h"
#include "python/json_keys.h"
#include "python/json_parameters.h"
#include "python/json_ref.h"
#include "python/module_bridge.h"

namespace com::mivo::kmr::client {

namespace {

using com::mivo::zel::model::ESubscribeActionType;

// Logs and parses the text; null when it is missing or not JSON.
json_t* ParseSubscribeText(const char* text) {
    DebugPrint("subscribe json:%s\r\n", text == nullptr ? "" : text);
    if (text == nullptr) {
        ErrorPrint("load subscribe json failed: %s", "no text given");
        return nullptr;
    }
    json_error_t error;
    json_t* root = json_loads(text, 0, &error);
    if (root == nullptr) {
        ErrorPrint("load subscribe json failed: %s", error.text);
    }
    return root;
}

// The process's client with the module bridge as its handler (created
// unlogged when there is none yet); null when none is obtainable.
ClientInterface* SubscribeClient() {
    PythonHandle* bridge = ModuleBridge::Ensure();
    if (bridge == nullptr) {
        ErrorPrint("msgHandler is nullptr...");
        return nullptr;
    }
    ClientInterface* client = ClientFactory::Instance()->CreateClient(bridge);
    if (client != nullptr) {
        ModuleBridge::ClientCreated();
    }
    return client;
}

ESubscribeActionType ReadAction(json_t* root) {
    json_t* sub_type = json_object_get(root, "SubType");
    if (!json_is_integer(sub_type)) {
        return com::mivo::zel::model::COVERAGE;
    }
    int action;
    switch (json_integer_value(sub_type)) {
        case 1:
            action = com::mivo::zel::model::COVERAGE;
            break;
        case 2:
            action = com::mivo::zel::model::ADD;
            break;
        case 3:
            action = com::mivo::zel::model::DECREASE;
            break;
        case 4:
            action = com::mivo::zel::model::CANCEL;
            break;
        default:
            action = static_cast<int>(json_integer_value(sub_type));
            break;
    }
    DebugPrint("subtype: %d \r\n", action);
    return static_cast<ESubscribeActionType>(action);
}

// The parts both subscribe texts share: the client, the action and the list.
struct SubscribeText {
    SubscribeText(const char* text, const char* list_key) : root(ParseSubscribeText(text)) {
        client = SubscribeClient();
        if (client == nullptr || root.get() == nullptr) {
            return;
        }
        if (!json_is_object(root.get())) {
            ErrorPrint("subscribe json is not an object");
            return;
        }
        action = ReadAction(root.get());
        list = json_object_get(root.get(), list_key);
        if (!json_is_array(list)) {
            ErrorPrint("subscribe json has no list \"%s\"", list_key);
            list = nullptr;
        }
    }

    // Refuses a text with a key it does not know; true when refused.
    bool RefuseUnknownKey(std::string (*find)(json_t*)) const {
        const std::string key = find(root.get());
        if (!key.empty()) {
            ErrorPrint("subscribe parameter non conformance: unknown key \"%s\"", key.c_str());
        }
        return !key.empty();
    }

    JsonRef root;
    ClientInterface* client = nullptr;
    ESubscribeActionType action = com::mivo::zel::model::COVERAGE;
    json_t* list = nullptr;  // null: nothing to send
};

}  // namespace

int subscribe_by_data_type_from_json(const char* text) {
    SubscribeText parsed(text, "ZelDataTypes");
    if (parsed.RefuseUnknownKey(JsonKeys::UnknownDataTypeKey)) {
        return RESULT_BAD_PARAMETERS;
    }
    if (parsed.client == nullptr) {
        return RESULT_PY_NO_CLIENT;
    }
    if (parsed.list == nullptr) {
        return RESULT_BAD_PARAMETERS;
    }
    com::mivo::zel::model::SubscribeByDataType request;
    size_t index;
    json_t* element;
    json_array_foreach(parsed.list, index, element) {
        if (json_is_integer(element)) {
            DebugPrint("ZelDataType: %d \r\n", static_cast<int>(json_integer_value(element)));
        }
        if (json_is_integer(element) && json_integer_value(element) != kMissingJsonValue) {
            request.add_zeldatatypes(static_cast<int>(json_integer_value(element)));
        } else {
            ErrorPrint("subscribe parameter non conformance");
        }
    }
    return parsed.client->SubscribeByDatatype(parsed.action, request);
}

int subscribe_by_security_id_from_json(const char* text) {
    SubscribeText parsed(text, "MIVOSecurityIDs");
    if (parsed.RefuseUnknownKey(JsonKeys::UnknownSecurityIdKey)) {
        return RESULT_BAD_PARAMETERS;
    }
    if (parsed.client == nullptr) {
        return RESULT_PY_NO_CLIENT;
    }
    if (parsed.list == nullptr) {
        return RESULT_BAD_PARAMETERS;
    }
    // Each send carries every detail accepted so far, not only the newest.
    com::mivo::zel::model::SubscribeById request;
    int result = 0;
    int sent = 0;
    size_t index;
    json_t* element;
    json_array_foreach(parsed.list, index, element) {
        json_t* data_type = json_object_get(element, "ZelDataType");
        if (!json_is_object(element) || !json_is_integer(data_type)) {
            ErrorPrint("details[%zu].zelDataType missing or not integer, skipped.\r\n", index);
            continue;
        }
        json_t* ids = json_object_get(element, "MIVOSecurityID");
        if (!json_is_array(ids)) {
            ErrorPrint("details[%zu].mivoSecurityId missing or not array, skipped.\r\n", index);
            continue;
        }
        com::mivo::zel::model::SubscribeByIdDetail* detail = request.add_subscribebyiddetails();
        detail->set_zeldatatype(static_cast<int>(json_integer_value(data_type)));
        size_t id_index;
        json_t* id;
        json_array_foreach(ids, id_index, id) {
            if (json_is_string(id)) {
                detail->add_mivosecurityid(json_string_value(id));
            }
        }
        result += parsed.client->SubscribeById(parsed.action, request);
        ++sent;
    }
    if (sent == 0) {
        ErrorPrint("subscribe json has no usable element in \"MIVOSecurityIDs\"");
        return RESULT_BAD_PARAMETERS;
    }
    return result;
}

}  // namespace com::mivo::kmr::client
