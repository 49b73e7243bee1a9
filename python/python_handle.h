#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "client/message_handle.h"
#include "python/notify.h"
#include "python/record_delivery.h"

namespace com::mivo::kmr::client {

// The library's callback handler on the Python path: renders messages as
// JSON and forwards every callback to the registered Notify (not owned).
// Market data is written on the callback thread that received it and
// reaches Python through a RecordDelivery, in batches per take of the
// interpreter lock; the other callbacks are forwarded on the library thread
// that made them. Failures inside a callback (a message without a JSON form,
// a Python method that raised) are logged and contained here, so the library
// thread goes on with its next record.
class PythonHandle : public MessageHandle {
public:
    PythonHandle();
    ~PythonHandle() override = default;
    PythonHandle(const PythonHandle&) = delete;
    PythonHandle& operator=(const PythonHandle&) = delete;

    // How market data reaches the Notify on the delivery thread, with the
    // interpreter lock held. The module installs a direct call into Python;
    // without one (the C++ tests) the Notify's virtual OnMarketData.
    using DirectCall = void (*)(Notify* notify, char* data, int length);
    static void UseDirectCall(DirectCall call) { s_direct_call.store(call); }

    // Null stops forwarding. Returns once no callback still runs on the
    // previous Notify (except one on the calling thread), so the caller may
    // free it; callbacks never wait for a registration.
    void SetNotify(Notify* notify);
    Notify* GetNotify() const { return m_notify.load(); }

    // Drops the market data waiting for Python and refuses more until
    // ResumeDelivery, so that a client being torn down never waits for a
    // slow Python handler.
    void StopDelivery() { m_delivery.Stop(); }
    void ResumeDelivery() { m_delivery.Resume(); }
    // Returns once the market data received so far reached Python (or was
    // dropped).
    void WaitDelivered() { m_delivery.WaitDelivered(); }
    // Whether the caller is this handler's delivery thread (inside OnMarketData).
    bool OnDeliveryThread() const { return m_delivery.OnDeliveryThread(); }

    void OnSubscribeResponse(const com::mivo::zel::model::SubscribeResponse& response) override;
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
    using TextOperation = void (Notify::*)(void*, int);
    class Reader;

    // Calls the operation on the registered Notify, if any, containing failures.
    template <typename Call>
    void Forward(const char* name, Call&& call);

    // The message's JSON, or "" (logged) when it has none.
    static std::string ToJson(const google::protobuf::Message& message, const char* failure_line);
    // On the delivery thread.
    void DeliverMarketData(std::string& text);

    // Converts, copies into a fresh buffer and calls the operation with it.
    void ForwardMessage(const google::protobuf::Message& message, const char* failure_line,
                        TextOperation operation, const char* name);

    static inline std::atomic<DirectCall> s_direct_call{nullptr};

    std::atomic<Notify*> m_notify{nullptr};
    // Callbacks in flight per registration epoch (parity): SetNotify moves to
    // the next epoch and waits for the previous one to drain.
    std::atomic<unsigned> m_epoch{0};
    std::atomic<int> m_readers[2] = {};
    std::mutex m_set_mutex;
    // Last: its thread ends before the members it uses go.
    RecordDelivery m_delivery;
};

}  // namespace com::mivo::kmr::client
