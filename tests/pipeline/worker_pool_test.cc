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

using pipeline_test::MakeBatch;
using pipeline_test::MakeStock;
using pipeline_test::RecordingHandle;

using com::mivo::zel::model::MarketData;

// Batches left in queues are checked for leaks by the sanitizer builds, and
// their buffers by the flow's count of outstanding buffers.
class WorkerPoolTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(m_flow.OutstandingBuffers(), 0);
        EXPECT_EQ(m_flow.HeldBytes(), 0);
    }
    RecordBatch* Batch(std::vector<MarketData> records) { return MakeBatch(m_flow, records); }

    SiteFlow m_flow{1, 64 << 20};
};

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

TEST_F(WorkerPoolTest, BatchIsDeliveredInOrderOnItsWorkerAndReturned) {
    RecordingHandle handle;
    CThreadPool pool;
    pool.Create(3, &handle);
    RecordBatch* batch = Batch({MakeStock(1, 77), MakeStock(1, 78, true), MakeStock(1, 79)});
    ASSERT_TRUE(pool.m_threads[1]->m_inbound_queue.Put(batch));
    ASSERT_TRUE(handle.WaitFor(3));
    RecordBatch* back = nullptr;
    while (!pool.m_threads[1]->m_return_queue.TryTake(back)) {
        std::this_thread::yield();
    }
    EXPECT_EQ(back, batch);
    // The buffer went back when the batch was done; the batch keeps its slices for reuse.
    EXPECT_EQ(back->m_buffer, nullptr);
    EXPECT_EQ(m_flow.OutstandingBuffers(), 0);
    auto deliveries = handle.Deliveries();
    ASSERT_EQ(deliveries.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(deliveries[i].thread, pool.m_threads[1]->GetThreadId());
        EXPECT_EQ(deliveries[i].sequence, 77 + i);
    }
    EXPECT_TRUE(deliveries[1].md_family);
    EXPECT_FALSE(deliveries[2].md_family);
    delete back;
}

TEST_F(WorkerPoolTest, ParkedWorkerWakesForLaterBatches) {
    RecordingHandle handle;
    CThreadPool pool;
    pool.Create(1, &handle);
    for (int round = 1; round <= 3; ++round) {
        // Long enough for the worker to stop polling and block.
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        pool.m_threads[0]->m_inbound_queue.Put(Batch({MakeStock(0, round)}));
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

TEST_F(WorkerPoolTest, BlockedWorkerQueuesBeyondReservationWhileOthersDeliver) {
    BlockingHandle handle;
    {
        CThreadPool pool;
        pool.Create(3, &handle);
        const int queued = 262144 + 4000;
        // Every batch of the blocked worker shares one buffer.
        RecordBatch* first = Batch({MakeStock(0, 1)});
        PayloadBuffer* shared = first->m_buffer;
        shared->AddRefs(queued - 1);
        ASSERT_TRUE(pool.m_threads[0]->m_inbound_queue.Put(first));
        for (int i = 1; i < queued; ++i) {
            auto* batch = new RecordBatch(*first);
            ASSERT_TRUE(pool.m_threads[0]->m_inbound_queue.Put(batch));
        }
        for (int i = 1; i <= 100; ++i) {
            pool.m_threads[1 + i % 2]->m_inbound_queue.Put(Batch({MakeStock(1 + i % 2, i)}));
        }
        ASSERT_TRUE(handle.WaitFor(100));
        EXPECT_GE(pool.m_threads[0]->m_inbound_queue.SizeApprox(), static_cast<size_t>(queued - 1));
        handle.Release();
        // Destroying the pool destroys what is still queued, undelivered.
    }
}

TEST_F(WorkerPoolTest, DestroyingThePoolReleasesQueuedBatchesUndelivered) {
    BlockingHandle handle;
    {
        CThreadPool pool;
        pool.Create(2, &handle);
        // channel 0: blocks worker 0
        pool.m_threads[0]->m_inbound_queue.Put(Batch({MakeStock(0, 1), MakeStock(0, 2)}));
        for (int i = 0; i < 10; ++i) {
            pool.m_threads[0]->m_inbound_queue.Put(Batch({MakeStock(0, 3 + i)}));
        }
        // Returned batches not yet reclaimed are released as well.
        pool.m_threads[1]->m_return_queue.Put(Batch({}));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            handle.Release();
        });
        pool.m_threads[0]->Stop();  // waits for the callback in progress
        releaser.join();
        EXPECT_LE(handle.Deliveries().size(), 2u);
    }
}

TEST_F(WorkerPoolTest, WorkerWithoutHandlerLogsReleasesAndEnds) {
    LogCapture log;
    CThreadPool pool;
    pool.Create(1, nullptr);
    pool.m_threads[0]->m_inbound_queue.Put(Batch({MakeStock(0, 1)}));
    ASSERT_TRUE(pipeline_test::WaitUntil([&] { return log.Count("Callback handle is nullptr.") == 1; }));
    // Later batches stay queued until Stop releases them.
    pool.m_threads[0]->m_inbound_queue.Put(Batch({MakeStock(0, 2)}));
    pool.m_threads[0]->Stop();
}

TEST_F(WorkerPoolTest, StopFromTheWorkerItselfIsADeadlockError) {
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
    pool.m_threads[0]->m_inbound_queue.Put(Batch({MakeStock(0, 1)}));
    while (!handle.m_done) {
        std::this_thread::yield();
    }
    EXPECT_EQ(handle.m_code, std::errc::resource_deadlock_would_occur);
}

}  // namespace
}  // namespace com::mivo::kmr::client
