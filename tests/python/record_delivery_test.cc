#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pipeline/site_flow.h"
#include "python/record_delivery.h"

namespace com::mivo::kmr::client {
namespace {

// Counts the takes of the lock and checks that every delivery runs under it.
class CountingLock : public InterpreterLock {
public:
    bool Acquire() override {
        held = true;
        ++acquired;
        return true;
    }
    void Release() override { held = false; }

    std::atomic<bool> held{false};
    std::atomic<int> acquired{0};
};

class RecordDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override { RecordDelivery::UseInterpreterLock(&m_lock); }
    void TearDown() override { RecordDelivery::UseInterpreterLock(nullptr); }

    CountingLock m_lock;
};

// "channel:sequence"
std::string Text(int channel, int sequence) {
    return std::to_string(channel) + ":" + std::to_string(sequence);
}

TEST_F(RecordDeliveryTest, EveryThreadsOrderKeptAndBatchesShareOneLockTake) {
    std::mutex mutex;
    std::map<int, std::vector<int>> sequences;
    bool outside_lock = false;
    int handled = 0;
    RecordDelivery delivery(
        [&](std::string& text) {
            if (!m_lock.held) {
                outside_lock = true;
            }
            EXPECT_EQ(text.c_str()[text.size()], '\0');
            std::lock_guard<std::mutex> lock(mutex);
            const size_t colon = text.find(':');
            sequences[std::stoi(text.substr(0, colon))].push_back(std::stoi(text.substr(colon + 1)));
            // A handler slower than the producers now and then, so that
            // texts pile up.
            if (++handled % 256 == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        },
        1 << 20, 64);
    constexpr int kThreads = 4;
    constexpr int kChannelsPerThread = 3;
    constexpr int kPerChannel = 2000;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kPerChannel; ++i) {
                for (int c = 0; c < kChannelsPerThread; ++c) {
                    delivery.Put(Text(t * kChannelsPerThread + c, i));
                }
            }
        });
    }
    for (auto& producer : producers) {
        producer.join();
    }
    delivery.WaitDelivered();
    EXPECT_FALSE(outside_lock);
    ASSERT_EQ(sequences.size(), static_cast<size_t>(kThreads * kChannelsPerThread));
    for (const auto& [channel, sequence] : sequences) {
        ASSERT_EQ(sequence.size(), static_cast<size_t>(kPerChannel)) << channel;
        for (int i = 0; i < kPerChannel; ++i) {
            ASSERT_EQ(sequence[i], i) << "channel " << channel;
        }
    }
    // Texts that were ready together went in one take of the lock.
    EXPECT_LT(m_lock.acquired.load(), kThreads * kChannelsPerThread * kPerChannel / 4);
}

// A stalled handler: the producer waits once its lane holds the bound, and
// nothing is dropped when the handler moves again.
TEST_F(RecordDeliveryTest, FullLaneHoldsTheProducerBackWithoutDropping) {
    std::mutex mutex;
    std::condition_variable changed;
    bool stalled = true;
    std::vector<std::string> got;
    RecordDelivery delivery(
        [&](std::string& text) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return !stalled; });
            got.push_back(text);
        },
        10 * 100, 4);
    std::atomic<int> put{0};
    std::thread producer([&] {
        for (int i = 0; i < 50; ++i) {
            delivery.Put(std::string(99, 'a') + static_cast<char>('0' + i % 10));
            ++put;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(put.load(), 10);  // 10 texts of 100 bytes fill the lane
    {
        std::lock_guard<std::mutex> lock(mutex);
        stalled = false;
        changed.notify_all();
    }
    producer.join();
    delivery.WaitDelivered();
    ASSERT_EQ(got.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(got[i].back(), '0' + i % 10);
    }

    // A text larger than the bound still passes, alone.
    delivery.Put(std::string(5000, 'b'));
    delivery.WaitDelivered();
    EXPECT_EQ(got.back().size(), 5000u);
}

TEST_F(RecordDeliveryTest, StopDropsQueuedTextsAndFreesWaitingProducers) {
    std::mutex mutex;
    std::condition_variable changed;
    bool stalled = true;
    int delivered = 0;
    RecordDelivery delivery(
        [&](std::string&) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return !stalled; });
            ++delivered;
        },
        300, 1);
    std::thread producer([&] {
        for (int i = 0; i < 20; ++i) {
            delivery.Put(std::string(100, 'x'));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::thread stopper([&] { delivery.Stop(); });  // waits for the batch in hand
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard<std::mutex> lock(mutex);
        stalled = false;
        changed.notify_all();
    }
    stopper.join();
    producer.join();  // would hang if a waiting producer were not freed
    EXPECT_EQ(delivered, 1);
    delivery.Put("dropped while stopped");
    delivery.WaitDelivered();
    EXPECT_EQ(delivered, 1);

    delivery.Resume();
    delivery.Put("after resume");
    delivery.WaitDelivered();
    EXPECT_EQ(delivered, 2);
}

// A handler may stop the delivery it is called from (logout from a
// callback): the rest of its batch is dropped and nothing waits for itself.
TEST_F(RecordDeliveryTest, StopFromInsideACallback) {
    std::vector<std::string> got;
    RecordDelivery* self = nullptr;
    RecordDelivery delivery(
        [&](std::string& text) {
            got.push_back(text);
            if (text == "stop") {
                self->Stop();
            }
        },
        1 << 20, 16);
    self = &delivery;
    delivery.Put("stop");
    delivery.Put("late 1");
    delivery.Put("late 2");
    delivery.WaitDelivered();
    delivery.Resume();
    delivery.Put("again");
    delivery.WaitDelivered();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got.front(), "stop");
    EXPECT_EQ(got.back(), "again");
    EXPECT_LE(got.size(), 4u);
}

