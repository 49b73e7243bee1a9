#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <system_error>
#include <thread>

#include "pipeline/blocking_queue.h"
#include "pipeline/thread_pool.h"
#include "pipeline_test_kit.h"

namespace com::mivo::kmr::client {
namespace {

using pipeline_test::MakeStock;
using pipeline_test::RecordingHandle;

using com::mivo::zel::model::MarketData;

// Records left in queues are checked for leaks by the sanitizer builds.

TEST(BlockingQueueTest, KeepsOrderAndGrowsBeyondItsReservation) {
    BlockingReaderWriterQueue<int> queue(1024);
    for (int i = 0; i < 5000; ++i) {
        ASSERT_TRUE(queue.Put(i));
    }
    EXPECT_EQ(queue.SizeApprox(), 5000u);
    int value = -1;
    for (int i = 0; i < 5000; ++i) {
        ASSERT_TRUE(queue.TryTake(value));
        ASSERT_EQ(value, i);
    }
    EXPECT_FALSE(queue.TryTake(value));
    EXPECT_FALSE(queue.WaitTake(value, 1000));
}

TEST(BlockingQueueTest, WaitTakeWakesOnPut) {
    BlockingReaderWriterQueue<int> queue;
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        queue.Put(42);
    });
    int value = 0;
    EXPECT_TRUE(queue.WaitTake(value, -1));
    EXPECT_EQ(value, 42);
    producer.join();
}

TEST(ThreadPoolTest, PoolOfThreeStartsIdleWithIndexedRunningWorkers) {
    RecordingHandle handle;
    CThreadPool pool;
    EXPECT_EQ(pool.Create(3, &handle), 0);
    ASSERT_EQ(pool.m_threads.size(), 3u);
    std::set<std::thread::id> ids;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pool.m_threads[i]->m_index, i);
        EXPECT_TRUE(pool.m_threads[i]->m_running.load());
        EXPECT_EQ(pool.m_threads[i]->m_message_handle, &handle);
        ids.insert(pool.m_threads[i]->GetThreadId());
    }
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids.count(std::thread::id()), 0u);
    // Idle long enough to park; nothing is delivered meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(handle.Deliveries().empty());
}

TEST(ThreadPoolTest, EmptyPoolStartsNoThread) {
    CThreadPool pool;
    EXPECT_EQ(pool.Create(0, nullptr), 0);
    EXPECT_TRUE(pool.m_threads.empty());
}

TEST(ThreadPoolTest, RecordIsDeliveredOnceOnItsWorkerAndReturned) {
    RecordingHandle handle;
    CThreadPool pool;
    pool.Create(3, &handle);
    auto* record = new MarketData(MakeStock(1, 77));
    ASSERT_TRUE(pool.m_threads[1]->m_inbound_queue.Put(record));
    ASSERT_TRUE(handle.WaitFor(1));
    MarketData* back = nullptr;
    while (!pool.m_threads[1]->m_return_queue.TryTake(back)) {
        std::this_thread::yield();
    }
    EXPECT_EQ(back, record);
    auto deliveries = handle.Deliveries();
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].thread, pool.m_threads[1]->GetThreadId());
    EXPECT_EQ(deliveries[0].sequence, 77);
    delete back;
}

TEST(ThreadPoolTest, ParkedWorkerWakesForLaterRecords) {
    RecordingHandle handle;
    CThreadPool pool;
    pool.Create(1, &handle);
    for (int round = 1; round <= 3; ++round) {
        // Long enough for the worker to stop polling and block.
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        pool.m_threads[0]->m_inbound_queue.Put(new MarketData(MakeStock(0, round)));
        ASSERT_TRUE(handle.WaitFor(round));
    }
}

// A handler that holds worker 0 until released; the others go on.
class BlockingHandle : public RecordingHandle {
public:
    void OnMarketData(const MarketData& data) override {
        if (data.zelmessagechannel() == 0) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [&] { return m_released; });
        }
        RecordingHandle::OnMarketData(data);
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_released = false;
};

TEST(ThreadPoolTest, BlockedWorkerQueuesBeyondReservationWhileOthersDeliver) {
    BlockingHandle handle;
    {
        CThreadPool pool;
        pool.Create(3, &handle);
        const int queued = 262144 + 4000;
        for (int i = 0; i < queued; ++i) {
            ASSERT_TRUE(pool.m_threads[0]->m_inbound_queue.Put(new MarketData()));
        }
        for (int i = 1; i <= 100; ++i) {
            auto* record = new MarketData();
            record->set_zelmessagechannel(1 + i % 2);
            record->mutable_zelstock()->set_numtrades(i);
            pool.m_threads[1 + i % 2]->m_inbound_queue.Put(record);
        }
        ASSERT_TRUE(handle.WaitFor(100));
        EXPECT_GE(pool.m_threads[0]->m_inbound_queue.SizeApprox(), static_cast<size_t>(queued - 1));
        handle.Release();
        // Destroying the pool destroys what is still queued, undelivered.
    }
}

TEST(ThreadPoolTest, DestroyingThePoolDestroysQueuedRecordsUndelivered) {
    BlockingHandle handle;
    {
        CThreadPool pool;
        pool.Create(2, &handle);
        auto* first = new MarketData();  // channel 0: blocks worker 0
        pool.m_threads[0]->m_inbound_queue.Put(first);
        for (int i = 0; i < 10; ++i) {
            pool.m_threads[0]->m_inbound_queue.Put(new MarketData());
        }
        // Returned records not yet reclaimed are destroyed as well.
        pool.m_threads[1]->m_return_queue.Put(new MarketData());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            handle.Release();
        });
        pool.m_threads[0]->Stop();  // waits for the callback in progress
        releaser.join();
        EXPECT_LE(handle.Deliveries().size(), 1u);
    }
}

TEST(ThreadPoolTest, WorkerWithoutHandlerLogsDestroysAndEnds) {
    LogCapture log;
    CThreadPool pool;
    pool.Create(1, nullptr);
    pool.m_threads[0]->m_inbound_queue.Put(new MarketData());
    ASSERT_TRUE(pipeline_test::WaitUntil([&] { return log.Count("Callback handle is nullptr.") == 1; }));
    // Later records stay queued until Stop destroys them.
    pool.m_threads[0]->m_inbound_queue.Put(new MarketData());
    pool.m_threads[0]->Stop();
}

TEST(ThreadPoolTest, StopFromTheWorkerItselfIsADeadlockError) {
    class SelfStopper : public MessageHandle {
    public:
        void OnMarketData(const MarketData&) override {
            try {
                m_worker->Stop();
            } catch (const std::system_error& e) {
                m_code = e.code();
            }
            m_done = true;
        }
        CWorkerThread* m_worker = nullptr;
        std::error_code m_code;
        std::atomic<bool> m_done{false};
    } handle;
    CThreadPool pool;
    pool.Create(1, &handle);
    handle.m_worker = pool.m_threads[0].get();
    pool.m_threads[0]->m_inbound_queue.Put(new MarketData());
    while (!handle.m_done) {
        std::this_thread::yield();
    }
    EXPECT_EQ(handle.m_code, std::errc::resource_deadlock_would_occur);
}

}  // namespace
}  // namespace com::mivo::kmr::client
