#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MarketData.pb.h"
#include "MetaData.pb.h"
#include "SysLogin.pb.h"
#include "SysSubscribe.pb.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// The host's callbacks. Every body does nothing; override what you need.
// Callbacks arrive concurrently from several library threads, and the
// references they receive are valid only during the call.
class ZEL_API MessageHandle {
public:
    virtual ~MessageHandle() {}

    virtual void OnSubscribeResponse(const com::mivo::zel::model::SubscribeResponse& response) {
        (void)response;
    }
    // Reserved: the library never fires it.
    virtual void OnBridgeData(const com::mivo::zel::model::MetaData& meta, const char* data,
                              uint64_t length) {
        (void)meta;
        (void)data;
        (void)length;
    }
    virtual void OnMarketData(const com::mivo::zel::model::MarketData& data) { (void)data; }
    virtual void OnLoginDiscoverySuccess(const std::string& server_ip, std::vector<int> site_types) {
        (void)server_ip;
        (void)site_types;
    }
    virtual void OnLoginDiscoveryFailed(const std::string& server_ip) { (void)server_ip; }
    virtual void OnLoginDiscoveryResponse(const com::mivo::zel::model::LoginResponse& response) {
        (void)response;
    }
    virtual void OnNoDiscoveryServices() {}
    virtual void OnLoginDatafeedNodeSuccess(int site_type, const std::string& node) {
        (void)site_type;
        (void)node;
    }
    virtual void OnLoginDatafeedNodeFailed(int site_type, const std::string& node) {
        (void)site_type;
        (void)node;
    }
    virtual void OnLoginDataServiceSuccess() {}
    virtual void OnLoginDataServiceFailed() {}
    virtual void OnLoginDataServiceResponse(const com::mivo::zel::model::LoginResponse& response) {
        (void)response;
    }
    virtual void OnDisconnected(int site_type, const std::string& node) {
        (void)site_type;
        (void)node;
    }

    void ProcessMessage() {}
};

}  // namespace com::mivo::kmr::client
