#pragma once

namespace com::mivo::kmr::client {

// The value marking a missing number in the JSON parameters (also offered to
// Python as EFFECTIVE_DATA).
constexpr int kMissingJsonValue = -999;

// Reads a login text ({"UserName", "Password", "MainServerIP",
// "MainServerPort", "Is_Ssl", "Thread_Count", "CertFolder", "BackServer":
// [{"IP", "Port"}], ...}), configures the library and logs in through the
// discovery service with the module's bridge as the callback handler.
// 0 on success; 1 when the parameters are incomplete or not usable (the client
// is then torn down); -1 when no client is obtainable; otherwise the negative
// login result (the client is torn down). A null text counts as unparsable.
int login_from_json(const char* text);

// {"SubType": 1..4, "ZelDataTypes": [int, ...]}. -1 without a client,
// RESULT_BAD_PARAMETERS (logged) when the text is not a JSON object or lacks
// the list, otherwise the subscribe result.
int subscribe_by_data_type_from_json(const char* text);

// {"SubType": 1..4, "MIVOSecurityIDs": [{"ZelDataType": int,
// "MIVOSecurityID": [text, ...]}, ...]}. Each accepted element sends the
// request accumulated so far; the result is the sum of those sends
// (-1 without a client; RESULT_BAD_PARAMETERS, logged, when the text is not a
// JSON object, lacks the list or no element of it is usable).
int subscribe_by_security_id_from_json(const char* text);

}  // namespace com::mivo::kmr::client
