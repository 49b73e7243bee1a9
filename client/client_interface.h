#pragma once

#include <string>
#include <vector>

#include "SysSubscribe.pb.h"
#include "common/base_log.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// A host program's log sink. Every message reaches it, whatever the
// console and file thresholds say; it may be called from any library thread.
class ZEL_API LogInterface {
public:
    virtual ~LogInterface() {}
    virtual void LogPrint(NuvexiaLogLevel level, const char* message) {
        (void)level;
        (void)message;
    }
};

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
