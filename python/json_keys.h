#pragma once

#include <jansson.h>

#include <string>

namespace com::mivo::kmr::client {

// The keys each parameter text may hold. A key outside them is almost always
// a typing error ("Is_SSL" for "Is_Ssl") whose value would be silently
// ignored, so the calls refuse the text and name the key.
class JsonKeys {
public:
    // The first unknown key of a login text (also inside "BackServer"
    // entries, as "BackServer[1].Host"); empty when every key is known or
    // the text is not an object.
    static std::string UnknownLoginKey(json_t* root);
    // The same for {"SubType", "ZelDataTypes"}.
    static std::string UnknownDataTypeKey(json_t* root);
    // The same for {"SubType", "MIVOSecurityIDs": [{"ZelDataType",
    // "MIVOSecurityID"}]}.
    static std::string UnknownSecurityIdKey(json_t* root);

private:
    JsonKeys() = delete;
};

}  // namespace com::mivo::kmr::client
