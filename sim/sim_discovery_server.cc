#include "sim/sim_discovery_server.h"

#include <cstdio>

#include "common/standard_lib_kits.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/service_contract.h"
#include "sim/sim_account_book.h"
#include "sim/sim_request_text.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::LoginRequest;
using com::mivo::zel::model::LoginResponse;

SimDiscoveryServer::SimDiscoveryServer(std::string name, SimEndpoint endpoint, SimContext* context)
    : SimServer(std::move(name), std::move(endpoint), context) {}

SimDiscoveryServer::~SimDiscoveryServer() {
    Stop();
}

int SimDiscoveryServer::IdleTimeoutMs() const {
    return Context().options.discovery_idle_ms;
}

std::string SimDiscoveryServer::CheckLogin(const LoginRequest& request, const SimContext& context) {
    if (request.logintype() != com::mivo::zel::model::NUVEXIA_LOGIN_FOR_DISCOVERY) {
        return "wrong login type for discovery: " + std::to_string(request.logintype());
    }
    if (!request.has_uwp() || request.uwp().username().empty()) {
        return "user name and password required";
    }
    const std::string clear =
        StandardLibKits::GetInstance()->DecodeByAesEcbPkcs5padding(request.uwp().password());
    if (!context.accounts->CheckPassword(request.uwp().username(), clear)) {
        return "user name or password wrong";
    }
    const auto& link = request.linkinfo();
    if (link.processid().empty() || link.deviceip().empty() || link.devicemac().empty()) {
        return "link information incomplete";
    }
    return "";
}

void SimDiscoveryServer::OnFrame(SimConnection& connection, const SimFrame& frame) {
    if (frame.meta.sysmessagetype() != com::mivo::zel::model::LOGIN_REQUEST) {
        LogRequest(connection, frame, "not a login request; ignored");
        return;
    }
    LoginRequest request;
    if (NuvexiaMessage::DecodeRequestPayload(frame.payload, frame.payload_length, request) != 0) {
        LogRequest(connection, frame, "undecodable login request");
        Refuse(connection, frame.meta.traceid(), "login request not decodable");
        return;
    }
    LogRequest(connection, frame, SimRequestText::Redacted(request));
    if (Faults().refuse_login) {
        Refuse(connection, frame.meta.traceid(), "login refused by the service");
        return;
    }
    std::string refusal = CheckLogin(request, Context());
    if (!refusal.empty()) {
        Refuse(connection, frame.meta.traceid(), refusal);
        return;
    }
    const std::string& user = request.uwp().username();
    LoginResponse response;
    response.set_issuccess(true);
    response.set_token(Context().accounts->IssueToken(user));
    for (const SimNodeSpec& node : Context().node_table()) {
        auto* server = response.add_servers();
        server->set_ip(Context().options.advertised_ip.empty() ? node.endpoint.ip
                                                               : Context().options.advertised_ip);
        server->set_port(node.endpoint.port);
        server->set_ippriority(node.priority);
        server->set_sitetype(node.site_type);
        server->set_sitename(node.name);
        server->set_isssl(node.endpoint.tls);
    }
    response.mutable_accountinfo()->set_username(user);
    if (response.ByteSizeLong() > static_cast<size_t>(ServiceContract::MAX_DISCOVERY_RESPONSE_BODY)) {
        std::fprintf(stderr, "%s: login response body of %zu bytes exceeds what clients read\n",
                     Name().c_str(), response.ByteSizeLong());
    }
    Counters().logins_accepted++;
    SendResponse(connection, com::mivo::zel::model::LOGIN_RESPONSE, frame.meta.traceid(), response);
}

void SimDiscoveryServer::Refuse(SimConnection& connection, const std::string& trace_id,
                                const std::string& message) {
    LoginResponse response;
    response.set_issuccess(false);
    response.mutable_errorcontext()->set_errorcode(401);
    response.mutable_errorcontext()->set_message(message);
    Counters().logins_refused++;
    SendResponse(connection, com::mivo::zel::model::LOGIN_RESPONSE, trace_id, response);
}

}  // namespace com::mivo::kmr::client
