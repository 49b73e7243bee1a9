// Feeds arbitrary bytes as a market data record (or, by the first byte, a
// subscribe or login answer) to the JSON writer and to the jansson converter
// it must match: both give the same text, or both refuse the same field.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <google/protobuf/stubs/logging.h>

#include "MarketData.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"
#include "python/json_record_writer.h"
#include "python/reference/message_to_json.h"

using namespace com::mivo::kmr::client;
using namespace com::mivo::zel::model;

namespace {

// The text, or "!" and the error of the field that has no JSON form.
template <typename Convert>
std::string Outcome(Convert&& convert) {
    try {
        return convert();
    } catch (const j2pb_error& e) {
        return std::string("!") + e.what();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // protobuf reports malformed UTF-8 on stderr; that is expected input here.
    google::protobuf::SetLogHandler(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    MarketData record;
    SubscribeResponse subscribe;
    LoginResponse login;
    google::protobuf::Message* message = &record;
    if (data[0] == 's') {
        message = &subscribe;
    } else if (data[0] == 'l') {
        message = &login;
    }
    if (!message->ParseFromArray(data + 1, static_cast<int>(size - 1))) {
        return 0;
    }
    const std::string reference = Outcome([&] { return message_to_json(*message); });
    const std::string written = Outcome([&] { return JsonRecordWriter::Write(*message); });
    if (reference != written) {
        std::abort();
    }
    return 0;
}
