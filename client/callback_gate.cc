#include "client/callback_gate.h"

#include <utility>

#include "common/host_call.h"

namespace com::mivo::kmr::client {

namespace {

// The gates this thread is inside of, innermost first (a callback may make a
// call that calls back).
struct Entry {
    const CallbackGate* gate;
    const Entry* outer;
};
thread_local const Entry* t_entries = nullptr;

int InsideOnThisThread(const CallbackGate* gate) {
    int n = 0;
    for (const Entry* entry = t_entries; entry != nullptr; entry = entry->outer) {
        n += entry->gate == gate ? 1 : 0;
    }
    return n;
}

}  // namespace

class CallbackGate::Pass {
public:
    explicit Pass(CallbackGate& gate) : m_gate(gate), m_entry{&gate, t_entries} {
        std::lock_guard<std::mutex> lock(gate.m_mutex);
        m_open = !gate.m_closed;
        if (m_open) {
            ++gate.m_inside;
            t_entries = &m_entry;
        }
    }
    ~Pass() {
        if (!m_open) {
            return;
        }
        t_entries = m_entry.outer;
        std::lock_guard<std::mutex> lock(m_gate.m_mutex);
        --m_gate.m_inside;
        m_gate.m_idle_cv.notify_all();
    }
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

    bool Open() const { return m_open; }

private:
    CallbackGate& m_gate;
    Entry m_entry;
    bool m_open = false;
};

bool CallbackGate::Close(std::chrono::milliseconds limit) {
    const int own = InsideOnThisThread(this);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_closed = true;
    return m_idle_cv.wait_for(lock, limit, [this, own] { return m_inside <= own; });
}

template <typename Call>
void CallbackGate::Forward(Call&& call) {
    Pass pass(*this);
    if (pass.Open() && m_target != nullptr) {
        HostCall host_call;
        call(m_target);
    }
}

void CallbackGate::OnSubscribeResponse(const com::mivo::zel::model::SubscribeResponse& response) {
    Forward([&](MessageHandle* handle) { handle->OnSubscribeResponse(response); });
}

void CallbackGate::OnBridgeData(const com::mivo::zel::model::MetaData& meta, const char* data,
                                uint64_t length) {
    Forward([&](MessageHandle* handle) { handle->OnBridgeData(meta, data, length); });
}

void CallbackGate::OnMarketData(const com::mivo::zel::model::MarketData& data) {
    Forward([&](MessageHandle* handle) { handle->OnMarketData(data); });
}

void CallbackGate::OnLoginDiscoverySuccess(const std::string& server_ip, std::vector<int> site_types) {
    Forward(
        [&](MessageHandle* handle) { handle->OnLoginDiscoverySuccess(server_ip, std::move(site_types)); });
}

void CallbackGate::OnLoginDiscoveryFailed(const std::string& server_ip) {
    Forward([&](MessageHandle* handle) { handle->OnLoginDiscoveryFailed(server_ip); });
}

void CallbackGate::OnLoginDiscoveryResponse(const com::mivo::zel::model::LoginResponse& response) {
    Forward([&](MessageHandle* handle) { handle->OnLoginDiscoveryResponse(response); });
}

void CallbackGate::OnNoDiscoveryServices() {
    Forward([&](MessageHandle* handle) { handle->OnNoDiscoveryServices(); });
}

void CallbackGate::OnLoginDatafeedNodeSuccess(int site_type, const std::string& node) {
    Forward([&](MessageHandle* handle) { handle->OnLoginDatafeedNodeSuccess(site_type, node); });
}

void CallbackGate::OnLoginDatafeedNodeFailed(int site_type, const std::string& node) {
    Forward([&](MessageHandle* handle) { handle->OnLoginDatafeedNodeFailed(site_type, node); });
}

void CallbackGate::OnLoginDataServiceSuccess() {
    Forward([&](MessageHandle* handle) { handle->OnLoginDataServiceSuccess(); });
}

void CallbackGate::OnLoginDataServiceFailed() {
    Forward([&](MessageHandle* handle) { handle->OnLoginDataServiceFailed(); });
}

void CallbackGate::OnLoginDataServiceResponse(const com::mivo::zel::model::LoginResponse& response) {
    Forward([&](MessageHandle* handle) { handle->OnLoginDataServiceResponse(response); });
}

void CallbackGate::OnDisconnected(int site_type, const std::string& node) {
    Forward([&](MessageHandle* handle) { handle->OnDisconnected(site_type, node); });
}

}  // namespace com::mivo::kmr::client
