#include "python/python_handle.h"

#include <chrono>
#include <exception>
#include <thread>

#include "common/base_log.h"
#include "common/host_call.h"
#include "pipeline/site_flow.h"
#include "python/json_record_writer.h"

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

// Callbacks this thread is inside of, per epoch parity, so that a Notify
// method may register another Notify without waiting for itself.
thread_local int t_inside[2] = {0, 0};

}  // namespace

// Counts one callback in the epoch that is current after the count was taken.
class PythonHandle::Reader {
public:
    explicit Reader(PythonHandle& handle) : m_handle(handle) {
        for (;;) {
            const unsigned epoch = handle.m_epoch.load();
            m_parity = epoch & 1;
            handle.m_readers[m_parity].fetch_add(1);
            if (handle.m_epoch.load() == epoch) {
                break;
            }
            handle.m_readers[m_parity].fetch_sub(1);
        }
        ++t_inside[m_parity];
        m_notify = handle.m_notify.load();
    }
    ~Reader() {
        --t_inside[m_parity];
        m_handle.m_readers[m_parity].fetch_sub(1);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    Notify* notify() const { return m_notify; }

private:
    PythonHandle& m_handle;
    unsigned m_parity = 0;
    Notify* m_notify = nullptr;
};

PythonHandle::PythonHandle() : m_delivery([this](std::string& text) { DeliverMarketData(text); }) {}

void PythonHandle::SetNotify(Notify* notify) {
    std::lock_guard<std::mutex> lock(m_set_mutex);
    m_notify.store(notify);
    const unsigned previous = m_epoch.fetch_add(1) & 1;
    while (m_readers[previous].load() > t_inside[previous]) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

template <typename Call>
void PythonHandle::Forward(const char* name, Call&& call) {
    Reader reader(*this);
    // Also on the delivery thread, which the library does not mark.
    HostCall host_call;
    if (reader.notify() != nullptr) {
        Contained(name, [&] { call(reader.notify()); });
    }
}

std::string PythonHandle::ToJson(const google::protobuf::Message& message, const char* failure_line) {
    // Sized after this thread's previous text, so that a record is written
    // into one allocation instead of a string grown by doubling.
    thread_local size_t t_size_hint = 1024;
    std::string text;
    text.reserve(t_size_hint);
    try {
        JsonRecordWriter::Append(message, &text);
    } catch (const j2pb_error& e) {
        ErrorPrint("%s %s", failure_line, e.what());
        return std::string();
    }
    if (text.empty()) {
        ErrorPrint("%s", failure_line);
    }
    t_size_hint = text.size() + text.size() / 4 + 64;
    return text;
}

void PythonHandle::ForwardMessage(const google::protobuf::Message& message, const char* failure_line,
                                  TextOperation operation, const char* name) {
    std::string text = ToJson(message, failure_line);
    if (text.empty() || GetNotify() == nullptr) {
        return;
    }
    // Python may write through the pointer (memmove): the text is this
    // call's own, NUL-terminated, valid for the duration of the call only.
    Forward(name, [&](Notify* notify) { (notify->*operation)(text.data(), static_cast<int>(text.size())); });
}

void PythonHandle::DeliverMarketData(std::string& text) {
    const DirectCall direct = s_direct_call.load(std::memory_order_relaxed);
    Forward("OnMarketData", [&](Notify* notify) {
        if (direct != nullptr) {
            direct(notify, text.data(), static_cast<int>(text.size()));
        } else {
            notify->OnMarketData(text.data(), static_cast<int>(text.size()));
        }
    });
}

void PythonHandle::OnSubscribeResponse(const com::mivo::zel::model::SubscribeResponse& response) {
    ForwardMessage(response, kResponseFailed, &Notify::OnSubscribeResponse, "OnSubscribeResponse");
}

void PythonHandle::OnMarketData(const com::mivo::zel::model::MarketData& data) {
    if (GetNotify() == nullptr) {
        return;  // nobody to write it for
    }
    std::string text = ToJson(data, kMarketDataFailed);
    if (!text.empty()) {
        // Counted in the site's budget while it waits for Python.
        m_delivery.Put(std::move(text), SiteFlow::Delivering());
    }
}

void PythonHandle::OnLoginDiscoveryResponse(const com::mivo::zel::model::LoginResponse& response) {
    ForwardMessage(response, kResponseFailed, &Notify::OnLoginDiscoveryResponse, "OnLoginDiscoveryResponse");
}

void PythonHandle::OnLoginDataServiceResponse(const com::mivo::zel::model::LoginResponse& response) {
    ForwardMessage(response, kResponseFailed, &Notify::OnLoginDataServiceResponse,
                   "OnLoginDataServiceResponse");
}

void PythonHandle::OnLoginDiscoverySuccess(const std::string& server_ip, std::vector<int> site_types) {
    Forward("OnLoginDiscoverySuccess", [&](Notify* notify) {
        notify->OnLoginDiscoverySuccess(const_cast<char*>(server_ip.c_str()), site_types);
    });
}

void PythonHandle::OnLoginDiscoveryFailed(const std::string& server_ip) {
    Forward("OnLoginDiscoveryFailed",
            [&](Notify* notify) { notify->OnLoginDiscoveryFailed(const_cast<char*>(server_ip.c_str())); });
}

void PythonHandle::OnNoDiscoveryServices() {
    Forward("OnNoDiscoveryServices", [&](Notify* notify) { notify->OnNoDiscoveryServices(); });
}

void PythonHandle::OnLoginDatafeedNodeSuccess(int site_type, const std::string& node) {
    Forward("OnLoginDatafeedNodeSuccess", [&](Notify* notify) {
        notify->OnLoginDatafeedNodeSuccess(site_type, const_cast<char*>(node.c_str()));
    });
}

void PythonHandle::OnLoginDatafeedNodeFailed(int site_type, const std::string& node) {
    Forward("OnLoginDatafeedNodeFailed", [&](Notify* notify) {
        notify->OnLoginDatafeedNodeFailed(site_type, const_cast<char*>(node.c_str()));
    });
}

void PythonHandle::OnLoginDataServiceSuccess() {
    Forward("OnLoginDataServiceSuccess", [&](Notify* notify) { notify->OnLoginDataServiceSuccess(); });
}

void PythonHandle::OnLoginDataServiceFailed() {
    Forward("OnLoginDataServiceFailed", [&](Notify* notify) { notify->OnLoginDataServiceFailed(); });
}

void PythonHandle::OnDisconnected(int site_type, const std::string& node) {
    Forward("OnDisconnected",
            [&](Notify* notify) { notify->OnDisconnected(site_type, const_cast<char*>(node.c_str())); });
}

}  // namespace com::mivo::kmr::client
