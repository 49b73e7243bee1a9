#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "python/module_bridge.h"

namespace com::mivo::kmr::client {
namespace {

// python_fini_env called from OnMarketData: the delivery thread returns from
// the callback into the handler being torn down, which must still be there.
TEST(ModuleBridge, FiniFromInsideAMarketDataCallback) {
    PythonHandle* bridge = ModuleBridge::Ensure();
    std::atomic<bool> destroyed{false};
    struct Finishing : Notify {
        std::function<void()> body;
        void OnMarketData(void*, int) override { body(); }
    } notify;
    notify.body = [&] {
        ModuleBridge::Destroy();
        destroyed = true;
    };
    bridge->SetNotify(&notify);
    com::mivo::zel::model::MarketData record;
    record.mutable_mdstock()->set_lastpx(1.0);
    bridge->OnMarketData(record);
    while (!destroyed) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the thread leaves its loop
    EXPECT_EQ(ModuleBridge::Get(), nullptr);

    // A new bridge works as before.
    ModuleBridge::Ensure();
    ModuleBridge::Destroy();
}

}  // namespace
}  // namespace com::mivo::kmr::client
