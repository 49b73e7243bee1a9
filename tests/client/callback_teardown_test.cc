// A client torn down from inside its own callbacks and from the log sink, on
// whichever thread the library called them, by the factory's Uninstance or by
// a host that made the client itself and deletes it: the call returns, no
// callback starts afterwards, and every thread of the client ends once the
// callback that asked for the teardown has returned.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "client/client_factory.h"
#include "client/nuvexia_tcp_client.h"
#include "client/session_fixture.h"
#include "common/reaper.h"
#include "support/thread_count.h"

namespace com::mivo::kmr::client {
namespace {

namespace model = com::mivo::zel::model;

enum class Kind {
    kMarketData,
    kDiscoverySuccess,
    kNodeSuccess,
    kNodeFailed,
    kDataServiceSuccess,
    kDataServiceFailed,
    kSubscribeResponse,
    kDisconnected,
};

// Tears the client down (Uninstance unless told otherwise) from the first
// callback of the chosen kind (after the chosen number of them), and counts
// every callback that starts after that call has returned.
class TearingHandle : public MessageHandle {
public:
    explicit TearingHandle(
        Kind kind, int skip = 0, std::function<void()> teardown = [] { ClientFactory::Uninstance(); })
        : m_kind(kind), m_skip(skip), m_teardown(std::move(teardown)) {}

    void OnMarketData(const model::MarketData& data) override {
        Seen(Kind::kMarketData);
        // The record stays readable for the rest of the callback.
        m_last_type = data.zelrecordtype();
    }
    void OnLoginDiscoverySuccess(const std::string&, std::vector<int>) override {
        Seen(Kind::kDiscoverySuccess);
    }
    void OnLoginDatafeedNodeSuccess(int, const std::string&) override { Seen(Kind::kNodeSuccess); }
    void OnLoginDatafeedNodeFailed(int, const std::string&) override { Seen(Kind::kNodeFailed); }
    void OnLoginDataServiceSuccess() override { Seen(Kind::kDataServiceSuccess); }
    void OnLoginDataServiceFailed() override { Seen(Kind::kDataServiceFailed); }
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
        m_teardown();
        took_ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        returned = true;
        // Still inside the callback: nothing of ours is gone yet.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    Kind m_kind;
    std::atomic<int> m_skip;
    std::function<void()> m_teardown;
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

// A log sink that tears the client down (Uninstance unless told otherwise) on
// the first line a library thread writes with the given text.
class TearingSink : public LogInterface {
public:
    explicit TearingSink(
        std::string text, std::function<void()> teardown = [] { ClientFactory::Uninstance(); })
        : m_text(std::move(text)), m_teardown(std::move(teardown)) {
        SetLogHandle(this);
    }
    ~TearingSink() override {
        // The teardown it asked for may still be writing lines to it.
        Reaper::Drain();
        SetLogHandle(nullptr);
    }

    void LogPrint(NuvexiaLogLevel, const char* message) override {
        if (std::this_thread::get_id() == m_host || std::string(message).find(m_text) == std::string::npos ||
            m_torn.exchange(true)) {
            return;
        }
        m_teardown();
        returned = true;
    }

    std::atomic<bool> returned{false};

private:
    std::string m_text;
    std::function<void()> m_teardown;
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

// The host made the client itself and deletes it inside the callback: the
// same promises as Uninstance, with nothing left behind for the factory.
class CallbackDeleteTest : public CallbackTeardownTest {
protected:
    void TearDown() override {
        delete m_own.exchange(nullptr);
        CallbackTeardownTest::TearDown();
    }

    ClientInterface* Make(MessageHandle* handle) {
        auto* client = new NuvexiaTcpClient(handle);
        m_own = client;
        return client;
    }

    std::function<void()> Deleter() {
        return [this] { delete m_own.exchange(nullptr); };
    }

