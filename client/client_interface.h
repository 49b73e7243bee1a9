#pragma once

#include <string>
#include <vector>

#include "SysSubscribe.pb.h"
#include "common/base_log.h"
#include "common/log_interface.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// The client a host program talks to; obtained from ClientFactory.
class ZEL_API ClientInterface {
public:
    virtual ~ClientInterface() {}

    // Logs in through the discovery service, then to every datafeed site.
    // Each backup entry is "ip:port"; a malformed one throws
    // std::invalid_argument or std::out_of_range before anything connects.
    virtual int LoginByServiceDiscovery(const std::string& user_name, const std::string& password,
                                        const std::string& main_ip, int main_port,
                                        std::vector<std::string> backup_servers) = 0;

    virtual int SubscribeByDatatype(com::mivo::zel::model::ESubscribeActionType action,
                                    com::mivo::zel::model::SubscribeByDataType request) = 0;

    virtual int SubscribeById(com::mivo::zel::model::ESubscribeActionType action,
                              com::mivo::zel::model::SubscribeById request) = 0;
};

}  // namespace com::mivo::kmr::client
