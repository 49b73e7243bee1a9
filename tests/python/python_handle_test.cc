#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "python/python_handle.h"

namespace com::mivo::kmr::client {
namespace {

using namespace com::mivo::zel::model;

// Records what reaches the Notify; optionally throws from OnMarketData the
// way a director does when its Python method raised.
class RecordingNotify : public Notify {
public:
    void OnMarketData(void* data, int length) override {
        std::string text(static_cast<char*>(data), length);
        EXPECT_EQ(static_cast<char*>(data)[length], '\0');
        texts.push_back(text);
        if (throw_on_market_data) {
            throw std::runtime_error("SWIG director method error.");
        }
    }
    void OnSubscribeResponse(void* data, int length) override {
        responses.emplace_back(static_cast<char*>(data), length);
    }
    void OnLoginDiscoverySuccess(void* data, const std::vector<int>& site_types) override {
        server_ip = static_cast<char*>(data);
        sites = site_types;
    }
    void OnDisconnected(int site_type, void* data) override {
        disconnected = std::to_string(site_type) + "@" + static_cast<char*>(data);
    }
    void OnLoginDataServiceFailed() override { ++service_failures; }

    bool throw_on_market_data = false;
    std::vector<std::string> texts;
    std::vector<std::string> responses;
    std::string server_ip;
    std::vector<int> sites;
    std::string disconnected;
    int service_failures = 0;
};

MarketData Record(int64_t channel) {
    MarketData data;
    data.set_zelmessagechannel(channel);
    data.mutable_mdstock()->set_lastpx(1.25);
    return data;
}

TEST(PythonHandle, ForwardsMessagesAsJsonAndTextsAsCharacters) {
    PythonHandle handle;
    RecordingNotify notify;
    handle.SetNotify(&notify);

    handle.OnMarketData(Record(7));
    handle.WaitDelivered();
    ASSERT_EQ(notify.texts.size(), 1u);
    EXPECT_EQ(notify.texts[0], "{\"ZELMessageChannel\": 7, \"MDStock\": {\"LastPx\": 1.25}}");

    SubscribeResponse response;
    response.set_issuccess(true);
    handle.OnSubscribeResponse(response);
    EXPECT_EQ(notify.responses, std::vector<std::string>{"{\"isSuccess\": true}"});

    handle.OnLoginDiscoverySuccess("127.0.0.1", {1, 2});
    EXPECT_EQ(notify.server_ip, "127.0.0.1");
    EXPECT_EQ(notify.sites, (std::vector<int>{1, 2}));
    handle.OnDisconnected(2, "10.0.0.1:9552");
    EXPECT_EQ(notify.disconnected, "2@10.0.0.1:9552");
    handle.OnLoginDataServiceFailed();
    EXPECT_EQ(notify.service_failures, 1);
}

TEST(PythonHandle, NothingForwardedWithoutNotify) {
    PythonHandle handle;
    RecordingNotify notify;
    handle.OnMarketData(Record(1));
    handle.OnLoginDiscoverySuccess("127.0.0.1", {1});
    handle.SetNotify(&notify);
    handle.SetNotify(nullptr);
    handle.OnMarketData(Record(2));
    handle.OnLoginDataServiceFailed();
    handle.WaitDelivered();
    EXPECT_TRUE(notify.texts.empty());
    EXPECT_TRUE(notify.sites.empty());
    EXPECT_EQ(notify.service_failures, 0);
}

TEST(PythonHandle, FailuresAreContainedAndDeliveryGoesOn) {
    PythonHandle handle;
    RecordingNotify notify;
    handle.SetNotify(&notify);

    MarketData broken = Record(3);
    broken.mutable_mdstock()->set_symbol("\xff");
    EXPECT_NO_THROW(handle.OnMarketData(broken));  // no JSON form: dropped
    EXPECT_TRUE(notify.texts.empty());
    MarketData unusual = Record(3);
    unusual.mutable_mdstock()->set_lastpx(std::nan(""));
    handle.OnMarketData(unusual);  // delivered, NaN as a text
    handle.WaitDelivered();
    ASSERT_EQ(notify.texts.size(), 1u);
    EXPECT_EQ(notify.texts[0], "{\"ZELMessageChannel\": 3, \"MDStock\": {\"LastPx\": \"NaN\"}}");
    notify.texts.clear();

    notify.throw_on_market_data = true;
    EXPECT_NO_THROW(handle.OnMarketData(Record(4)));
    EXPECT_NO_THROW(handle.OnMarketData(Record(5)));
    handle.WaitDelivered();
    ASSERT_EQ(notify.texts.size(), 2u);
    EXPECT_NE(notify.texts[1].find("\"ZELMessageChannel\": 5"), std::string::npos);
}

TEST(PythonHandle, RegistrationSwapsUnderConcurrentDelivery) {
    PythonHandle handle;
    struct CountingNotify : Notify {
        void OnMarketData(void*, int) override {
            std::lock_guard<std::mutex> lock(mutex);
            ++count;
        }
        std::mutex mutex;
        int count = 0;
    } first, second;
    handle.SetNotify(&first);
    std::thread deliver([&] {
        for (int i = 0; i < 2000; ++i) {
            handle.OnMarketData(Record(i));
        }
    });
    for (int i = 0; i < 200; ++i) {
        handle.SetNotify(i % 2 ? &first : &second);
    }
    deliver.join();
    handle.WaitDelivered();
    EXPECT_EQ(first.count + second.count, 2000);
}

// The module frees a replaced Notify as soon as the registration returns, so
// the registration must outlast every callback still running on it.
TEST(PythonHandle, RegistrationWaitsForCallbacksOnThePreviousNotify) {
    PythonHandle handle;
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool release = false;
    std::vector<std::string> order;
    struct Blocking : Notify {
        std::function<void()> body;
        void OnMarketData(void*, int) override { body(); }
    } blocking;
    blocking.body = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        order.push_back("callback returned");
    };
    handle.SetNotify(&blocking);
    std::thread deliver([&] { handle.OnMarketData(Record(1)); });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return entered; });
    }
    std::thread replace([&] {
        handle.SetNotify(nullptr);
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back("registration returned");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
        changed.notify_all();
    }
    deliver.join();
    replace.join();
    EXPECT_EQ(order, (std::vector<std::string>{"callback returned", "registration returned"}));

    // A Notify may register another from inside its own callback.
    RecordingNotify next;
    blocking.body = [&] { handle.SetNotify(&next); };
    handle.SetNotify(&blocking);
    handle.OnMarketData(Record(2));
    handle.OnMarketData(Record(3));
    handle.WaitDelivered();
    ASSERT_EQ(next.texts.size(), 1u);
}

}  // namespace
}  // namespace com::mivo::kmr::client
