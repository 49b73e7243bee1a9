// The factory's client torn down from inside its own callbacks and from the
// log sink, on whichever thread the library called them: the call returns,
// no callback starts afterwards, and every thread of the client ends once the
// callback that asked for the teardown has returned.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "client/client_factory.h"
#include "client/session_fixture.h"
#include "support/thread_count.h"

namespace com::mivo::kmr::client {
namespace {

namespace model = com::mivo::zel::model;

enum class Kind {
    kMarketData,
    kDiscoverySuccess,
    kNodeSuccess,
    kDataServiceSuccess,
    kSubscribeResponse,
    kDisconnected,
};

// Calls Uninstance from the first callback of the chosen kind (after the
// chosen number of them), and counts every callback that starts after that
// call has returned.
class TearingHandle : public MessageHandle {
public:
    explicit TearingHandle(Kind kind, int skip = 0) : m_kind(kind), m_skip(skip) {}

    void OnMarketData(const model::MarketData& data) override {
        Seen(Kind::kMarketData);
        // The record stays readable for the rest of the callback.
        m_last_type = data.zelrecordtype();
    }
    void OnLoginDiscoverySuccess(const std::string&, std::vector<int>) override {
        Seen(Kind::kDiscoverySuccess);
    }
    void OnLoginDatafeedNodeSuccess(int, const std::string&) override { Seen(Kind::kNodeSuccess); }
    void OnLoginDataServiceSuccess() override { Seen(Kind::kDataServiceSuccess); }
    void OnSubscribeResponse(const model::SubscribeResponse&) override { Seen(Kind::kSubscribeResponse); }
    void OnDisconnected(int, const std::string&) override { Seen(Kind::kDisconnected); }

    std::atomic<bool> returned{false};
    std::atomic<int> late{0};
    std::atomic<int64_t> took_ms{-1};

private:
    void Seen(Kind kind) {
        if (returned) {
            ++late;
            return;
        }
        if (kind != m_kind || m_skip-- > 0 || m_torn.exchange(true)) {
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        ClientFactory::Uninstance();
        took_ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        returned = true;
        // Still inside the callback: nothing of ours is gone yet.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    Kind m_kind;
    std::atomic<int> m_skip;
    std::atomic<bool> m_torn{false};
    std::atomic<int> m_last_type{0};
};

class CallbackTeardownTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        m_threads_before = testing::ThreadCount();
    }
    void TearDown() override {
        ClientFactory::Uninstance();
        SessionTest::TearDown();
    }

    ClientInterface* Create(MessageHandle* handle) { return ClientFactory::Instance()->CreateClient(handle); }

    int LoginWith(ClientInterface* client) {
        return client->LoginByServiceDiscovery(kUser, kPassword, "127.0.0.1", m_service->Discovery(0).Port(),
                                               {});
    }

    // The teardown asked for inside a callback has finished: the call came
    // back within the teardown limit, nothing was called after it, and the
    // client's threads are gone.
    void ExpectTornDown(const TearingHandle& handle) {
        ASSERT_TRUE(WaitUntil([&] { return handle.returned.load(); }, std::chrono::seconds(30)));
        EXPECT_LT(handle.took_ms.load(), 5000);
        EXPECT_TRUE(WaitUntil([&] { return testing::ThreadCount() <= m_threads_before + m_service_threads; },
                              std::chrono::seconds(10)))
            << testing::ThreadCount() << " threads, " << m_threads_before + m_service_threads << " before";
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(handle.late.load(), 0);
        EXPECT_EQ(ClientFactory::GetStatistics().has_client, false);
    }

    void StartCountedService() {
        const int before = testing::ThreadCount();
        StartService();
        m_service_threads = testing::ThreadCount() - before;
    }

