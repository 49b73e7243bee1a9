#include "python/module_bridge.h"

#include <mutex>

#include "client/client_factory.h"

namespace com::mivo::kmr::client {

namespace {

std::mutex s_bridge_mutex;
PythonHandle* s_bridge = nullptr;
bool s_client_alive = false;
// A bridge destroyed from its own delivery thread, deleted at the next
// Ensure or Destroy called elsewhere (its destructor waits for that thread).
PythonHandle* s_left_behind = nullptr;

void DeleteLeftBehind() {
    if (s_left_behind != nullptr && !s_left_behind->OnDeliveryThread()) {
        delete s_left_behind;
        s_left_behind = nullptr;
    }
}

}  // namespace

PythonHandle* ModuleBridge::Ensure() {
    std::lock_guard<std::mutex> lock(s_bridge_mutex);
    DeleteLeftBehind();
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
    DeleteLeftBehind();
    PythonHandle* bridge = s_bridge;
    s_bridge = nullptr;
    if (bridge != nullptr && bridge->OnDeliveryThread()) {
        // Called from a market data callback: its thread goes on inside this
        // handler when the call returns, so the handler stays allocated.
        s_left_behind = bridge;
        return;
    }
    delete bridge;
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
