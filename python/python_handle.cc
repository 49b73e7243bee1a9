#include "python/python_handle.h"

#include <cstring>
#include <exception>
#include <memory>

#include "common/base_log.h"
#include "python/message_to_json.h"

namespace com::mivo::kmr::client {

namespace {

const char* const kMarketDataFailed = "MarketData change jasson failed!";
const char* const kResponseFailed = "MDSubscribeResponse change jasson  failed!!";

// A Python method that raised reaches us as a director exception (its
// traceback was printed under the interpreter lock before it was thrown).
// Neither it nor anything else may end the library thread.
template <typename Call>
void Contained(const char* name, Call&& call) {
    try {
        call();
    } catch (const std::exception& e) {
        ErrorPrint("python callback %s failed: %s", name, e.what());
    } catch (...) {
        ErrorPrint("python callback %s failed", name);
    }
}

}  // namespace

void PythonHandle::ForwardMessage(const google::protobuf::Message& message, const char* failure_line,
                                  TextOperation operation, const char* name) {
    std::string text;
    try {
        text = message_to_json(message);
    } catch (const j2pb_error& e) {
        ErrorPrint("%s %s", failure_line, e.what());
        return;
    }
    if (text.empty()) {
        ErrorPrint("%s", failure_line);
        return;
    }
    Notify* notify = GetNotify();
    if (notify == nullptr) {
        return;
    }
    // Python may write through the pointer (memmove), so it gets its own
    // buffer, valid for the duration of the call only.
    std::unique_ptr<char[]> buffer(new char[text.size() + 1]());
    std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
    Contained(name, [&] { (notify->*operation)(buffer.get(), static_cast<int>(text.size())); });
}

void PythonHandle::OnSubscribeResponse(const com::mivo::zel::model::SubscribeResponse& response) {
    ForwardMessage(response, kResponseFailed, &Notify::OnSubscribeResponse, "OnSubscribeResponse");
}

void PythonHandle::OnMarketData(const com::mivo::zel::model::MarketData& data) {
    ForwardMessage(data, kMarketDataFailed, &Notify::OnMarketData, "OnMarketData");
}

void PythonHandle::OnLoginDiscoveryResponse(const com::mivo::zel::model::LoginResponse& response) {
    ForwardMessage(response, kResponseFailed, &Notify::OnLoginDiscoveryResponse, "OnLoginDiscoveryResponse");
}

void PythonHandle::OnLoginDataServiceResponse(const com::mivo::zel::model::LoginResponse& response) {
    ForwardMessage(response, kResponseFailed, &Notify::OnLoginDataServiceResponse,
                   "OnLoginDataServiceResponse");
}

void PythonHandle::OnLoginDiscoverySuccess(const std::string& server_ip, std::vector<int> site_types) {
    if (Notify* notify = GetNotify()) {
        Contained("OnLoginDiscoverySuccess",
                  [&] { notify->OnLoginDiscoverySuccess(const_cast<char*>(server_ip.c_str()), site_types); });
    }
}

void PythonHandle::OnLoginDiscoveryFailed(const std::string& server_ip) {
    if (Notify* notify = GetNotify()) {
        Contained("OnLoginDiscoveryFailed",
                  [&] { notify->OnLoginDiscoveryFailed(const_cast<char*>(server_ip.c_str())); });
    }
}

void PythonHandle::OnNoDiscoveryServices() {
    if (Notify* notify = GetNotify()) {
        Contained("OnNoDiscoveryServices", [&] { notify->OnNoDiscoveryServices(); });
    }
}

void PythonHandle::OnLoginDatafeedNodeSuccess(int site_type, const std::string& node) {
    if (Notify* notify = GetNotify()) {
        Contained("OnLoginDatafeedNodeSuccess",
                  [&] { notify->OnLoginDatafeedNodeSuccess(site_type, const_cast<char*>(node.c_str())); });
    }
}

void PythonHandle::OnLoginDatafeedNodeFailed(int site_type, const std::string& node) {
    if (Notify* notify = GetNotify()) {
        Contained("OnLoginDatafeedNodeFailed",
                  [&] { notify->OnLoginDatafeedNodeFailed(site_type, const_cast<char*>(node.c_str())); });
    }
}

void PythonHandle::OnLoginDataServiceSuccess() {
    if (Notify* notify = GetNotify()) {
        Contained("OnLoginDataServiceSuccess", [&] { notify->OnLoginDataServiceSuccess(); });
    }
}

void PythonHandle::OnLoginDataServiceFailed() {
    if (Notify* notify = GetNotify()) {
        Contained("OnLoginDataServiceFailed", [&] { notify->OnLoginDataServiceFailed(); });
    }
}

void PythonHandle::OnDisconnected(int site_type, const std::string& node) {
    if (Notify* notify = GetNotify()) {
        Contained("OnDisconnected",
                  [&] { notify->OnDisconnected(site_type, const_cast<char*>(node.c_str())); });
    }
}

}  // namespace com::mivo::kmr::client
