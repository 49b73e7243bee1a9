// A discovery login response as the discovery reader takes it apart: header
// and meta checks, the body inside its length prefix, the response logged
// with its token masked, and the node table built from it. Properties: the
// table never exceeds its bounds and holds no port outside 1..65535.
#include <string>

#include "MetaData.pb.h"
#include "SysLogin.pb.h"
#include "client/discovery_client.h"
#include "fuzz/fuzz_kit.h"
#include "protocol/frame_cutter.h"
#include "protocol/logged_message.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"
#include "protocol/wire_order.h"

using namespace com::mivo::kmr::client;
namespace model = com::mivo::zel::model;

namespace {

void CheckTable(const DatafeedNodeMap& nodes) {
    ZEL_FUZZ_CHECK(nodes.size() <= DiscoveryClient::MAX_SITE_TYPES);
    for (const auto& site : nodes) {
        ZEL_FUZZ_CHECK(!site.second.empty());
        ZEL_FUZZ_CHECK(site.second.size() <= DiscoveryClient::MAX_NODES_PER_SITE);
        for (const auto& node : site.second) {
            ZEL_FUZZ_CHECK(node.second.GetServerPort() >= 1 && node.second.GetServerPort() <= 65535);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel_fuzz::QuietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DiscoveryClient* client = new DiscoveryClient(nullptr);

    // The discovery reader's own limits: a body of at most 1024 bytes.
    FrameCutter cutter(FrameCutter::Limits{
        ServiceContract::MAX_META_LENGTH,
        ServiceContract::PAYLOAD_PREFIX_LENGTH + ServiceContract::MAX_DISCOVERY_RESPONSE_BODY});
    cutter.Feed(reinterpret_cast<const char*>(data), size);
    FrameView frame;
    if (cutter.Take(frame) != FrameCutter::Result::FRAME || frame.meta_length == 0) {
        return 0;
    }
    model::MetaData meta;
    if (NuvexiaMessage::DecodeMsgMeatData(frame.meta, static_cast<int>(frame.meta_length), meta) != 0) {
        return 0;
    }
    (void)LoggedMessage::Json(meta);
    if (meta.sysmessagetype() != model::LOGIN_RESPONSE ||
        frame.payload_length < static_cast<size_t>(ServiceContract::PAYLOAD_PREFIX_LENGTH)) {
        return 0;
    }
    const int32_t body_length = WireOrder::ReadInt32(frame.payload);
    if (body_length < 0 ||
        static_cast<size_t>(body_length) > frame.payload_length - ServiceContract::PAYLOAD_PREFIX_LENGTH) {
        return 0;
    }
    model::LoginResponse response;
    if (NuvexiaMessage::DecodeMsgBody(frame.payload + ServiceContract::PAYLOAD_PREFIX_LENGTH, body_length,
                                      response) != 0) {
        return 0;
    }
    (void)LoggedMessage::LoginResponseJson(response);
    const DatafeedNodeMap before = client->GetDatafeedNodes();
    if (client->UpdateDatafeedNodes(&response.servers())) {
        CheckTable(client->GetDatafeedNodes());
    } else {
        // A refused table leaves the one in use as it was.
        ZEL_FUZZ_CHECK(client->GetDatafeedNodes().size() == before.size());
    }
    return 0;
}
