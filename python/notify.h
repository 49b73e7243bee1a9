#pragma once

#include <vector>

// The callback class a Python program subclasses and registers with
// Notify_Regist. Every body does nothing; the module's director turns each
// call into a call of the Python method of the same name. Texts arrive as
// pointers valid only during the call (read them with cdata), messages as
// JSON text and its length.
class Notify {
public:
    virtual ~Notify() {}

    virtual void OnMarketData(void* data, int length) {
        (void)data;
        (void)length;
    }
    virtual void OnBridgeData(void* data, int length) {
        (void)data;
        (void)length;
    }
    virtual void OnSubscribeResponse(void* data, int length) {
        (void)data;
        (void)length;
    }
    virtual void OnGeneralError(void* data, int length) {
        (void)data;
        (void)length;
    }
    virtual void OnLoginDiscoverySuccess(void* data, const std::vector<int>& site_types) {
        (void)data;
        (void)site_types;
    }
    virtual void OnLoginDiscoveryFailed(void* data) { (void)data; }
    virtual void OnLoginDiscoveryResponse(void* data, int length) {
        (void)data;
        (void)length;
    }
    virtual void OnNoDiscoveryServices() {}
    virtual void OnLoginDatafeedNodeSuccess(int site_type, void* data) {
        (void)site_type;
        (void)data;
    }
    virtual void OnLoginDatafeedNodeFailed(int site_type, void* data) {
        (void)site_type;
        (void)data;
    }
    virtual void OnLoginDataServiceSuccess() {}
    virtual void OnLoginDataServiceFailed() {}
    virtual void OnLoginDataServiceResponse(void* data, int length) {
        (void)data;
        (void)length;
    }
    virtual void OnDisconnected(int site_type, void* data) {
        (void)site_type;
        (void)data;
    }
    virtual void OnQueryResponse(int query_type, void* data) {
        (void)query_type;
        (void)data;
    }
    virtual void OnFinInfoQueryResponse(void* data, int length) {
        (void)data;
        (void)length;
    }
};
