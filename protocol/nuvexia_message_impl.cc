#include "protocol/nuvexia_message_impl.h"

#include <climits>
#include <cstring>
#include <new>

#include <google/protobuf/util/json_util.h>

#include "common/base_log.h"
#include "common/multi_platform_kits.h"
#include "common/standard_lib_kits.h"
#include "protocol/service_contract.h"
#include "protocol/wire_order.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::ELoginType;
using com::mivo::zel::model::ESysMessageType;
using com::mivo::zel::model::LoginRequest;
using com::mivo::zel::model::MetaData;
using com::mivo::zel::model::SubscribeRequest;
using com::mivo::zel::model::SysHeartbeat;

const char NuvexiaMessage::SDK_VERSION[] = "cpp_4.0.0_2021/08/19";
const int16_t NuvexiaMessage::VER_VERSION = 20;
const int NuvexiaMessage::SDK_APP_TYPE = 0;
const int NuvexiaMessage::SDK_LOGIN_TYPE = 0;

namespace {

constexpr int8_t kClientFrameVersion = 1;
constexpr int8_t kClientProtocol = 1;
constexpr int16_t kClientFlags = 0x1000;
constexpr int kPrefixLength = 4;
constexpr int kFrameOverhead = MessageHeader::SIZE + kPrefixLength;
constexpr char kAppVersion[] = "1.0.0";
// Shown in log lines in place of passwords and tokens.

std::string ToJson(const google::protobuf::Message& message) {
    std::string json;
    if (!google::protobuf::util::MessageToJsonString(message, &json).ok()) {
        json.clear();
    }
    return json;
}

}  // namespace

void NuvexiaMessage::ReleaseBuffer(char*& buf) {
    delete[] buf;
    buf = nullptr;
}

int NuvexiaMessage::PrepareMsgHeader(const MessageHeader* header, char* out) {
    header->WriteTo(out);
    return MessageHeader::SIZE;
}

int NuvexiaMessage::PrepareMsgMeta(MetaData& meta, ESysMessageType type, int message_num,
                                   const std::string& trace_id) {
    StandardLibKits* kits = StandardLibKits::GetInstance();
    meta.set_traceid(trace_id);
    meta.set_sysmessagetype(type);
    meta.set_zelsysmessagenum(message_num);
    meta.set_sendtime(kits != nullptr ? kits->GetCurrentUnixTimestampNanos() : 0);
    return 0;
}

int NuvexiaMessage::AllocateFrame(const MetaData& meta, int16_t flags, size_t payload_size, char*& buf) {
    const size_t meta_size = meta.ByteSizeLong();
    // The header carries signed 32-bit lengths; anything larger cannot be framed.
    if (meta_size > static_cast<size_t>(INT_MAX - MessageHeader::SIZE)) {
        ErrorPrint("MetaData SerializeToArray failed!!!");
        return RESULT_META_NOT_SERIALISABLE;
    }
    if (payload_size > static_cast<size_t>(INT_MAX - MessageHeader::SIZE) - meta_size) {
        ErrorPrint("Body SerializeToArray failed!!!");
        return RESULT_BODY_NOT_SERIALISABLE;
    }
    const int n = static_cast<int>(meta_size);
    const int length = MessageHeader::SIZE + n + static_cast<int>(payload_size);

    const size_t size = static_cast<size_t>(length);
    buf = new (std::nothrow) char[size];
    if (buf == nullptr) {
        ErrorPrint("out of memory! %s[%d]", "protocol/nuvexia_message_impl.cc", __LINE__);
        return RESULT_FRAME_BUFFER_NOT_ALLOCATABLE;
    }
    std::memset(buf, 0, static_cast<size_t>(length));

    MessageHeader header;
    header.m_version = kClientFrameVersion;
    header.m_protocol = kClientProtocol;
    header.m_flags = flags;
    header.m_metaLength = n;
    header.m_payloadLength = static_cast<int32_t>(payload_size);
    PrepareMsgHeader(&header, buf);

    if (!meta.SerializeToArray(buf + MessageHeader::SIZE, n)) {
        ErrorPrint("MetaData SerializeToArray failed!!!");
        return RESULT_META_NOT_SERIALISABLE;
    }
    return length;
}

int NuvexiaMessage::Frame(const MetaData& meta, const google::protobuf::Message& body,
                          bool prefix_counts_itself, char*& buf) {
    const size_t body_size = body.ByteSizeLong();
    if (body_size > static_cast<size_t>(INT_MAX - kFrameOverhead)) {
        ErrorPrint("Body SerializeToArray failed!!!");
        return RESULT_BODY_NOT_SERIALISABLE;
    }
    const int b = static_cast<int>(body_size);
    const int length = AllocateFrame(meta, kClientFlags, body_size + kPrefixLength, buf);
    if (length < 0) {
        return length;
    }
    const int body_offset = length - b;
    WireOrder::WriteInt32(buf + body_offset - kPrefixLength, prefix_counts_itself ? b + kPrefixLength : b);
    // Only b bytes remain after the prefix; the serialiser is given exactly that room.
    if (!body.SerializeToArray(buf + body_offset, b)) {
        ErrorPrint("Body SerializeToArray failed!!!");
        return RESULT_BODY_NOT_SERIALISABLE;
    }
    return length;
}

