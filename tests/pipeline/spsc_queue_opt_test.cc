#include "pipeline/spsc_queue_opt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "pipeline/raw_data.h"

namespace com::mivo::kmr::client {
namespace {

using BigQueue = SPSCQueueOpt<uint64_t, kRawDataQueueSize>;

TEST(SpscQueueOpt, NewQueueIsEmptyAndHandsOutZeroedSlots) {
    auto queue = std::make_unique<RawDataQueue>();
    EXPECT_EQ(queue->front(), nullptr);
    RawData* slot = queue->alloc();
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->m_payload, nullptr);
    EXPECT_EQ(slot->m_msg_num, 0);
    EXPECT_EQ(slot->m_flags, 0);
    // Reserved twice without push: the same slot, still invisible.
    EXPECT_EQ(queue->alloc(), slot);
    slot->m_msg_num = 7;
    EXPECT_EQ(queue->front(), nullptr);
    queue->push();
    ASSERT_NE(queue->front(), nullptr);
    EXPECT_EQ(queue->front()->m_msg_num, 7);
}

TEST(SpscQueueOpt, SlotLayoutKeepsFlagAndElementApart) {
    auto queue = std::make_unique<RawDataQueue>();
    RawData* first = queue->alloc();
    queue->push();
    RawData* second = queue->alloc();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(second) - reinterpret_cast<uintptr_t>(first), 128u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 128, 64u);
}

TEST(SpscQueueOpt, FillsToOneBelowCapacityThenRefuses) {
    auto queue = std::make_unique<BigQueue>();
    for (uint64_t i = 0; i < 524287; ++i) {
        uint64_t* slot = queue->alloc();
        ASSERT_NE(slot, nullptr) << "at " << i;
        *slot = i;
        queue->push();
    }
    EXPECT_EQ(queue->alloc(), nullptr);
    EXPECT_EQ(queue->alloc(), nullptr);  // a refused alloc changes nothing
    ASSERT_NE(queue->front(), nullptr);
    EXPECT_EQ(*queue->front(), 0u);
    queue->pop();
    uint64_t* slot = queue->alloc();
    ASSERT_NE(slot, nullptr);
    *slot = 524287;
    queue->push();
    EXPECT_EQ(queue->alloc(), nullptr);
    for (uint64_t i = 1; i <= 524287; ++i) {
        ASSERT_NE(queue->front(), nullptr);
        ASSERT_EQ(*queue->front(), i);
        queue->pop();
    }
    EXPECT_EQ(queue->front(), nullptr);
}

TEST(SpscQueueOpt, WrapsAroundInPushOrder) {
    SPSCQueueOpt<uint32_t, 8> queue;
    uint32_t next_in = 0, next_out = 0;
    // Uneven batches walk both indices across the end of the ring many times.
    for (int round = 0; round < 50; ++round) {
        int batch = 1 + round % 7;
        for (int i = 0; i < batch; ++i) {
            uint32_t* slot = queue.alloc();
            ASSERT_NE(slot, nullptr);
            *slot = next_in++;
            queue.push();
        }
        while (uint32_t* item = queue.front()) {
            ASSERT_EQ(*item, next_out++);
            queue.pop();
        }
    }
    EXPECT_EQ(next_in, next_out);
    EXPECT_GT(next_in, 8u * 10);
}

TEST(SpscQueueOpt, TwoThreadsPassTenMillionItemsInOrder) {
    constexpr uint64_t kItems = 10'000'000;
    auto queue = std::make_unique<SPSCQueueOpt<uint64_t, 1024>>();
    std::thread producer([&] {
        for (uint64_t i = 0; i < kItems; ++i) {
            uint64_t* slot;
            while ((slot = queue->alloc()) == nullptr) {
                std::this_thread::yield();
            }
            *slot = i;
            queue->push();
        }
    });
    uint64_t expected = 0;
    uint64_t out_of_order = 0;
    while (expected < kItems) {
        uint64_t* item = queue->front();
        if (item == nullptr) {
            std::this_thread::yield();
            continue;
        }
        if (*item != expected) {
            ++out_of_order;
        }
        ++expected;
        queue->pop();
    }
    producer.join();
    EXPECT_EQ(out_of_order, 0u);
    EXPECT_EQ(queue->front(), nullptr);
}

// A consumer that sleeps between bursts must be woken by the push that ends
// its wait, never miss one, and never be woken twice for one park.
TEST(SpscQueueOpt, ParkedConsumerIsWokenByPush) {
    struct Waker {
        std::mutex mutex;
        std::condition_variable cv;
        bool signalled = false;
        std::atomic<int> calls{0};
    } waker;
    auto queue = std::make_unique<SPSCQueueOpt<uint64_t, 64>>();
    queue->SetWakeHook(
        [](void* ctx) {
            auto* w = static_cast<Waker*>(ctx);
            w->calls.fetch_add(1);
            std::lock_guard<std::mutex> lock(w->mutex);
            w->signalled = true;
            w->cv.notify_one();
        },
        &waker);

    constexpr uint64_t kItems = 20000;
    std::atomic<int> parks{0};
    std::atomic<int> attempts{0};
    std::thread consumer([&] {
        uint64_t expected = 0;
        while (expected < kItems) {
            if (uint64_t* item = queue->front()) {
                EXPECT_EQ(*item, expected);
                ++expected;
                queue->pop();
                continue;
            }
            const bool park = queue->PrepareToPark();
            attempts.fetch_add(1);
            if (!park) {
                continue;
            }
            parks.fetch_add(1);
            std::unique_lock<std::mutex> lock(waker.mutex);
            // No timeout: a lost wake-up would hang the test.
            waker.cv.wait(lock, [&] { return waker.signalled; });
            waker.signalled = false;
        }
    });
    for (uint64_t i = 0; i < kItems; ++i) {
        uint64_t* slot;
        while ((slot = queue->alloc()) == nullptr) {
            std::this_thread::yield();
        }
        *slot = i;
        queue->push();
        if (i % 100 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    consumer.join();
    // A push may wake a park attempt that then found the item itself: a
    // spurious wake-up, never more than one per attempt.
    EXPECT_LE(waker.calls.load(), attempts.load());
    EXPECT_GT(parks.load(), 0);
}

TEST(SpscQueueOpt, PrepareToParkRefusesWhenAnItemWaits) {
    SPSCQueueOpt<uint32_t, 4> queue;
    int calls = 0;
    queue.SetWakeHook([](void* ctx) { ++*static_cast<int*>(ctx); }, &calls);
    *queue.alloc() = 1;
    queue.push();
    EXPECT_EQ(calls, 0);  // nobody parked: no wake-up
    EXPECT_FALSE(queue.PrepareToPark());
    queue.pop();
    EXPECT_TRUE(queue.PrepareToPark());
    *queue.alloc() = 2;
    queue.push();
    *queue.alloc() = 3;
    queue.push();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(queue.front() != nullptr);
    queue.pop();
    queue.pop();
    EXPECT_TRUE(queue.PrepareToPark());
    queue.CancelPark();
    *queue.alloc() = 4;
    queue.push();
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace com::mivo::kmr::client