    std::atomic<NuvexiaTcpClient*> m_own{nullptr};
};

// One callback kind on the thread the library calls it on, and how the host
// gets the session there.
struct DeleteCase {
    const char* name;
    Kind kind;
    int skip;
    // The node refuses the token login, so that the failure callbacks come.
    bool refuse_login;
    // Whether the login call must succeed (and the steps below follow), fail
    // (it learns of the delete or the refusal), or may do either.
    enum class Login { kOk, kFails, kEither } login;
    // Market data flows only once a subscribe is accepted, so the host's
    // call is inside the client before the delete can come; the answer may
    // have been taken before the delete, so either outcome is fine.
    bool subscribe;
    // The node goes down after the login: the disconnection, then the
    // daemon's reconnect.
    bool node_down;
};

class CallbackDeleteEachKindTest : public CallbackDeleteTest,
                                   public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(CallbackDeleteEachKindTest, ReturnsAndFinishesOnceTheCallbackReturns) {
    const DeleteCase& c = GetParam();
    StartCountedService();
    m_service->Node(0).Faults().refuse_login = c.refuse_login;
    TearingHandle handle(c.kind, c.skip, Deleter());
    ClientInterface* client = Make(&handle);
    const int login = LoginWith(client);
    if (c.login == DeleteCase::Login::kOk) {
        ASSERT_EQ(login, 0);
    } else if (c.login == DeleteCase::Login::kFails) {
        EXPECT_NE(login, 0);
    }
    // After the delete the host touches the client no more.
    if (c.subscribe) {
        (void)client->SubscribeByDatatype(model::COVERAGE, Types({3}));
    }
    if (c.node_down) {
        m_service->Node(0).Down();
    }
    ExpectTornDown(handle);
}

using Login = DeleteCase::Login;
INSTANTIATE_TEST_SUITE_P(
    Kinds, CallbackDeleteEachKindTest,
    ::testing::Values(DeleteCase{"MarketDataOnACallbackThread", Kind::kMarketData, 5, false, Login::kOk, true,
                                 false},
                      DeleteCase{"NodeSuccessOnTheConnectionThread", Kind::kNodeSuccess, 0, false,
                                 Login::kEither, false, false},
                      DeleteCase{"DataServiceSuccessInsideTheLoginCall", Kind::kDataServiceSuccess, 0, false,
                                 Login::kFails, false, false},
                      DeleteCase{"NodeRefusalOnTheConnectionThread", Kind::kNodeFailed, 0, true,
                                 Login::kFails, false, false},
                      DeleteCase{"DataServiceFailureInsideTheLoginCall", Kind::kDataServiceFailed, 0, true,
                                 Login::kFails, false, false},
                      DeleteCase{"SubscribeResponseInsideTheSubscribeCall", Kind::kSubscribeResponse, 0,
                                 false, Login::kOk, true, false},
                      DeleteCase{"DisconnectedOnTheConnectionThread", Kind::kDisconnected, 0, false,
                                 Login::kOk, false, true},
                      DeleteCase{"DiscoverySuccessOfAReconnectOnTheDaemonThread", Kind::kDiscoverySuccess, 1,
                                 false, Login::kOk, false, true}),
    [](const ::testing::TestParamInfo<DeleteCase>& param) { return std::string(param.param.name); });

TEST_F(CallbackDeleteTest, FromTheLogSinkOnALibraryThread) {
    StartCountedService();
    CountingHandle handle;
    TearingSink sink("Datafeed login response", Deleter());
    ClientInterface* client = Make(&handle);
    (void)LoginWith(client);
    ASSERT_TRUE(WaitUntil([&] { return sink.returned.load(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(WaitUntil([&] { return testing::ThreadCount() <= m_threads_before + m_service_threads; },
                          std::chrono::seconds(10)));
}

TEST_F(CallbackDeleteTest, AFreshClientWorksWhileTheDeletedOneFinishes) {
    StartCountedService();
    TearingHandle handle(Kind::kNodeSuccess, 0, Deleter());
    ClientInterface* client = Make(&handle);
    (void)LoginWith(client);
    ASSERT_TRUE(WaitUntil([&] { return handle.returned.load(); }, std::chrono::seconds(30)));
    CountingHandle fresh;
    ClientInterface* again = Make(&fresh);
    EXPECT_EQ(LoginWith(again), 0);
    // Deleted on the host: returns with every thread of both clients gone.
    delete m_own.exchange(nullptr);
    EXPECT_TRUE(WaitUntil([&] { return testing::ThreadCount() <= m_threads_before + m_service_threads; },
                          std::chrono::seconds(10)));
    EXPECT_EQ(handle.late.load(), 0);
}

}  // namespace
}  // namespace com::mivo::kmr::client
