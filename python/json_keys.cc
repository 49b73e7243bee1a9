#include "python/json_keys.h"

#include <cstring>
#include <initializer_list>

namespace com::mivo::kmr::client {

namespace {

std::string FirstUnknown(json_t* object, std::initializer_list<const char*> known) {
    if (!json_is_object(object)) {
        return std::string();
    }
    const char* key;
    json_t* value;
    json_object_foreach(object, key, value) {
        bool found = false;
        for (const char* name : known) {
            found = found || std::strcmp(key, name) == 0;
        }
        if (!found) {
            return key;
        }
    }
    return std::string();
}

// The first unknown key of the object entries of a list, as "list[i].key".
std::string FirstUnknownInList(json_t* root, const char* list_key, std::initializer_list<const char*> known) {
    json_t* list = json_object_get(root, list_key);
    if (!json_is_array(list)) {
        return std::string();
    }
    size_t index;
    json_t* element;
    json_array_foreach(list, index, element) {
        std::string key = FirstUnknown(element, known);
        if (!key.empty()) {
            return std::string(list_key) + "[" + std::to_string(index) + "]." + key;
        }
    }
    return std::string();
}

}  // namespace

std::string JsonKeys::UnknownLoginKey(json_t* root) {
    std::string key = FirstUnknown(
        root, {"UserName", "Password", "MainServerIP", "MainServerPort", "Is_Ssl", "CertFolder",
               "Thread_Count", "BackServer", "QueryAddress", "QueryCert", "QuerySSL", "QueryMaxQuerySize"});
    return key.empty() ? FirstUnknownInList(root, "BackServer", {"IP", "Port"}) : key;
}

std::string JsonKeys::UnknownDataTypeKey(json_t* root) {
    return FirstUnknown(root, {"SubType", "ZelDataTypes"});
}

std::string JsonKeys::UnknownSecurityIdKey(json_t* root) {
    std::string key = FirstUnknown(root, {"SubType", "MIVOSecurityIDs"});
    return key.empty() ? FirstUnknownInList(root, "MIVOSecurityIDs", {"ZelDataType", "MIVOSecurityID"}) : key;
}

}  // namespace com::mivo::kmr::client
