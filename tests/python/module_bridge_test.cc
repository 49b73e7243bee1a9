#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "python/interruptible_call.h"
#include "python/module_bridge.h"
#include "python/python_module.h"

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

// Teardown from the other callbacks, forwarded on the thread the library
// called them on: the handler the thread returns into is still there, and a
// logout inside a blocking call's callback does not wait for that call.
struct Tearing : Notify {
    std::function<void()> body;
    std::atomic<int> calls{0};
    void OnLoginDataServiceSuccess() override {
        ++calls;
        body();
    }
    void OnDisconnected(int, void*) override { ++calls; }
};

TEST(ModuleBridge, FiniFromInsideALoginCallback) {
    PythonHandle* bridge = ModuleBridge::Ensure();
    Tearing notify;
    notify.body = [] { python_fini_env(); };
    bridge->SetNotify(&notify);
    std::thread library([bridge] { bridge->OnLoginDataServiceSuccess(); });
    library.join();
    EXPECT_EQ(notify.calls.load(), 1);
    EXPECT_EQ(ModuleBridge::Get(), nullptr);
    python_fini_env();  // waits for the handler left behind
}

TEST(ModuleBridge, LogoutFromACallbackInsideABlockingCall) {
    PythonHandle* bridge = ModuleBridge::Ensure();
    Tearing notify;
    std::atomic<bool> returned{false};
    notify.body = [&] {
        python_logout();
        returned = true;
    };
    bridge->SetNotify(&notify);
    auto call = std::async(std::launch::async, [bridge] {
        return InterruptibleCall::Run([bridge] {
            bridge->OnLoginDataServiceSuccess();
            return 0;
        });
    });
    ASSERT_EQ(call.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(returned);
    bridge->SetNotify(nullptr);
    python_fini_env();
}

}  // namespace
}  // namespace com::mivo::kmr::client