// Texts waiting for Python count in their site's budget: a handler that
// stalls takes the budget, the reader is then refused (and held back), and
// the bytes come back, waking the reader, once the texts were delivered;
// texts dropped by a stop give theirs back too.
TEST_F(RecordDeliveryTest, WaitingTextsCountInTheirSitesBudget) {
    auto flow = std::make_shared<SiteFlow>(1, 1000);
    std::atomic<int> wakes{0};
    flow->SetResumeHook([](void* context) { ++*static_cast<std::atomic<int>*>(context); }, &wakes);
    std::mutex mutex;
    std::condition_variable changed;
    bool stalled = true;
    int delivered = 0;
    RecordDelivery delivery(
        [&](std::string&) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return !stalled; });
            ++delivered;
        },
        RecordDelivery::kLaneBytes, 2);
    for (int i = 0; i < 6; ++i) {
        delivery.Put(std::string(200, 'x'), flow);
    }
    delivery.Put("no site");
    EXPECT_EQ(flow->HeldBytes(), 1200);
    EXPECT_FALSE(flow->MayAdmit());
    EXPECT_TRUE(flow->HoldBack());
    {
        std::lock_guard<std::mutex> lock(mutex);
        stalled = false;
        changed.notify_all();
    }
    delivery.WaitDelivered();
    EXPECT_EQ(delivered, 7);
    EXPECT_EQ(flow->HeldBytes(), 0);
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(flow->PeakHeldBytes(), 1200);

    {
        std::lock_guard<std::mutex> lock(mutex);
        stalled = true;
    }
    for (int i = 0; i < 5; ++i) {
        delivery.Put(std::string(100, 'y'), flow);
    }
    EXPECT_EQ(flow->HeldBytes(), 500);
    std::thread stopper([&] { delivery.Stop(); });  // waits for the batch in hand
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    {
        std::lock_guard<std::mutex> lock(mutex);
        stalled = false;
        changed.notify_all();
    }
    stopper.join();
    EXPECT_EQ(flow->HeldBytes(), 0);
    delivery.Put(std::string(100, 'z'), flow);  // refused while stopped
    EXPECT_EQ(flow->HeldBytes(), 0);
    flow->SetResumeHook(nullptr, nullptr);
}

// The callback thread names the site of the batch it delivers; a flow that
// no shared_ptr owns is never handed out.
TEST(SiteFlowDelivering, NamesTheSiteOfTheBatchInHand) {
    auto flow = std::make_shared<SiteFlow>(3, 1 << 20);
    PayloadBuffer* buffer = flow->Acquire(100);
    EXPECT_EQ(SiteFlow::Delivering(), nullptr);
    SiteFlow::SetDelivering(buffer);
    EXPECT_EQ(SiteFlow::Delivering(), flow);
    std::thread([] { EXPECT_EQ(SiteFlow::Delivering(), nullptr); }).join();
    SiteFlow::SetDelivering(nullptr);
    EXPECT_EQ(SiteFlow::Delivering(), nullptr);
    buffer->Unref();

    SiteFlow unowned(4, 1 << 20);
    PayloadBuffer* other = unowned.Acquire(100);
    SiteFlow::SetDelivering(other);
    EXPECT_EQ(SiteFlow::Delivering(), nullptr);
    SiteFlow::SetDelivering(nullptr);
    other->Unref();
}

}  // namespace
}  // namespace com::mivo::kmr::client