int NuvexiaMessage::Encode(const MetaData* meta, const google::protobuf::Message* body, char*& buf) {
    ReleaseBuffer(buf);
    if (meta == nullptr || body == nullptr) {
        return RESULT_NULL_ARGUMENT;
    }
    return Frame(*meta, *body, true, buf);
}

int NuvexiaMessage::PrepareLoginRequest(char*& buf, ELoginType login_type, const std::string& server_ip,
                                        int server_port, const std::string& user_name,
                                        const std::string& secret, bool token_flag,
                                        const std::string& trace_id) {
    ReleaseBuffer(buf);

    MetaData meta;
    PrepareMsgMeta(meta, com::mivo::zel::model::LOGIN_REQUEST, 1, trace_id);
    InfoPrint("PrepareLoginRequest, meta: %s", ToJson(meta).c_str());

    LoginRequest request;
    request.set_apptype(0);
    request.set_appversion(kAppVersion);
    request.set_logintype(login_type);
    if (token_flag) {
        request.mutable_uwt()->set_username(user_name);
        request.mutable_uwt()->set_token(secret);
    } else {
        StandardLibKits* std_kits = StandardLibKits::GetInstance();
        if (std_kits == nullptr) {
            ErrorPrint("%s", "");
            return RESULT_BODY_NOT_SERIALISABLE;
        }
        const std::string cipher = std_kits->EncodeByAesEcbPkcs5padding(secret);
        // An empty cipher would log in with an empty password.
        if (cipher.empty()) {
            ErrorPrint("The password cannot be sent: %zu bytes, at most %zu", secret.size(),
                       StandardLibKits::MAX_CIPHER_TEXT_LENGTH);
            return CODE_BODY_NOT_SERIALISABLE;
        }
        request.mutable_uwp()->set_username(user_name);
        request.mutable_uwp()->set_password(cipher);
        // The round trip proves the cipher text usable; its clear text never
        // reaches a log, only whether it came back whole.
        const std::string clear = std_kits->DecodeByAesEcbPkcs5padding(cipher);
        InfoPrint("login beign, pw: %s", clear == secret ? ServiceContract::MASKED_SECRET : "");
    }

    MultiPlatformKits* kits = MultiPlatformKits::GetInstance();
    if (kits == nullptr) {
        ErrorPrint("%s", "");
        return RESULT_BODY_NOT_SERIALISABLE;
    }
    com::mivo::zel::model::LinkInfo* link = request.mutable_linkinfo();
    link->set_processid(std::to_string(kits->GetProcessId()));
    link->set_deviceip(kits->GetHostName());
    link->set_devicemac(kits->GetMac());
    request.set_serverip(server_ip);
    request.set_serverport(server_port);

    // Secrets are masked in a copy; the frame carries the real values.
    LoginRequest shown(request);
    if (shown.has_uwp() && !shown.uwp().password().empty()) {
        shown.mutable_uwp()->set_password(ServiceContract::MASKED_SECRET);
    }
    if (shown.has_uwt() && !shown.uwt().token().empty()) {
        shown.mutable_uwt()->set_token(ServiceContract::MASKED_SECRET);
    }
    InfoPrint("PrepareLoginRequest, login requset: %s", ToJson(shown).c_str());

    return Frame(meta, request, true, buf);
}

int NuvexiaMessage::PrepareHeartBeat(char*& buf, int traffic, int tps) {
    ReleaseBuffer(buf);
    MetaData meta;
    PrepareMsgMeta(meta, com::mivo::zel::model::HEARTBEAT_REQUEST, 1, std::string());
    SysHeartbeat heartbeat;
    heartbeat.set_trafficlog(traffic);
    heartbeat.set_tpslog(tps);
    return Frame(meta, heartbeat, true, buf);
}

int NuvexiaMessage::PrepareSubscribeRequest(char*& buf, const SubscribeRequest* request,
                                            const std::string& trace_id) {
    MetaData meta;
    PrepareMsgMeta(meta, com::mivo::zel::model::SUBSCRIBE_REQUEST, 1, trace_id);
    return Encode(&meta, request, buf);
}

int NuvexiaMessage::EncodeResponse(const MetaData* meta, const google::protobuf::Message* body, char*& buf) {
    ReleaseBuffer(buf);
    if (meta == nullptr || body == nullptr) {
        return RESULT_NULL_ARGUMENT;
    }
    return Frame(*meta, *body, false, buf);
}

int NuvexiaMessage::EncodeRawPayload(int16_t flags, const MetaData* meta, const char* payload,
                                     int payload_length, char*& buf) {
    ReleaseBuffer(buf);
    if (meta == nullptr || (payload == nullptr && payload_length != 0) || payload_length < 0) {
        return RESULT_NULL_ARGUMENT;
    }
    const int length = AllocateFrame(*meta, flags, static_cast<size_t>(payload_length), buf);
    if (length > 0 && payload_length > 0) {
        std::memcpy(buf + length - payload_length, payload, static_cast<size_t>(payload_length));
    }
    return length;
}

}  // namespace com::mivo::kmr::client
