#pragma once

#include <string>

#include "SysLogin.pb.h"
#include "sim/sim_server.h"

namespace com::mivo::kmr::client {

// A discovery server: one login per connection, answered with a fresh token and the node table, or refused
// with errorContext.message. The connection stays open until the client closes it.
class SimDiscoveryServer : public SimServer {
public:
    SimDiscoveryServer(std::string name, SimEndpoint endpoint, SimContext* context);
    ~SimDiscoveryServer() override;

    // Why a discovery login request is refused, or "" when it is acceptable (the refusal fault aside).
    static std::string CheckLogin(const com::mivo::zel::model::LoginRequest& request,
                                  const SimContext& context);

protected:
    void OnFrame(SimConnection& connection, const SimFrame& frame) override;
    int IdleTimeoutMs() const override;

private:
    void Refuse(SimConnection& connection, const std::string& trace_id, const std::string& message);
};

}  // namespace com::mivo::kmr::client
