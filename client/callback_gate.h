#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "client/message_handle.h"

namespace com::mivo::kmr::client {

// Stands between the library and the host's handler: forwards every callback
// (marked as a host call) until closed, and none afterwards. Closing waits for
// the callbacks running on other threads, so that the host may free its
// handler once a teardown has returned even if that teardown finishes later.
class CallbackGate : public MessageHandle {
public:
    explicit CallbackGate(MessageHandle* target) : m_target(target) {}
    ~CallbackGate() override = default;
    CallbackGate(const CallbackGate&) = delete;
    CallbackGate& operator=(const CallbackGate&) = delete;

    // No callback starts after this returns. Waits at most limit for those
    // running on other threads (one that waits for the caller would never
    // end); false if some were still running then. Callbacks the calling
    // thread is inside of are not waited for.
    bool Close(std::chrono::milliseconds limit);

    void OnSubscribeResponse(const com::mivo::zel::model::SubscribeResponse& response) override;
    void OnBridgeData(const com::mivo::zel::model::MetaData& meta, const char* data,
                      uint64_t length) override;
    void OnMarketData(const com::mivo::zel::model::MarketData& data) override;
    void OnLoginDiscoverySuccess(const std::string& server_ip, std::vector<int> site_types) override;
    void OnLoginDiscoveryFailed(const std::string& server_ip) override;
    void OnLoginDiscoveryResponse(const com::mivo::zel::model::LoginResponse& response) override;
    void OnNoDiscoveryServices() override;
    void OnLoginDatafeedNodeSuccess(int site_type, const std::string& node) override;
    void OnLoginDatafeedNodeFailed(int site_type, const std::string& node) override;
    void OnLoginDataServiceSuccess() override;
    void OnLoginDataServiceFailed() override;
    void OnLoginDataServiceResponse(const com::mivo::zel::model::LoginResponse& response) override;
    void OnDisconnected(int site_type, const std::string& node) override;

private:
    class Pass;

    // Runs the call on the handler unless the gate is closed.
    template <typename Call>
    void Forward(Call&& call);

    MessageHandle* m_target;
    std::mutex m_mutex;
    std::condition_variable m_idle_cv;
    bool m_closed = false;
    // Callbacks inside the handler, on every thread.
    int m_inside = 0;
};

}  // namespace com::mivo::kmr::client
