#include "python/module_bridge.h"

#include <mutex>

#include "client/client_factory.h"
#include "common/host_call.h"
#include "common/reaper.h"

namespace com::mivo::kmr::client {

namespace {

std::mutex s_bridge_mutex;
PythonHandle* s_bridge = nullptr;
bool s_client_alive = false;

}  // namespace

PythonHandle* ModuleBridge::Ensure() {
    std::lock_guard<std::mutex> lock(s_bridge_mutex);
    if (s_bridge == nullptr) {
        s_bridge = new PythonHandle();
    }
    return s_bridge;
}

PythonHandle* ModuleBridge::Get() {
    std::lock_guard<std::mutex> lock(s_bridge_mutex);
    return s_bridge;
}

void ModuleBridge::Destroy() {
    std::lock_guard<std::mutex> lock(s_bridge_mutex);
    if (s_bridge != nullptr) {
        // Callback threads waiting for room in the delivery return at once.
        s_bridge->StopDelivery();
    }
    if (s_client_alive) {
        // The client would go on calling a deleted handler.
        ClientFactory::Uninstance();
        s_client_alive = false;
    }
    PythonHandle* bridge = s_bridge;
    s_bridge = nullptr;
    if (bridge != nullptr && (bridge->OnDeliveryThread() || HostCall::Inside())) {
        // Called from one of its callbacks: the thread goes on inside this
        // handler when the call returns. The reaper deletes it after the
        // client (whose teardown it finishes first) and joins the delivery
        // thread once that callback is over.
        Reaper::Hand([bridge] {
            bridge->SetNotify(nullptr);  // waits for callbacks still inside
            delete bridge;
        });
        return;
    }
    delete bridge;
    Reaper::Drain();
}

void ModuleBridge::DestroyClient() {
    PythonHandle* bridge = Get();
    if (bridge != nullptr) {
        // The client's callback threads must not wait for a slow Python
        // handler to drain the records they queued before they can end.
        bridge->StopDelivery();
    }
    ClientFactory::Uninstance();
    ClientDestroyed();
    if (bridge != nullptr) {
        bridge->ResumeDelivery();
    }
}

void ModuleBridge::ClientCreated() {
    std::lock_guard<std::mutex> lock(s_bridge_mutex);
    s_client_alive = true;
}

void ModuleBridge::ClientDestroyed() {
    std::lock_guard<std::mutex> lock(s_bridge_mutex);
    s_client_alive = false;
}

}  // namespace com::mivo::kmr::client