    int m_threads_before = 0;
    int m_service_threads = 0;
};

TEST_F(CallbackTeardownTest, FromMarketDataOnACallbackThread) {
    StartCountedService();
    TearingHandle handle(Kind::kMarketData, 5);
    ClientInterface* client = Create(&handle);
    ASSERT_EQ(LoginWith(client), 0);
    // The subscribe may meet the teardown: either outcome is fine.
    (void)client->SubscribeByDatatype(model::COVERAGE, Types({3}));
    ExpectTornDown(handle);
}

TEST_F(CallbackTeardownTest, FromDiscoverySuccessInsideTheLoginCall) {
    StartCountedService();
    TearingHandle handle(Kind::kDiscoverySuccess);
    ClientInterface* client = Create(&handle);
    EXPECT_NE(LoginWith(client), 0);
    ExpectTornDown(handle);
}

TEST_F(CallbackTeardownTest, FromNodeSuccessOnTheConnectionThread) {
    StartCountedService();
    TearingHandle handle(Kind::kNodeSuccess);
    ClientInterface* client = Create(&handle);
    (void)LoginWith(client);
    ExpectTornDown(handle);
}

TEST_F(CallbackTeardownTest, FromDataServiceSuccessInsideTheLoginCall) {
    StartCountedService();
    TearingHandle handle(Kind::kDataServiceSuccess);
    ClientInterface* client = Create(&handle);
    (void)LoginWith(client);
    ExpectTornDown(handle);
}

TEST_F(CallbackTeardownTest, FromSubscribeResponseInsideTheSubscribeCall) {
    StartCountedService();
    TearingHandle handle(Kind::kSubscribeResponse);
    ClientInterface* client = Create(&handle);
    ASSERT_EQ(LoginWith(client), 0);
    (void)client->SubscribeByDatatype(model::COVERAGE, Types({3}));
    ExpectTornDown(handle);
}

TEST_F(CallbackTeardownTest, FromDisconnectedOnTheConnectionThread) {
    StartCountedService();
    TearingHandle handle(Kind::kDisconnected);
    ClientInterface* client = Create(&handle);
    ASSERT_EQ(LoginWith(client), 0);
    m_service->Node(0).Down();
    ExpectTornDown(handle);
}

TEST_F(CallbackTeardownTest, FromDiscoverySuccessOfAReconnectOnTheDaemonThread) {
    StartCountedService();
    TearingHandle handle(Kind::kDiscoverySuccess, 1);
    ClientInterface* client = Create(&handle);
    ASSERT_EQ(LoginWith(client), 0);
    m_service->Node(0).Down();
    ExpectTornDown(handle);
}

// A log sink that tears the client down on the first line a library thread
// writes with the given text.
class TearingSink : public LogInterface {
public:
    explicit TearingSink(std::string text) : m_text(std::move(text)) { SetLogHandle(this); }
    ~TearingSink() override { SetLogHandle(nullptr); }

    void LogPrint(NuvexiaLogLevel, const char* message) override {
        if (std::this_thread::get_id() == m_host || std::string(message).find(m_text) == std::string::npos ||
            m_torn.exchange(true)) {
            return;
        }
        ClientFactory::Uninstance();
        returned = true;
    }

    std::atomic<bool> returned{false};

private:
    std::string m_text;
    std::thread::id m_host = std::this_thread::get_id();
    std::atomic<bool> m_torn{false};
};

TEST_F(CallbackTeardownTest, FromTheLogSinkOnALibraryThread) {
    StartCountedService();
    CountingHandle handle;
    TearingSink sink("Datafeed login response");
    ClientInterface* client = Create(&handle);
    (void)LoginWith(client);
    ASSERT_TRUE(WaitUntil([&] { return sink.returned.load(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(WaitUntil([&] { return testing::ThreadCount() <= m_threads_before + m_service_threads; },
                          std::chrono::seconds(10)));
    EXPECT_FALSE(ClientFactory::GetStatistics().has_client);
}

TEST_F(CallbackTeardownTest, AHostUninstanceWaitsForATeardownStillFinishing) {
    StartCountedService();
    TearingHandle handle(Kind::kNodeSuccess);
    ClientInterface* client = Create(&handle);
    (void)LoginWith(client);
    ASSERT_TRUE(WaitUntil([&] { return handle.returned.load(); }, std::chrono::seconds(30)));
    // Called on the host: returns once the earlier teardown is complete.
    ClientFactory::Uninstance();
    EXPECT_LE(testing::ThreadCount(), m_threads_before + m_service_threads);
    // And a fresh client works afterwards.
    CountingHandle fresh;
    ClientInterface* again = Create(&fresh);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(LoginWith(again), 0);
}

}  // namespace
}  // namespace com::mivo::kmr::client
